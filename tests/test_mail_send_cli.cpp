// zel-cli mail outbox, send and run --send-only as separate processes against the test servers, on
// both databases; two sending processes at once send every message once.
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

#include "support/MailFakes.h"
#include "support/TestKb.h"

using namespace zel;
using namespace zel::test;

namespace {

struct CliRun {
    int status = -1;
    QString out, err;
};

class MailSendCli : public ::testing::TestWithParam<Dialect> {
protected:
    void SetUp() override {
        if (GetParam() == Dialect::Postgres && !postgresAvailable()) {
            if (!qEnvironmentVariable("CI").isEmpty()) FAIL() << "ZEL_TEST_PG is not set under CI";
            GTEST_SKIP() << "no PostgreSQL test server";
        }
        if (GetParam() == Dialect::Postgres)
            dbName_ = QStringLiteral("zel_mailsend_%1").arg(QCoreApplication::applicationPid());
        const QStringList kb =
            GetParam() == Dialect::Sqlite
                ? QStringList{QStringLiteral("--folder"), home_.path() + QStringLiteral("/kbs"),
                              QStringLiteral("--file"), QStringLiteral("notes")}
                : QStringList{QStringLiteral("--server"),  postgresServer(), QStringLiteral("--database"), dbName_,
                              QStringLiteral("--db-user"), postgresUser()};
        const CliRun r = cli(QStringList{QStringLiteral("kb"), QStringLiteral("new"), QStringLiteral("kb")} + kb +
                                 QStringList{QStringLiteral("--admin"), QStringLiteral("admin")},
                             false);
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
    }
    void TearDown() override {
        if (!dbName_.isEmpty()) ScratchDb::dropServerDatabase(dbName_);
    }

    QProcess* start(const QStringList& args, const QHash<QString, QString>& env = {}) {
        auto* p = new QProcess;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (auto it = env.begin(); it != env.end(); ++it)
            e.insert(it.key(), it.value());
        p->setProcessEnvironment(e);
        p->start(QStringLiteral(ZEL_CLI_PATH),
                 QStringList{QStringLiteral("--home"), home_.path(), QStringLiteral("-k"), QStringLiteral("kb"),
                             QStringLiteral("-u"), QStringLiteral("admin"), QStringLiteral("-p"), QString()} +
                     args);
        return p;
    }
    static CliRun finish(QProcess* p) {
        EXPECT_TRUE(p->waitForFinished(120000));
        return {p->exitCode(), QString::fromUtf8(p->readAllStandardOutput()).trimmed(),
                QString::fromUtf8(p->readAllStandardError()).trimmed()};
    }
    CliRun cli(const QStringList& args, bool session = true, const QHash<QString, QString>& env = {}) {
        if (!session) {
            QProcess p;
            p.start(QStringLiteral(ZEL_CLI_PATH), QStringList{QStringLiteral("--home"), home_.path()} + args);
            return finish(&p);
        }
        std::unique_ptr<QProcess> p(start(args, env));
        return finish(p.get());
    }
    QString ok(const QStringList& args, const QHash<QString, QString>& env = {}) {
        const CliRun r = cli(args, true, env);
        EXPECT_EQ(r.status, 0) << args.join(u' ').toStdString() << ": " << r.err.toStdString() << r.out.toStdString();
        return r.out;
    }
    QString document(const QString& caption, const QByteArray& html) {
        const QString path = home_.path() + u'/' + caption + QStringLiteral(".html");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(html);
        f.close();
        return ok({QStringLiteral("node"), QStringLiteral("add"), QStringLiteral("0"), caption,
                   QStringLiteral("--content"), path});
    }
    QString queue(const QString& node, const QStringList& extra) {
        return ok(QStringList{QStringLiteral("mail"), QStringLiteral("outbox"), QStringLiteral("add"), node,
                              QStringLiteral("--account"), QStringLiteral("work")} +
                  extra);
    }
    int outboxSize() {
        const QJsonArray rows =
            QJsonDocument::fromJson(
                ok({QStringLiteral("--json"), QStringLiteral("mail"), QStringLiteral("outbox")}).toUtf8())
                .array();
        return int(rows.size());
    }

