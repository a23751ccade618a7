// zel-cli mail as separate processes: accounts, import, receive; a receive killed while the server
// stalls on DELE, and two receives at once, lose and duplicate nothing.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "mail/ScriptedPop3.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "store/Catalogue.h"
#include "store/KnowledgeBase.h"

using namespace zel;
using zel::test::ScriptedPop3;

namespace {

QByteArray message(const QByteArray& subject) {
    return "From: s@example.org\r\nSubject: " + subject + "\r\n\r\nbody of " + subject + "\r\n";
}

class MailCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        setHomeFolder(home_.path());
        Catalogue catalogue;
        catalogue.LoadCatalogue(catalogueFilePath());
        const CatalogueEntry e = CatalogueEntry::make(0, QStringLiteral("kb"), home_.path() + QStringLiteral("/data/"),
                                                      QStringLiteral("kb.skm"), QString(), QString());
        QString error;
        ASSERT_TRUE(NewKnowledgeBase(catalogue, e, QStringLiteral("admin"), QStringLiteral("pw"), &error))
            << error.toStdString();
        ASSERT_TRUE(db_.open(BuildConnectionString(e)));
    }
    QProcess* start(const QStringList& args) {
        auto* p = new QProcess;
        p->setProgram(QStringLiteral(ZEL_CLI_PATH));
        p->setArguments(QStringList{QStringLiteral("--home"), home_.path(), QStringLiteral("-k"), QStringLiteral("kb"),
                                    QStringLiteral("-u"), QStringLiteral("admin"), QStringLiteral("-p"),
                                    QStringLiteral("pw"), QStringLiteral("mail")} +
                        args);
        p->start();
        return p;
    }
    QByteArray run(const QStringList& args, int* status = nullptr, QByteArray* err = nullptr) {
        std::unique_ptr<QProcess> p(start(args));
        p->waitForFinished(120000);
        if (status) *status = p->exitCode();
        if (err) *err = p->readAllStandardError();
        return p->readAllStandardOutput();
    }
    QString addAccount(const QString& name, int port, const QStringList& extra = {}) {
        int status = -1;
        QByteArray err;
        const QByteArray out =
            run(QStringList{QStringLiteral("account"), QStringLiteral("add"), name, QStringLiteral("--address"),
                            QStringLiteral("a@example.org"), QStringLiteral("--pop3"),
                            QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--user"), QStringLiteral("alice"),
                            QStringLiteral("--password"), QStringLiteral("secret"), QStringLiteral("--smtp"),
                            QStringLiteral("127.0.0.1")} +
                    extra,
                &status, &err);
        EXPECT_EQ(status, 0) << err.toStdString();
        for (const QByteArray& line : out.split('\n'))
            if (line.startsWith("folder\t")) return QString::fromUtf8(line.mid(7));
        return {};
    }
    int count(const QString& sql) { return db_.scalar(sql).toInt(); }
    int documents(const QString& folder) {
        return db_
            .scalar(QStringLiteral("select count(*) from info where parentnode=:p"),
                    {{QStringLiteral(":p"), folder.toLongLong()}})
            .toInt();
    }

    QTemporaryDir home_;
    Database db_;
};

bool containsLine(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const auto& l : lines)
        if (l.rfind(prefix, 0) == 0) return true;
    return false;
}

} // namespace

