// zel-cli end to end: knowledge bases, login, info and users, on both databases.
#include <gtest/gtest.h>

#include "support/TestKb.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

using namespace zel;

namespace {

struct CliRun {
    int status = -1;
    QString out, err;
};

class CliTest : public ::testing::TestWithParam<Dialect> {
protected:
    void SetUp() override {
        if (GetParam() == Dialect::Postgres && !test::postgresAvailable()) {
            if (!qEnvironmentVariable("CI").isEmpty()) FAIL() << "ZEL_TEST_PG is not set under CI";
            GTEST_SKIP() << "no PostgreSQL test server";
        }
        if (GetParam() == Dialect::Postgres)
            dbName_ = QStringLiteral("zel_cli_%1").arg(QCoreApplication::applicationPid());
    }
    void TearDown() override {
        if (!dbName_.isEmpty()) test::ScratchDb::dropServerDatabase(dbName_);
    }
    CliRun cli(const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(ZEL_CLI_PATH), QStringList{QStringLiteral("--home"), home_.path()} + args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    QStringList session(const QString& code, const QString& pw) {
        return {
            QStringLiteral("-k"), QStringLiteral("KB \u00E9"), QStringLiteral("-u"), code, QStringLiteral("-p"), pw};
    }
    CliRun createKb() {
        if (GetParam() == Dialect::Sqlite)
            return cli({QStringLiteral("kb"), QStringLiteral("new"), QStringLiteral("KB \u00E9"),
                        QStringLiteral("--folder"), home_.path() + QStringLiteral("/kbs \u00FC"),
                        QStringLiteral("--file"), QStringLiteral("notes"), QStringLiteral("--admin"),
                        QStringLiteral("boss"), QStringLiteral("--admin-password"), QStringLiteral("S3cret")});
        return cli({QStringLiteral("kb"), QStringLiteral("new"), QStringLiteral("KB \u00E9"),
                    QStringLiteral("--server"), test::postgresServer(), QStringLiteral("--database"), dbName_,
                    QStringLiteral("--db-user"), test::postgresUser(), QStringLiteral("--admin"),
                    QStringLiteral("boss"), QStringLiteral("--admin-password"), QStringLiteral("S3cret")});
    }
    QTemporaryDir home_;
    QString dbName_;
};

} // namespace

TEST_P(CliTest, KnowledgeBaseLifecycle) {
    CliRun r = createKb();
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    if (GetParam() == Dialect::Sqlite) {
        EXPECT_TRUE(QFile::exists(home_.path() + QStringLiteral("/kbs \u00FC/notes.skm")));
    }

    r = cli({QStringLiteral("kb"), QStringLiteral("list"), QStringLiteral("--json")});
    ASSERT_EQ(r.status, 0);
    const QJsonArray arr = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(arr.size(), 1);
    EXPECT_EQ(arr[0].toObject()[QStringLiteral("name")].toString(), QStringLiteral("KB \u00E9"));
    EXPECT_EQ(arr[0].toObject()[QStringLiteral("type")].toString(),
              GetParam() == Dialect::Sqlite ? QStringLiteral("0") : QStringLiteral("1"));

    r = createKb(); // the name is taken
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.isEmpty());

    r = cli(session(QStringLiteral("boss"), QStringLiteral("S3cret")) + QStringList{QStringLiteral("info")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("version\t1011\n")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("nodes\t2\n"))); // the outbox and sent folders
    EXPECT_TRUE(r.out.contains(QStringLiteral("folders\t0\n")));

    r = cli(session(QStringLiteral("boss"), QStringLiteral("s3cret")) + QStringList{QStringLiteral("info")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral(" password Error"))) << r.err.toStdString();
    r = cli(session(QStringLiteral("nobody"), QStringLiteral("x")) + QStringList{QStringLiteral("info")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral(" is not a valid user")));

    r = cli({QStringLiteral("kb"), QStringLiteral("remove"), QStringLiteral("KB \u00E9")});
    ASSERT_EQ(r.status, 0);
    r = cli({QStringLiteral("kb"), QStringLiteral("list")});
    EXPECT_TRUE(r.out.isEmpty());
}

TEST_P(CliTest, UserCommands) {
    ASSERT_EQ(createKb().status, 0);
    const QStringList admin = session(QStringLiteral("boss"), QStringLiteral("S3cret"));
    CliRun r = cli(admin + QStringList{QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("bob"),
                                       QStringLiteral("--name"), QStringLiteral("Bob B"), QStringLiteral("--password"),
                                       QStringLiteral("pw")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    r = cli(admin + QStringList{QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("BOB"),
                                QStringLiteral("--password"), QStringLiteral("x")});
    EXPECT_EQ(r.status, 1); // codes clash without regard to case

    r = cli(admin + QStringList{QStringLiteral("user"), QStringLiteral("list")});
    ASSERT_EQ(r.status, 0);
    const QStringList rows = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].split(u'\t').mid(1),
              (QStringList{QStringLiteral("boss"), QStringLiteral("Administrator"),
                           QStringLiteral("management knowledge base user"), QStringLiteral("Y")}));
    EXPECT_EQ(rows[1].split(u'\t').mid(1),
              (QStringList{QStringLiteral("bob"), QStringLiteral("Bob B"), QString(), QStringLiteral("N")}));

    const QStringList bob = session(QStringLiteral("bob"), QStringLiteral("pw"));
    r = cli(bob + QStringList{QStringLiteral("user"), QStringLiteral("remove"), QStringLiteral("boss")});
    EXPECT_EQ(r.status, 1); // not an administrator
    r = cli(bob + QStringList{QStringLiteral("user"), QStringLiteral("passwd"), QStringLiteral("bob"),
                              QStringLiteral("new")});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(cli(bob + QStringList{QStringLiteral("info")}).status, 1);
    r = cli(admin + QStringList{QStringLiteral("user"), QStringLiteral("remove"), QStringLiteral("boss")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Can't delete the Administor")));
    r = cli(admin + QStringList{QStringLiteral("user"), QStringLiteral("remove"), QStringLiteral("bob")});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(cli(session(QStringLiteral("bob"), QStringLiteral("new")) + QStringList{QStringLiteral("info")}).status,
              1);
}

TEST(CliUsage, BadUsageExitsWithTwo) {
    QTemporaryDir home;
    for (const QStringList& args :
         {QStringList{}, QStringList{QStringLiteral("frobnicate")},
          QStringList{QStringLiteral("kb"), QStringLiteral("new")}, QStringList{QStringLiteral("info")}}) {
        QProcess p;
        p.start(QStringLiteral(ZEL_CLI_PATH), QStringList{QStringLiteral("--home"), home.path()} + args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 2) << args.join(u' ').toStdString();
        EXPECT_FALSE(p.readAllStandardError().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Db, CliTest, ::testing::Values(Dialect::Sqlite, Dialect::Postgres), test::dialectName);