    QTemporaryDir home_;
    QString dbName_;
};

TEST_P(MailSendCli, OutboxSendAndDirectDelivery) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    ok({QStringLiteral("mail"), QStringLiteral("account"), QStringLiteral("add"), QStringLiteral("work"),
        QStringLiteral("--address"), QStringLiteral("me@zel.test"), QStringLiteral("--pop3"),
        QStringLiteral("127.0.0.1:1"), QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--password"),
        QStringLiteral("secret-pw"), QStringLiteral("--smtp"), env.value(QStringLiteral("SMTP_STARTTLS")),
        QStringLiteral("--smtp-tls"), QStringLiteral("starttls"), QStringLiteral("--smtp-auth"),
        QStringLiteral("--ca-file"), env.value(QStringLiteral("SEND_CA_FILE"))});
    const QString doc = document(QStringLiteral("Plan"), "<html><body><p>Dear all,</p><p>the plan.</p></body></html>");

    const QString m = queue(doc, {QStringLiteral("--to"), QStringLiteral("Ann <ann@example.test>"),
                                  QStringLiteral("--cc"), QStringLiteral("cc@example.test"),
                                  QStringLiteral("--subject"), QStringLiteral("Plan f\u00fcr M\u00e4rz")});
    const QJsonArray listed =
        QJsonDocument::fromJson(
            ok({QStringLiteral("--json"), QStringLiteral("mail"), QStringLiteral("outbox")}).toUtf8())
            .array();
    ASSERT_EQ(listed.size(), 1);
    EXPECT_EQ(listed[0].toObject().value(QStringLiteral("id")).toString(), m);
    EXPECT_EQ(listed[0].toObject().value(QStringLiteral("to")).toString(), QStringLiteral("Ann <ann@example.test>"));

