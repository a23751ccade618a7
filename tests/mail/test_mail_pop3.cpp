// Mail runs against a real POP3 server (Dovecot, started by scripts/mail-test-servers.sh) and a
// scripted one for the faults, on both databases.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QThread>
#include <gtest/gtest.h>

#include "mail/MailAccounts.h"
#include "mail/ScriptedPop3.h"
#include "mail/TMail.h"
#include "mail/TMimeDecorderTrd.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Users.h"
#include "support/TestKb.h"

using namespace zel;
using zel::test::DbTest;
using zel::test::ScriptedPop3;

namespace {

QString env(const char* name) {
    return qEnvironmentVariable(name);
}

bool containsLine(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const auto& l : lines)
        if (l.rfind(prefix, 0) == 0) return true;
    return false;
}

QByteArray message(const QByteArray& subject, const QByteArray& body) {
    return "From: Sender <sender@example.org>\r\nTo: alice@example.org\r\nSubject: " + subject +
           "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body + "\r\n";
}

class Pop3Test : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        createSchema();
        CurrentUser() = TuserReg{};
        CurrentUser().code = QStringLiteral("admin");
        CurrentUser().name = QStringLiteral("Admin");
    }

    bool dovecot() {
        if (!env("ZEL_TEST_POP3_PORT").isEmpty()) return true;
        if (!env("CI").isEmpty()) ADD_FAILURE() << "the POP3 test server is not running under CI";
        return false;
    }
    QString maildir(const char* user) {
        return env("ZEL_TEST_MAILDIR") + u'/' + QString::fromUtf8(user) + QStringLiteral("/Maildir");
    }
    void clearMaildir(const char* user) {
        for (const char* sub : {"new", "cur", "tmp"}) {
            QDir d(maildir(user) + u'/' + QString::fromUtf8(sub));
            for (const QString& f : d.entryList(QDir::Files))
                d.remove(f);
        }
        for (const QString& f : QDir(maildir(user)).entryList({QStringLiteral("dovecot*")}, QDir::Files))
            QFile::remove(maildir(user) + u'/' + f);
    }
    void deliver(const char* user, const QByteArray& raw) {
        static int n = 0;
        const QString path =
            maildir(user) + QStringLiteral("/new/%1.%2.test").arg(QDateTime::currentMSecsSinceEpoch()).arg(++n);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(raw);
        f.close();
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther |
                         QFileDevice::WriteOther | QFileDevice::ReadGroup | QFileDevice::WriteGroup);
    }
    int onServer(const char* user) {
        return int(QDir(maildir(user) + QStringLiteral("/new")).entryList(QDir::Files).size() +
                   QDir(maildir(user) + QStringLiteral("/cur")).entryList(QDir::Files).size());
    }

    TMailReg account(const QString& name, int port, MailTls tls) {
        TMailReg r;
        r.name = name;
        r.mailAddress = QStringLiteral("alice@example.org");
        r.pop3 = QStringLiteral("127.0.0.1");
        r.pop3Port = port;
        r.popAccount = QStringLiteral("alice");
        r.popPassword = QStringLiteral("secret");
        r.pop3Tls = tls;
        r.caFile = env("ZEL_TEST_MAIL_CA");
        return r;
    }
    QString add(TMailReg& r) {
        const QString id = InsertAccount(db(), r, QStringLiteral("admin"));
        EXPECT_FALSE(id.isEmpty()) << db().lastError().toStdString();
        return id;
    }

    // One receive run, waited for together with the conversion of what it brought.
    QList<TMail::Result> receive(const QString& accountName = {}, int timeoutMs = 10000,
                                 std::function<bool(TMailReg*)> credentials = {}) {
        TMail run(db().connectionString(), TMail::ReceiveOnly, QStringLiteral("admin"), accountName);
        run.setTimeoutMs(timeoutMs);
        QObject::connect(
            &run, &TMail::credentialsNeeded, &run,
            [&](TMailReg* a, bool* ok) {
                ++credentialCalls;
                *ok = credentials ? credentials(a) : false;
            },
            Qt::DirectConnection);
        run.start();
        run.wait();
        TMimeDecorderTrd::waitIdle();
        lastTypedPassword = run.typedPassword(LoadAccount(db(), accountName, QStringLiteral("admin")).id);
        return run.results();
    }

    int documents(const QString& folder) {
        return db()
            .scalar(QStringLiteral(
                        "select count(*) from info where parentnode=:p and (hasdelete is null or hasdelete='N')"),
                    {{QStringLiteral(":p"), folder.toLongLong()}})
            .toInt();
    }
    int spooled() { return db().scalar(QStringLiteral("select count(*) from zel_mailspool")).toInt(); }
    QStringList contents(const QString& folder) {
        QStringList out;
        for (const NodeItem& n : ListChildren(db(), folder))
            out << QString::fromUtf8(ReadDocumentContent(db(), QString::number(n.id)));
        return out;
    }

    int credentialCalls = 0;
    QString lastTypedPassword;
};