TEST_F(MailCliTest, AccountsImportAndErrorRows) {
    const QString folder = addAccount(QStringLiteral("Work"), 1100, {QStringLiteral("--tls"), QStringLiteral("none")});
    ASSERT_FALSE(folder.isEmpty());
    int status = -1;
    const QJsonArray list =
        QJsonDocument::fromJson(
            run({QStringLiteral("account"), QStringLiteral("list"), QStringLiteral("--json")}, &status))
            .array();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].toObject().value(QStringLiteral("tls")).toString(), QStringLiteral("none"));
    EXPECT_EQ(list[0].toObject().value(QStringLiteral("pop3")).toString(), QStringLiteral("127.0.0.1:1100"));
    // A taken name is refused; set changes fields; remove leaves the folder.
    run({QStringLiteral("account"), QStringLiteral("add"), QStringLiteral("Work"), QStringLiteral("--address"),
         QStringLiteral("x@y"), QStringLiteral("--pop3"), QStringLiteral("h")},
        &status);
    EXPECT_EQ(status, 1);
    run({QStringLiteral("account"), QStringLiteral("set"), QStringLiteral("Work"), QStringLiteral("--keep-on-server")},
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(db_.scalar(QStringLiteral("select backupmail from mailinfo")).toString(), QStringLiteral("Y"));

    // Import: one row per file; an unreadable file is an ERROR row and exit status 1.
    QTemporaryDir files;
    QFile f(files.path() + QStringLiteral("/one.eml"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(message("imported"));
    f.close();
    const QByteArray out = run({QStringLiteral("import"), f.fileName(), files.path() + QStringLiteral("/missing.eml"),
                                QStringLiteral("--folder"), folder},
                               &status);
    EXPECT_EQ(status, 1);
    const QList<QByteArray> rows = out.trimmed().split('\n');
    ASSERT_EQ(rows.size(), 2);
    EXPECT_TRUE(rows[0].contains("\tOK\t"));
    EXPECT_TRUE(rows[1].contains("\tERROR\t"));
    EXPECT_EQ(db_.scalar(QStringLiteral("select mailtype from info where caption='imported'")).toString(),
              QStringLiteral("E"));

    run({QStringLiteral("account"), QStringLiteral("remove"), QStringLiteral("Work")}, &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(count(QStringLiteral("select count(*) from mailinfo")), 0);
    EXPECT_EQ(documents(folder), 1);

    // A receive that fails is an ERROR row and exit status 1.
    addAccount(QStringLiteral("Nobody"), 1, {QStringLiteral("--tls"), QStringLiteral("none")});
    const QByteArray r = run({QStringLiteral("receive"), QStringLiteral("--timeout"), QStringLiteral("2")}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(r.startsWith("Nobody\tERROR\t")) << r.toStdString();
}

TEST_F(MailCliTest, KilledWhileTheServerStallsOnDeleLosesAndDuplicatesNothing) {
    ScriptedPop3 server;
    server.stallOn = "DELE";
    server.setMessages({{"k1", message("survivor")}, {"k2", message("second")}});
    const QString folder =
        addAccount(QStringLiteral("K"), server.port(),
                   {QStringLiteral("--tls"), QStringLiteral("none"), QStringLiteral("--allow-plain")});
    std::unique_ptr<QProcess> p(start({QStringLiteral("receive")}));
    ASSERT_TRUE(server.waitForLine("DELE 2", 20000));
    p->kill(); // SIGKILL
    p->waitForFinished(10000);
    // Committed before DELE: in the spool or already a document.
    EXPECT_EQ(count(QStringLiteral("select count(*) from zel_mailspool")) + documents(folder), 1);
    EXPECT_EQ(server.messages().size(), 2);

    int status = -1;
    const QByteArray out = run({QStringLiteral("receive")}, &status);
    EXPECT_EQ(status, 0) << out.toStdString();
    EXPECT_EQ(documents(folder), 2);
    EXPECT_EQ(count(QStringLiteral("select count(*) from zel_mailspool")), 0);
    EXPECT_EQ(server.messages().size(), 0);
    const auto sessions = server.sessions();
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_FALSE(containsLine(sessions[1], "RETR 2"));
    EXPECT_TRUE(containsLine(sessions[1], "DELE 2"));
    EXPECT_EQ(count(QStringLiteral("select count(*) from info where caption='survivor'")), 1);
}

TEST_F(MailCliTest, TwoReceivesAtOnceImportEachMessageOnce) {
    if (qEnvironmentVariable("ZEL_TEST_POP3_PORT").isEmpty()) {
        if (!qEnvironmentVariable("CI").isEmpty()) FAIL() << "the POP3 test server is not running under CI";
        GTEST_SKIP() << "no POP3 test server";
    }
    // A mailbox of its own (bob), so that other tests' messages do not mix in.
    const QString maildir = qEnvironmentVariable("ZEL_TEST_MAILDIR") + QStringLiteral("/bob/Maildir");
    for (const char* sub : {"/new", "/cur"}) {
        QDir d(maildir + QString::fromUtf8(sub));
        for (const QString& f : d.entryList(QDir::Files))
            d.remove(f);
    }
    const int n = 12;
    for (int i = 0; i < n; ++i) {
        QFile f(maildir + QStringLiteral("/new/%1.twice").arg(i));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(message("parallel " + QByteArray::number(i)));
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                         QFileDevice::WriteOther);
    }
    const QString folder = addAccount(QStringLiteral("Bob"), qEnvironmentVariable("ZEL_TEST_POP3_PORT").toInt(),
                                      {QStringLiteral("--ca-file"), qEnvironmentVariable("ZEL_TEST_MAIL_CA")});
    ASSERT_EQ(db_.exec(QStringLiteral("update mailinfo set popaccount='bob'")), true);
    std::unique_ptr<QProcess> a(start({QStringLiteral("receive")}));
    std::unique_ptr<QProcess> b(start({QStringLiteral("receive")}));
    ASSERT_TRUE(a->waitForFinished(120000));
    ASSERT_TRUE(b->waitForFinished(120000));
    EXPECT_EQ(a->exitCode(), 0) << a->readAllStandardOutput().toStdString();
    EXPECT_EQ(b->exitCode(), 0) << b->readAllStandardOutput().toStdString();
    EXPECT_EQ(documents(folder), n);
    EXPECT_EQ(count(QStringLiteral("select count(*) from zel_mailspool")), 0);
    EXPECT_EQ(QDir(maildir + QStringLiteral("/new")).entryList(QDir::Files).size() +
                  QDir(maildir + QStringLiteral("/cur")).entryList(QDir::Files).size(),
              0);
}