    // The password is not remembered: ZEL_MAIL_PASSWORD serves SMTP "same as POP3".
    ok({QStringLiteral("mail"), QStringLiteral("account"), QStringLiteral("set"), QStringLiteral("work"),
        QStringLiteral("--forget-password")});
    const int before = int(SpoolOf(env, QStringLiteral("starttls")).size());
    CliRun r = cli({QStringLiteral("mail"), QStringLiteral("send"), m}, true,
                   {{QStringLiteral("ZEL_MAIL_PASSWORD"), QStringLiteral("secret-pw")}});
    ASSERT_EQ(r.status, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("work\tOK\t"))) << r.out.toStdString();
    const auto got = WaitForSpool(env, QStringLiteral("starttls"), before + 1);
    ASSERT_EQ(got.size(), before + 1);
    const QJsonObject meta = QJsonDocument::fromJson(got.last().json).object();
    EXPECT_EQ(meta.value(QStringLiteral("login")).toString(), QStringLiteral("alice"));
    EXPECT_EQ(meta.value(QStringLiteral("rcpt_tos")).toArray().size(), 2);
    const QJsonObject parsed = QJsonDocument::fromJson(ParseWithPython(got.last().eml)).object();
    EXPECT_EQ(parsed.value(QStringLiteral("subject")).toString(), QStringLiteral("Plan f\u00fcr M\u00e4rz"));
    EXPECT_EQ(parsed.value(QStringLiteral("cc")).toString(), QStringLiteral("cc@example.test"));
    EXPECT_EQ(outboxSize(), 0);
    // Sending it again: it is no longer in the outbox.
    r = cli({QStringLiteral("mail"), QStringLiteral("send"), m});
    EXPECT_EQ(r.status, 1);

    // Direct delivery through the name server and port given by the environment.
    const QHash<QString, QString> direct{
        {QStringLiteral("ZEL_DNS_SERVER"), env.value(QStringLiteral("DNS_SERVER"))},
        {QStringLiteral("ZEL_SMTP_DIRECT_PORT"), env.value(QStringLiteral("SMTP_DIRECT_PORT"))},
        {QStringLiteral("ZEL_MAIL_PASSWORD"), QStringLiteral("secret-pw")}};
    queue(doc, {QStringLiteral("--to"), QStringLiteral("b@aonly.test"), QStringLiteral("--direct")});
    const QString anon =
        queue(doc, {QStringLiteral("--to"), QStringLiteral("x@nosuch.test"), QStringLiteral("--anonymous")});
    const int aonly = int(SpoolOf(env, QStringLiteral("direct-127.0.0.2")).size());
    r = cli({QStringLiteral("mail"), QStringLiteral("run"), QStringLiteral("work"), QStringLiteral("--send-only")},
            true, direct);
    EXPECT_EQ(r.status, 1) << r.out.toStdString(); // the anonymous one has no exchanger and no fallback
    EXPECT_TRUE(r.out.contains(QStringLiteral("work\tOK\tSuccess Direct Send Mail b@aonly.test:Plan")))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("work\tERROR\tFailed Direct Send Mail x@nosuch.test:Plan")))
        << r.out.toStdString();
    EXPECT_EQ(WaitForSpool(env, QStringLiteral("direct-127.0.0.2"), aonly + 1).size(), aonly + 1);
    const QJsonArray left =
        QJsonDocument::fromJson(
            ok({QStringLiteral("--json"), QStringLiteral("mail"), QStringLiteral("outbox")}).toUtf8())
            .array();
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left[0].toObject().value(QStringLiteral("id")).toString(), anon);

    r = cli({QStringLiteral("mail"), QStringLiteral("outbox"), QStringLiteral("add"), doc, QStringLiteral("--account"),
             QStringLiteral("work"), QStringLiteral("--to"), QStringLiteral(" ; ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, QStringLiteral("You must specify some recipients for the message"));
}

TEST_P(MailSendCli, TwoSendingProcessesSendEveryMessageOnce) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    ok({QStringLiteral("mail"), QStringLiteral("account"), QStringLiteral("add"), QStringLiteral("work"),
        QStringLiteral("--address"), QStringLiteral("me@zel.test"), QStringLiteral("--pop3"),
        QStringLiteral("127.0.0.1:1"), QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--smtp"),
        env.value(QStringLiteral("SMTP_PLAIN")), QStringLiteral("--smtp-tls"), QStringLiteral("none"),
        QStringLiteral("--no-smtp-auth")});
    const QString doc = document(QStringLiteral("Note"), "<html><body>n</body></html>");
    const QString tag = QStringLiteral("%1-%2").arg(int(GetParam())).arg(QCoreApplication::applicationPid());
    const int n = 10;
    for (int i = 0; i < n; ++i)
        queue(doc, {QStringLiteral("--to"), QStringLiteral("x@example.test"), QStringLiteral("--subject"),
                    QStringLiteral("concurrent %1 %2").arg(tag).arg(i)});
    std::unique_ptr<QProcess> a(start({QStringLiteral("mail"), QStringLiteral("run"), QStringLiteral("--send-only")}));
    std::unique_ptr<QProcess> b(start({QStringLiteral("mail"), QStringLiteral("run"), QStringLiteral("--send-only")}));
    const CliRun ra = finish(a.get()), rb = finish(b.get());
    EXPECT_EQ(ra.status, 0) << ra.out.toStdString() << ra.err.toStdString();
    EXPECT_EQ(rb.status, 0) << rb.out.toStdString() << rb.err.toStdString();
    EXPECT_EQ(outboxSize(), 0);
    QMap<QString, int> seen;
    for (const StoredMail& m : SpoolOf(env, QStringLiteral("plain"))) {
        const QString subject =
            QJsonDocument::fromJson(ParseWithPython(m.eml)).object().value(QStringLiteral("subject")).toString();
        if (subject.startsWith(QStringLiteral("concurrent ") + tag + u' ')) ++seen[subject];
    }
    EXPECT_EQ(seen.size(), n);
    for (auto it = seen.begin(); it != seen.end(); ++it)
        EXPECT_EQ(it.value(), 1) << it.key().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Db, MailSendCli, ::testing::Values(Dialect::Sqlite, Dialect::Postgres), dialectName);

} // namespace