std::string describe(const QList<TMail::Result>& results) {
    std::string s;
    for (const TMail::Result& r : results)
        s += (r.account + (r.ok ? QStringLiteral(" OK ") : QStringLiteral(" ERROR ")) + r.text + u'\n').toStdString();
    return s;
}

bool allOk(const QList<TMail::Result>& results) {
    for (const TMail::Result& r : results)
        if (!r.ok) return false;
    return !results.isEmpty();
}

} // namespace

TEST_P(Pop3Test, DovecotMessagesBecomeDocumentsAndLeaveTheServer) {
    if (!dovecot()) GTEST_SKIP() << "no POP3 test server";
    clearMaildir("alice");
    deliver("alice", message("first", "one"));
    // A line far longer than any buffer, and lines that need dot-stuffing.
    deliver("alice", message("long", QByteArray(5000, 'x') + "\r\n..two dots\r\n.\r\nend"));
    deliver("alice", message("=?utf-8?Q?th=C3=BCrd?=", "three"));
    TMailReg a = account(QStringLiteral("Alice"), env("ZEL_TEST_POP3_PORT").toInt(), MailTls::StartTls);
    add(a);
    QStringList announced;
    QMutex announcedLock;
    const auto c = QObject::connect(
        &MailEvents(), &TMailEvents::nodeAdded, &MailEvents(),
        [&](const QString& node, const QString& folder, const QString&) {
            QMutexLocker l(&announcedLock);
            if (folder == a.incomingId) announced << node;
        },
        Qt::DirectConnection);
    auto r = receive(QStringLiteral("Alice"));
    QObject::disconnect(c);
    EXPECT_EQ(announced.size(), 3); // every new document is announced to the tree
    ASSERT_TRUE(allOk(r)) << describe(r);
    EXPECT_EQ(r.last().text, QStringLiteral("3 new of 3 on the server"));
    EXPECT_EQ(documents(a.incomingId), 3);
    EXPECT_EQ(spooled(), 0);
    EXPECT_EQ(onServer("alice"), 0);
    QStringList captions;
    for (const NodeItem& n : ListChildren(db(), a.incomingId))
        captions << n.caption;
    captions.sort();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("first"), QStringLiteral("long"), QStringLiteral("thürd")}));
    bool sawLong = false;
    for (const QString& c : contents(a.incomingId)) {
        if (!c.contains(u'x')) continue;
        sawLong = true;
        EXPECT_TRUE(c.contains(QString(5000, u'x') + QStringLiteral("<br>")));
        EXPECT_TRUE(c.contains(QStringLiteral("<br>\r\n..two dots<br>\r\n.<br>\r\nend")));
    }
    EXPECT_TRUE(sawLong);

    r = receive(QStringLiteral("Alice"));
    ASSERT_TRUE(allOk(r)) << describe(r);
    EXPECT_EQ(r.last().text, QStringLiteral("0 new of 0 on the server"));
    EXPECT_EQ(documents(a.incomingId), 3);
}

