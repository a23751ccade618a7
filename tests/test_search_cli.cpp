// zel-cli search: the same engine behind the command line.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/Database.h"
#include "platform/Paths.h"
#include "store/Catalogue.h"
#include "store/KnowledgeBase.h"
#include "store/Users.h"
#include "support/SearchSupport.h"

using namespace zel;
using namespace zel::test;

namespace {

class SearchCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        cli_ = QStringLiteral(ZEL_CLI_PATH);
        setHomeFolder(home_.path());
        Catalogue catalogue;
        catalogue.LoadCatalogue(catalogueFilePath());
        const CatalogueEntry e = CatalogueEntry::make(0, QStringLiteral("kb"), home_.path() + QStringLiteral("/data/"),
                                                      QStringLiteral("kb.skm"), QString(), QString());
        QString error;
        ASSERT_TRUE(NewKnowledgeBase(catalogue, e, QStringLiteral("admin"), QStringLiteral("pw"), &error))
            << error.toStdString();
        ASSERT_TRUE(db_.open(BuildConnectionString(e)));
        CurrentUser().name = QStringLiteral("admin");
    }
    QByteArray run(const QStringList& args, int* status = nullptr) {
        QProcess p;
        p.start(cli_, QStringList{QStringLiteral("--home"), home_.path(), QStringLiteral("-k"), QStringLiteral("kb"),
                                  QStringLiteral("-u"), QStringLiteral("admin"), QStringLiteral("-p"),
                                  QStringLiteral("pw"), QStringLiteral("search")} +
                          args);
        p.waitForFinished(60000);
        if (status) *status = p.exitCode();
        return p.readAllStandardOutput();
    }
    QTemporaryDir home_;
    QString cli_;
    Database db_;
};

TEST_F(SearchCliTest, PrintsResultsInOrderAsRowsJsonOrPages) {
    const qint64 folder = AddNode(db_, 0, QStringLiteral("Notes"), QStringLiteral("<p>none</p>"));
    const qint64 a = AddNode(db_, folder, QStringLiteral("<b>Tea</b>"), QStringLiteral("<p>green tea leaves</p>"));
    const qint64 b = AddNode(db_, 0, QStringLiteral("Coffee"), QStringLiteral("<p>no TEA here? yes tea</p>"));

    int status = -1;
    EXPECT_EQ(QString::fromUtf8(run({QStringLiteral("--content"), QStringLiteral("tea")}, &status)),
              QStringLiteral("1\t%1\t<b>Tea</b>\t/Notes/\n2\t%2\tCoffee\t/\n").arg(a).arg(b));
    EXPECT_EQ(status, 0);

    const QJsonArray arr = QJsonDocument::fromJson(run({QStringLiteral("--json"), QStringLiteral("--case"),
                                                        QStringLiteral("--content"), QStringLiteral("TEA")}))
                               .array();
    ASSERT_EQ(arr.size(), 1);
    const QJsonObject o = arr[0].toObject();
    EXPECT_EQ(o.keys(), (QStringList{QStringLiteral("caption"), QStringLiteral("fullname"), QStringLiteral("id"),
                                     QStringLiteral("number")}));
    EXPECT_EQ(o.value(QStringLiteral("id")).toString(), QString::number(b));

    // Without content, the subtree of Notes, and a creation range that holds today.
    const QString today = QDate::currentDate().toString(Qt::ISODate);
    EXPECT_EQ(
        QString::fromUtf8(run({QStringLiteral("--subtree"), QString::number(folder), QStringLiteral("--created"), today,
                               today, QStringLiteral("--owner"), QStringLiteral("ADM"), QStringLiteral("tea")})),
        QStringLiteral("1\t%1\t<b>Tea</b>\t/Notes/\n").arg(a));

    const QString html = QString::fromUtf8(run({QStringLiteral("--html"), QStringLiteral("tea")}));
    EXPECT_TRUE(
        html.startsWith(QStringLiteral("<div><h4><a href=\"link://document/%1\">1: &lt;b&gt;Tea&lt;/b&gt;</a>").arg(a)))
        << html.toStdString();

    run({QStringLiteral("--created"), QStringLiteral("2024-13-01"), QStringLiteral("2024-01-01"), QStringLiteral("x")},
        &status);
    EXPECT_EQ(status, 2);
    run({QStringLiteral("  ")}, &status);
    EXPECT_EQ(status, 2);
}

} // namespace