TEST_P(Pop3Test, KeptMessagesAreImportedOnce) {
    if (!dovecot()) GTEST_SKIP() << "no POP3 test server";
    clearMaildir("alice");
    deliver("alice", message("kept 1", "a"));
    deliver("alice", message("kept 2", "b"));
    TMailReg a = account(QStringLiteral("Keep"), env("ZEL_TEST_POP3S_PORT").toInt(), MailTls::Tls);
    a.keepOnServer = true;
    add(a);
    auto r = receive(QStringLiteral("Keep"));
    ASSERT_TRUE(allOk(r)) << describe(r);
    r = receive(QStringLiteral("Keep"));
    ASSERT_TRUE(allOk(r)) << describe(r);
    EXPECT_EQ(r.last().text, QStringLiteral("0 new of 2 on the server"));
    deliver("alice", message("kept 3", "c"));
    r = receive(QStringLiteral("Keep"));
    EXPECT_EQ(r.last().text, QStringLiteral("1 new of 3 on the server"));
    EXPECT_EQ(documents(a.incomingId), 3);
    EXPECT_EQ(onServer("alice"), 3);
}

TEST_P(Pop3Test, CredentialsTravelOnlyOverVerifiedTls) {
    if (!dovecot()) GTEST_SKIP() << "no POP3 test server";
    clearMaildir("alice");
    deliver("alice", message("secure", "s"));
    const int pop3 = env("ZEL_TEST_POP3_PORT").toInt(), pop3s = env("ZEL_TEST_POP3S_PORT").toInt();
    struct Case {
        const char* name;
        int port;
        MailTls tls;
        bool withCa, allowPlain, ok;
        const char* errorHas;
    };
    const Case cases[] = {
        {"untrusted", pop3s, MailTls::Tls, false, false, false, "certificate"},
        {"untrusted-starttls", pop3, MailTls::StartTls, false, true, false, "certificate"},
        {"plain-refused", pop3, MailTls::None, true, false, false, "not encrypted"},
        {"plain-allowed", pop3, MailTls::None, true, true, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMailReg a = account(QString::fromUtf8(c.name), c.port, c.tls);
        a.keepOnServer = true;
        a.allowPlain = c.allowPlain;
        if (!c.withCa) a.caFile.clear();
        add(a);
        const auto r = receive(a.name);
        ASSERT_FALSE(r.isEmpty());
        EXPECT_EQ(allOk(r), c.ok) << describe(r);
        if (!c.ok) {
            EXPECT_TRUE(r.first().text.contains(QString::fromUtf8(c.errorHas), Qt::CaseInsensitive)) << describe(r);
            EXPECT_EQ(documents(a.incomingId), 0);
        } else {
            EXPECT_EQ(documents(a.incomingId), 1);
        }
    }
    EXPECT_EQ(onServer("alice"), 1);
}

TEST_P(Pop3Test, RefusedLoginAsksAgainAndCancelEndsTheAccount) {
    if (!dovecot()) GTEST_SKIP() << "no POP3 test server";
    clearMaildir("alice");
    deliver("alice", message("login", "l"));
    TMailReg a = account(QStringLiteral("Wrong"), env("ZEL_TEST_POP3S_PORT").toInt(), MailTls::Tls);
    a.popPassword = QStringLiteral("wrong");
    a.keepOnServer = true;
    add(a);
    auto r = receive(QStringLiteral("Wrong"), 10000, [](TMailReg* acc) {
        acc->popPassword = QStringLiteral("secret");
        return true;
    });
    EXPECT_EQ(credentialCalls, 1);
    EXPECT_EQ(documents(a.incomingId), 1);
    EXPECT_EQ(lastTypedPassword, QStringLiteral("secret")); // for SMTP "same as POP3"
    ASSERT_EQ(r.size(), 2) << describe(r);
    EXPECT_FALSE(r[0].ok);
    EXPECT_TRUE(r[1].ok);
    // Remembered: the typed password is stored.
    EXPECT_EQ(LoadAccount(db(), QStringLiteral("Wrong"), QStringLiteral("admin")).popPassword,
              QStringLiteral("secret"));

    ASSERT_TRUE(UpdateAccount(db(), a, a.id)); // the wrong password again
    credentialCalls = 0;
    r = receive(QStringLiteral("Wrong"), 10000, [](TMailReg*) { return false; });
    EXPECT_EQ(credentialCalls, 1);
    ASSERT_EQ(r.size(), 1) << describe(r);
    EXPECT_FALSE(r[0].ok);

    // Not remembered and cancelled: nothing connects.
    TMailReg b = account(QStringLiteral("Forgot"), env("ZEL_TEST_POP3S_PORT").toInt(), MailTls::Tls);
    b.rememberPassword = false;
    add(b);
    credentialCalls = 0;
    r = receive(QStringLiteral("Forgot"), 10000, [](TMailReg*) { return false; });
    EXPECT_EQ(credentialCalls, 1);
    EXPECT_EQ(documents(b.incomingId), 0);
    EXPECT_EQ(r.first().text, QStringLiteral("login cancelled"));
}

TEST_P(Pop3Test, ServerFaultsLoseAndDuplicateNothing) {
    struct Case {
        const char* name;
        std::function<void(ScriptedPop3&)> fault;
        bool ok;
        int documents;    // after the faulty run
        int leftOnServer; // after the faulty run
        const char* sent; // a command the client must have sent ("" none)
        const char* notSent;
    };
    const QList<Case> cases{
        {"greeting error", [](ScriptedPop3& s) { s.greetingError = true; }, false, 0, 2, "", "USER"},
        {"no STLS", [](ScriptedPop3& s) { s.offerStls = false; }, false, 0, 2, "CAPA", "PASS"},
        {"STLS refused", [](ScriptedPop3& s) { s.offerStls = true; }, false, 0, 2, "STLS", "PASS"},
        {"drop in RETR", [](ScriptedPop3& s) { s.dropInRetr = 2; }, false, 0, 2, "RETR 2", "DELE"},
        {"DELE refused", [](ScriptedPop3& s) { s.errorOnDele = 2; }, false, 1, 2, "DELE 2", "RETR 1"},
        {"stall on STAT", [](ScriptedPop3& s) { s.stallOn = "STAT"; }, false, 0, 2, "STAT", "RETR"},
        {"stall on DELE", [](ScriptedPop3& s) { s.stallOn = "DELE"; }, false, 1, 2, "DELE 2", "RETR 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPop3 server;
        server.setMessages({{"u1", message("one", "1")}, {"u2", message("two", "2")}});
        c.fault(server);
        TMailReg a = account(QString::fromUtf8(c.name), server.port(),
                             QByteArray(c.name).contains("STLS") ? MailTls::StartTls : MailTls::None);
        a.allowPlain = !QByteArray(c.name).contains("STLS");
        add(a);
        auto r = receive(a.name, 1000);
        EXPECT_EQ(allOk(r), c.ok) << describe(r);
        EXPECT_EQ(documents(a.incomingId), c.documents);
        EXPECT_EQ(spooled(), 0);
        auto sessions = server.sessions();
        ASSERT_EQ(sessions.size(), 1u);
        if (*c.sent) {
            EXPECT_TRUE(containsLine(sessions[0], c.sent));
        }
        EXPECT_FALSE(containsLine(sessions[0], c.notSent));
        EXPECT_EQ(server.messages().size(), c.leftOnServer);

        // Once the server behaves, every message arrives exactly once and leaves the server.
        server.greetingError = false;
        server.dropInRetr = 0;
        server.errorOnDele = 0;
        server.stallSessions = 0;
        a.pop3Tls = MailTls::None;
        a.allowPlain = true;
        ASSERT_TRUE(UpdateAccount(db(), a, a.id));
        r = receive(a.name, 5000);
        EXPECT_TRUE(allOk(r)) << describe(r);
        EXPECT_EQ(documents(a.incomingId), 2);
        EXPECT_EQ(server.messages().size(), 0);
        sessions = server.sessions();
        // A message stored before the fault is deleted, not downloaded again.
        if (c.documents == 1) {
            EXPECT_FALSE(containsLine(sessions.back(), "RETR 2"));
        }
    }
}

TEST_P(Pop3Test, ALineBreakInCredentialsNeverReachesTheServer) {
    ScriptedPop3 server;
    server.setMessages({{"x1", message("one", "1")}});
    TMailReg a = account(QStringLiteral("Inject"), server.port(), MailTls::None);
    a.allowPlain = true;
    a.popAccount = QStringLiteral("alice\r\nDELE 1");
    add(a);
    EXPECT_FALSE(allOk(receive(a.name, 2000)));
    const auto sessions = server.sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_FALSE(containsLine(sessions[0], "USER"));
    EXPECT_FALSE(containsLine(sessions[0], "DELE"));
    EXPECT_EQ(server.messages().size(), 1);
}

TEST_P(Pop3Test, WithoutUidlADigestKeepsKeptMessagesSingle) {
    ScriptedPop3 server;
    server.offerUidl = false;
    server.setMessages({{"", message("a", "1")}, {"", message("b", "2")}});
    TMailReg a = account(QStringLiteral("NoUidl"), server.port(), MailTls::None);
    a.allowPlain = true;
    a.keepOnServer = true;
    add(a);
    ASSERT_TRUE(allOk(receive(a.name)));
    ASSERT_TRUE(allOk(receive(a.name)));
    EXPECT_EQ(documents(a.incomingId), 2);
    EXPECT_EQ(server.messages().size(), 2);
}

TEST_P(Pop3Test, CancelFinishesTheDownloadInHandThenQuits) {
    ScriptedPop3 server;
    server.pauseInRetrMs = 800;
    server.setMessages({{"c1", message("one", "1")}, {"c2", message("two", "2")}, {"c3", message("three", "3")}});
    TMailReg a = account(QStringLiteral("Cancel"), server.port(), MailTls::None);
    a.allowPlain = true;
    add(a);
    TMail run(db().connectionString(), TMail::ReceiveOnly, QStringLiteral("admin"), a.name);
    run.start();
    ASSERT_TRUE(server.waitForLine("RETR 3", 5000));
    run.cancel();
    ASSERT_TRUE(run.wait(10000));
    TMimeDecorderTrd::waitIdle();
    const auto lines = server.sessions().at(0);
    EXPECT_TRUE(containsLine(lines, "DELE 3"));
    EXPECT_FALSE(containsLine(lines, "RETR 2"));
    EXPECT_TRUE(containsLine(lines, "QUIT"));
    EXPECT_EQ(documents(a.incomingId), 1);
    EXPECT_EQ(server.messages().size(), 2);

    // A cancel while waiting for any other reply ends the wait at once.
    ScriptedPop3 stalled;
    stalled.stallOn = "LIST";
    stalled.setMessages({{"s1", message("one", "1")}});
    TMailReg b = account(QStringLiteral("Stalled"), stalled.port(), MailTls::None);
    b.allowPlain = true;
    add(b);
    TMail run2(db().connectionString(), TMail::ReceiveOnly, QStringLiteral("admin"), b.name);
    run2.setTimeoutMs(60000);
    run2.start();
    ASSERT_TRUE(stalled.waitForLine("LIST", 5000));
    run2.cancel();
    EXPECT_TRUE(run2.wait(5000)); // far below the 60 s reply limit
    EXPECT_EQ(documents(b.incomingId), 0);
}

TEST_P(Pop3Test, OneRunAtATimeAndClosingDropsItsConnection) {
    ScriptedPop3 server;
    server.stallOn = "STAT";
    server.setMessages({{"r1", message("one", "1")}});
    TMailReg a = account(QStringLiteral("Run"), server.port(), MailTls::None);
    a.allowPlain = true;
    add(a);
    QStringList statuses;
    bool started = false;
    TMail* run = StartMailRun(
        db().connectionString(), QStringLiteral("admin"), QString(), TMail::ReceiveAndSend, &started, [&](TMail* r) {
            r->setTimeoutMs(60000);
            QObject::connect(
                r, &TMail::statusChanged, r, [&](const QString& s) { statuses << s; }, Qt::DirectConnection);
        });
    ASSERT_TRUE(started);
    ASSERT_TRUE(server.waitForLine("STAT", 5000));
    bool again = true;
    EXPECT_EQ(StartMailRun(db().connectionString(), QStringLiteral("admin"), QString(), TMail::ReceiveOnly, &again),
              run);
    EXPECT_FALSE(again);
    EXPECT_EQ(CurrentMailRun(), run);
    StopMailRun(); // returns once the run has ended, long before the 60 s reply limit
    EXPECT_EQ(CurrentMailRun(), nullptr);
    EXPECT_TRUE(statuses.contains(QStringLiteral("Connecting to POP Server:127.0.0.1")));
    EXPECT_EQ(documents(a.incomingId), 0);
    EXPECT_EQ(server.messages().size(), 1);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

ZEL_INSTANTIATE_DB_TEST(Pop3Test);
