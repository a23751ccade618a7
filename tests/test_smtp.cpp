// The SMTP client: header words, message form byte for byte, and its protocol against scripted
// servers that misbehave and the real test servers.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

#include "mail/TSmtpCli.h"
#include "support/MailFakes.h"

using namespace zel;
using zel::test::FakeSmtp;

namespace {

std::string s(const QByteArray& b) {
    return b.toStdString();
}

TEST(EncodeHeaderWords, Table) {
    struct Case {
        QByteArray in, charset, enc, out;
    } cases[] = {
        {"plain words stay", "utf-8", "b", "plain words stay"},
        // A word with a special or an 8-bit byte is encoded; blanks before it and plain words are copied.
        {"Re: hello", "utf-8", "b", "=?utf-8?b?UmU6?= hello"},
        {"caf\xc3\xa9 au lait", "utf-8", "b", "=?utf-8?b?Y2Fmw6k=?= au lait"},
        // Adjacent words that need encoding form one run, the blank inside it encoded with them.
        {"x \xc3\xa9t\xc3\xa9 \xc3\xa0 y", "utf-8", "B", "x =?utf-8?B?w6l0w6kgw6A=?= y"},
        {"a=b?c_d \xe9", "iso-8859-1", "q", "a=b?c_d =?iso-8859-1?q?=E9?="},
        {"\xe9t\xe9 2", "iso-8859-1", "Q", "=?iso-8859-1?Q?=E9t=E9?= 2"},
        {"a \xc3\xa9_? b", "utf-8", "q", "a =?utf-8?q?=C3=A9=5F=3F?= b"},
        {"\xe9 8-bit", "utf-8", "8", "\xe9 8-bit"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(s(EncodeHeaderWords(c.in, c.charset, c.enc)), s(c.out)) << s(c.in);
}

TEST(EncodeHeaderWords, LongTextContinuesOnNewLinesWithoutSplittingCharacters) {
    // 60 bytes of UTF-8: two encoded words on two lines, at most 45 bytes each.
    const QByteArray sixty = QString(30, QChar(0xE9)).toUtf8();
    const QByteArray out = EncodeHeaderWords(sixty, "utf-8", "b");
    const QList<QByteArray> lines = out.split('\n');
    ASSERT_EQ(lines.size(), 2) << s(out);
    EXPECT_TRUE(lines[0].endsWith("?=\r"));
    EXPECT_TRUE(lines[1].startsWith("\t=?utf-8?b?"));
    QByteArray decoded;
    for (const QByteArray& l : lines) {
        const QByteArray w = l.trimmed();
        ASSERT_LE(w.size() + 2, 76);
        decoded += QByteArray::fromBase64(w.mid(10, w.size() - 12));
        // Each word alone is whole UTF-8.
        EXPECT_FALSE(QString::fromUtf8(QByteArray::fromBase64(w.mid(10, w.size() - 12))).contains(QChar(0xFFFD)));
    }
    EXPECT_EQ(decoded, sixty);
    // Three-byte characters that do not divide 45 evenly still end words on a character boundary.
    const QByteArray cjk = QString(40, QChar(0x4E2D)).toUtf8();
    for (const QByteArray& l : EncodeHeaderWords(cjk, "utf-8", "b").split('\n')) {
        const QByteArray w = l.trimmed();
        EXPECT_FALSE(QString::fromUtf8(QByteArray::fromBase64(w.mid(10, w.size() - 12))).contains(QChar(0xFFFD)));
    }
}

TEST(QuotedPrintable, LinesStayShortAndCannotLookLikeBoundaries) {
    const QByteArray longLine = QByteArray(2000, 'x') + "\xc3\xa9 end ";
    const QList<QByteArray> out = QuotedPrintableLines({longLine, "--boundary", ".dot", "tab\t", "a=b"});
    QByteArray joined;
    for (const QByteArray& l : out) {
        EXPECT_LE(l.size(), 76) << s(l);
        EXPECT_FALSE(l.startsWith('-') || l.startsWith('.')) << s(l);
        joined += l + "\n";
    }
    // Decode: soft breaks join, =XX gives the byte.
    QByteArray decoded;
    for (const QByteArray& l : out) {
        QByteArray line = l;
        const bool soft = line.endsWith('=');
        if (soft) line.chop(1);
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] == '=') {
                decoded += char(line.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
            } else {
                decoded += line[i];
            }
        }
        if (!soft) decoded += '\n';
    }
    EXPECT_EQ(s(decoded), s(longLine + "\n--boundary\n.dot\ntab\t\na=b\n"));
}

TEST(FoldHeader, ListsFoldAtSeparatorsAndLineBreaksNeverReachTheHeader) {
    QByteArray list;
    for (int i = 0; i < 12; ++i)
        list += (i ? ", " : "") + QByteArray("person") + QByteArray::number(i) + "@example.test";
    const QByteArray h = FoldHeader("To", list);
    for (const QByteArray& l : h.split('\n'))
        EXPECT_LE(l.size(), 78);
    EXPECT_EQ(QByteArray(h).replace("\r\n\t", " "), "To: " + list);
    EXPECT_EQ(s(FoldHeader("Subject", QByteArray("a\r\nBcc: x@y\0z", 13))), "Subject: a  Bcc: x@y z");
}

// The message as the client writes it, with the time-dependent lines masked.
TEST(TSmtpCliMessage, ByteForByte) {
    TSmtpCli c;
    c.HdrFrom = "me@zel.test";
    c.HdrTo = "a@example.test, b@example.test";
    c.HdrReplyTo = "  ";
    c.HdrSubject = QStringLiteral("Plan");
    c.CharSet = "utf-8";
    c.InnerBoundary = "=_Multipart_Boundary_002_1211261615";
    c.MailMessage = {"",
                     "hello",
                     "",
                     "--=_Multipart_Boundary_002_1211261615",
                     "Content-Type: text/html; charset=\"utf-8\"",
                     "Content-Transfer-Encoding: 8bit",
                     "",
                     "<html><body>hello</body></html>"};
    SmtpFilePart f;
    f.name = QStringLiteral("data.bin");
    f.data = QByteArray(50, 'z');
    c.EmailFiles = {f};
    QByteArray m = c.BuildMessage();
    m.replace(QRegularExpression(QStringLiteral("Date: [^\r]*")).match(QString::fromLatin1(m)).captured().toLatin1(),
              "Date: X");
    m.replace(
        QRegularExpression(QStringLiteral("Message-ID: <[^\r]*>")).match(QString::fromLatin1(m)).captured().toLatin1(),
        "Message-ID: <X>");
    const QByteArray expected = "From: me@zel.test\r\n"
                                "To: a@example.test, b@example.test\r\n"
                                "Subject: Plan\r\n"
                                "Sender: me@zel.test\r\n"
                                "Mime-Version: 1.0\r\n"
                                "Content-Type: multipart/mixed;\r\n"
                                "        boundary=\"----=_NextPart_000_005F_01C370D1.27826A80\"\r\n"
                                "Date: X\r\n"
                                "Message-ID: <X>\r\n"
                                "X-Mailer: Orvane Zel Edition V1.0.0\r\n"
                                "\r\n"
                                "This is a multipart MIME message.\r\n"
                                "\r\n"
                                "------=_NextPart_000_005F_01C370D1.27826A80\r\n"
                                "Content-Type: multipart/alternative;\r\n"
                                "    boundary=\"=_Multipart_Boundary_002_1211261615\"\r\n"
                                "\r\n"
                                "--=_Multipart_Boundary_002_1211261615\r\n"
                                "Content-Type: text/plain; charset=\"utf-8\"\r\n"
                                "Content-Transfer-Encoding: 8bit\r\n"
                                "\r\n"
                                "\r\n"
                                "hello\r\n"
                                "\r\n"
                                "--=_Multipart_Boundary_002_1211261615\r\n"
                                "Content-Type: text/html; charset=\"utf-8\"\r\n"
                                "Content-Transfer-Encoding: 8bit\r\n"
                                "\r\n"
                                "<html><body>hello</body></html>\r\n"
                                "--=_Multipart_Boundary_002_1211261615--\r\n"
                                "------=_NextPart_000_005F_01C370D1.27826A80\r\n"
                                "Content-Type: application/octet-stream;\r\n"
                                "\tname=\"data.bin\"\r\n"
                                "Content-Transfer-Encoding: base64\r\n"
                                "Content-Disposition: attachment;\r\n"
                                "\tfilename=\"data.bin\"\r\n"
                                "\r\n"
                                "enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6enp6\r\n"
                                "enp6eno=\r\n"
                                "\r\n"
                                "------=_NextPart_000_005F_01C370D1.27826A80--\r\n";
    EXPECT_EQ(s(m), s(expected));
    // Message-ID right after Date.
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("\r\nDate: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d{1,2} [A-Z][a-z]{2} "
                                          "\\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\nMessage-ID: <[^@>]+@zel.invalid>\r\n"))
            .match(QString::fromLatin1(c.BuildMessage()))
            .hasMatch());
}

TEST(TSmtpCliMessage, DateFormat) {
    EXPECT_EQ(s(TSmtpCli::FormatDate(QDateTime(QDate(2026, 12, 1), QTime(7, 5, 9), Qt::UTC))),
              "Tue, 1 Dec 2026 07:05:09 GMT");
    EXPECT_EQ(s(TSmtpCli::FormatDate(QDateTime(QDate(2027, 3, 14), QTime(23, 59, 0), Qt::UTC))),
              "Sun, 14 Mar 2027 23:59:00 GMT");
}

// A connected client on a fake server, through EHLO.
struct Session {
    FakeSmtp server;
    TSmtpCli cli;
    int open() {
        cli.Host = QStringLiteral("127.0.0.1");
        cli.Port = server.start();
        cli.Timeout = 10;
        cli.Record = true;
        int code = cli.Connect();
        return code ? code : cli.Ehlo();
    }
};

TEST(TSmtpCliProtocol, RejectedRecipientDoesNotStopTheOthersAndDotsAreStuffed) {
    Session t;
    t.server.rcptReplies = {"550 5.1.1 no such user", "250 ok"};
    ASSERT_EQ(t.open(), 0);
    t.cli.FromName = QStringLiteral("Me <me@zel.test>");
    t.cli.RcptName = {QStringLiteral("nobody@example.test"), QStringLiteral("Some One <one@example.test>")};
    EXPECT_EQ(t.cli.MailFrom(), 0);
    EXPECT_EQ(t.cli.RcptTo(), 0);
    EXPECT_EQ(t.cli.AcceptedRcpt, 1);
    ASSERT_EQ(t.cli.RejectedRcpt.size(), 1);
    EXPECT_TRUE(t.cli.RejectedRcpt[0].startsWith("<nobody@example.test>: 550"));
    t.cli.PreparedMessage = "Subject: x\r\n\r\n.\r\n..two\r\nend\r\n";
    EXPECT_EQ(t.cli.Data(), 0);
    EXPECT_EQ(t.cli.Quit(), 0);
    t.server.stop();
    const QByteArray got = t.server.received();
    EXPECT_TRUE(got.startsWith("EHLO ")) << s(got);
    EXPECT_TRUE(got.contains("\r\nMAIL FROM:<me@zel.test>\r\nRCPT TO:<nobody@example.test>\r\n"
                             "RCPT TO:<one@example.test>\r\nDATA\r\n"))
        << s(got);
    ASSERT_EQ(t.server.messages().size(), 1);
    EXPECT_EQ(s(t.server.messages()[0]), "Subject: x\r\n\r\n..\r\n...two\r\nend\r\n");
    EXPECT_TRUE(got.endsWith(".\r\nQUIT\r\n"));
}

TEST(TSmtpCliProtocol, AllRecipientsRejectedFailsWithTheLastCode) {
    Session t;
    t.server.rcptReplies = {"550 no", "553 also no"};
    ASSERT_EQ(t.open(), 0);
    t.cli.FromName = QStringLiteral("me@zel.test");
    t.cli.RcptName = {QStringLiteral("a@example.test"), QStringLiteral("b@example.test")};
    ASSERT_EQ(t.cli.MailFrom(), 0);
    EXPECT_EQ(t.cli.RcptTo(), 553);
    EXPECT_EQ(t.cli.RejectedRcpt.size(), 2);
    EXPECT_EQ(t.cli.Rset(), 0);
}

TEST(TSmtpCliProtocol, RefusedEhloThenHeloAndMultiLineRepliesJudgedOnTheLastLine) {
    Session t;
    t.server.ehlo = {"500 5.5.1 what is EHLO"};
    ASSERT_EQ(t.open(), 500);
    EXPECT_FALSE(t.cli.Esmtp);
    EXPECT_EQ(t.cli.Helo(), 0);
    // Without ESMTP there is no AUTH.
    t.cli.AuthType = smtpAuthLogin;
    t.cli.AllowPlainAuth = true;
    EXPECT_EQ(t.cli.Auth(), 500);
    EXPECT_EQ(s(t.cli.ErrorMessage), "500 ESMTP not supported.");

    Session m;
    m.server.ehlo = {"250-fake.test", "250-AUTH PLAIN LOGIN", "250 STARTTLS"};
    ASSERT_EQ(m.open(), 0);
    EXPECT_TRUE(m.cli.Esmtp);
    EXPECT_TRUE(m.cli.hasExtension(QStringLiteral("starttls")));
    EXPECT_EQ(m.cli.authMechanisms(), (QStringList{QStringLiteral("PLAIN"), QStringLiteral("LOGIN")}));
}

TEST(TSmtpCliProtocol, GreetingOtherThan220FailsConnect) {
    Session t;
    t.server.greeting = "554 5.3.2 go away";
    EXPECT_EQ(t.open(), 554);
    EXPECT_FALSE(t.cli.connected());
}

TEST(TSmtpCliProtocol, CredentialsNeverGoWithoutVerifiedTls) {
    Session t;
    t.server.ehlo = {"250-fake.test", "250 AUTH LOGIN PLAIN"};
    ASSERT_EQ(t.open(), 0);
    t.cli.AuthType = smtpAuthAutoSelect;
    t.cli.Username = QStringLiteral("alice");
    t.cli.Password = QStringLiteral("secret");
    EXPECT_EQ(t.cli.Auth(), 530);
    // No STARTTLS offered: securing the connection fails before anything is sent.
    EXPECT_EQ(t.cli.StartTls(), 530);
    t.cli.Quit();
    t.server.stop();
    EXPECT_FALSE(t.server.received().contains("AUTH"));
    EXPECT_FALSE(t.server.received().contains("STARTTLS"));
}

TEST(TSmtpCliProtocol, AuthExchangesByteForByte) {
    // PLAIN: an empty authorization identity, the user name as authentication identity.
    // LOGIN is preferred when offered.
    struct Case {
        QByteArray offered;
        QByteArray expected;
    } cases[] = {
        {"250 AUTH PLAIN", "AUTH PLAIN " +
                               QByteArray("\0al\xc3\xaf"
                                          "ce\0p\xc3\xa4"
                                          "ss",
                                          13)
                                   .toBase64() +
                               "\r\n"},
        {"250 AUTH PLAIN LOGIN", "AUTH LOGIN\r\n" +
                                     QByteArray("al\xc3\xaf"
                                                "ce")
                                         .toBase64() +
                                     "\r\n" + QByteArray("p\xc3\xa4ss").toBase64() + "\r\n"},
    };
    for (const Case& c : cases) {
        Session t;
        t.server.ehlo = {"250-fake.test", c.offered};
        ASSERT_EQ(t.open(), 0);
        t.cli.AuthType = smtpAuthAutoSelect;
        t.cli.AllowPlainAuth = true;
        t.cli.Username = QStringLiteral("al\u00efce");
        t.cli.Password = QStringLiteral("p\u00e4ss");
        EXPECT_EQ(t.cli.Auth(), 0) << s(t.cli.ErrorMessage);
        t.cli.Quit();
        t.server.stop();
        const QByteArray got = t.server.received();
        const qsizetype at = got.indexOf("AUTH");
        ASSERT_GE(at, 0);
        EXPECT_EQ(s(got.mid(at, got.indexOf("QUIT") - at)), s(c.expected));
    }
}

TEST(TSmtpCliProtocol, CommandsCarryNoLineBreaksFromTheirArguments) {
    Session t;
    ASSERT_EQ(t.open(), 0);
    t.cli.FromName = QStringLiteral("me@zel.test>\r\nRCPT TO:<victim@example.test");
    t.cli.MailFrom();
    t.cli.Quit();
    t.server.stop();
    EXPECT_FALSE(t.server.received().contains("\r\nRCPT")) << s(t.server.received());
}

TEST(TSmtpCliProtocol, StalledServerTimesOutAndCancelEndsAWaitAtOnce) {
    Session t;
    t.server.stall = true;
    t.cli.Host = QStringLiteral("127.0.0.1");
    t.cli.Port = t.server.start();
    t.cli.Timeout = 1;
    ASSERT_EQ(t.cli.Connect(), 0);
    EXPECT_EQ(t.cli.Ehlo(), kSmtpTimeout);
    EXPECT_FALSE(t.cli.connected());

    // With a minute to wait, the cancel flag ends the wait instead.
    std::atomic<bool> cancel{false};
    t.cli.Timeout = 60;
    t.cli.Cancel = &cancel;
    ASSERT_EQ(t.cli.Connect(), 0);
    std::thread canceller([&] {
        QThread::msleep(200);
        cancel = true;
    });
    EXPECT_EQ(t.cli.Ehlo(), kSmtpCancelled);
    canceller.join();
}

TEST(TSmtpCliProtocol, ConnectionClosedDuringARequestFails) {
    Session t;
    t.server.closeAfterData = true;
    ASSERT_EQ(t.open(), 0);
    t.cli.FromName = QStringLiteral("me@zel.test");
    t.cli.RcptName = {QStringLiteral("a@example.test")};
    ASSERT_EQ(t.cli.MailFrom(), 0);
    ASSERT_EQ(t.cli.RcptTo(), 0);
    t.cli.PreparedMessage = "Subject: x\r\n\r\nbody\r\n";
    EXPECT_EQ(t.cli.Data(), 0);
    EXPECT_EQ(t.cli.MailFrom(), kSmtpClosed);
}

TEST(TSmtpCliProtocol, ConnectFailureGivesASocketCode) {
    TSmtpCli c;
    c.Host = QStringLiteral("127.0.0.1");
    FakeSmtp probe;
    c.Port = probe.start();
    probe.stop(); // nothing listens there any more
    c.Timeout = 5;
    const int code = c.Connect();
    EXPECT_GE(code, kSmtpSocketError);
    EXPECT_TRUE(c.ErrorMessage.startsWith("500 "));
}

// --- Against the real servers ---------------------------------------------------------------------

struct Real {
    QString host;
    quint16 port = 0;
};
Real endpoint(const QHash<QString, QString>& env, const char* name) {
    const QString v = env.value(QString::fromLatin1(name));
    return {v.section(u':', 0, 0), quint16(v.section(u':', 1).toUInt())};
}

// The whole exchange for one mode; returns the first failing code.
int deliver(TSmtpCli& c, const QString& subject) {
    int code = c.Connect();
    if (!code) code = c.Ehlo();
    if (!code && c.Tls == SmtpTlsMode::StartTls) code = c.StartTls();
    if (!code && c.Tls == SmtpTlsMode::StartTls) code = c.Ehlo();
    if (!code && c.AuthType != smtpAuthNone) code = c.Auth();
    c.FromName = QStringLiteral("me@zel.test");
    c.RcptName = {QStringLiteral("you@example.test")};
    c.HdrFrom = "me@zel.test";
    c.HdrTo = "you@example.test";
    c.HdrSubject = subject;
    c.CharSet = "utf-8";
    c.InnerBoundary = "=_inner";
    c.MailMessage = {"", "hello " + subject.toUtf8(), ""};
    if (!code) code = c.MailFrom();
    if (!code) code = c.RcptTo();
    if (!code) code = c.Data();
    c.Quit();
    return code;
}

TEST(TSmtpCliReal, EveryModeAndMechanism) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    const QString ca = env.value(QStringLiteral("SEND_CA_FILE"));
    struct Case {
        const char* server;
        const char* label;
        SmtpTlsMode tls;
        TSmtpAuthType auth;
        const char* user;
        QString password;
    } cases[] = {
        {"SMTP_PLAIN", "plain", SmtpTlsMode::None, smtpAuthLogin, "alice", QStringLiteral("secret-pw")},
        {"SMTP_STARTTLS", "starttls", SmtpTlsMode::StartTls, smtpAuthAutoSelect, "alice", QStringLiteral("secret-pw")},
        {"SMTPS", "smtps", SmtpTlsMode::Implicit, smtpAuthAutoSelect, "alice", QStringLiteral("secret-pw")},
        {"SMTP_CRAM", "cram", SmtpTlsMode::None, smtpAuthAutoSelect, "bob", QString(80, u'b')},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.label);
        const int before = int(zel::test::SpoolOf(env, QString::fromLatin1(k.label)).size());
        TSmtpCli c;
        const Real r = endpoint(env, k.server);
        c.Host = r.host;
        c.Port = r.port;
        c.Tls = k.tls;
        c.CaFile = ca;
        c.AuthType = k.auth;
        c.AllowPlainAuth = k.tls == SmtpTlsMode::None;
        c.Username = QString::fromLatin1(k.user);
        c.Password = k.password;
        c.Timeout = 20;
        ASSERT_EQ(deliver(c, QString::fromLatin1(k.label)), 0) << s(c.ErrorMessage);
        const auto got = zel::test::WaitForSpool(env, QString::fromLatin1(k.label), before + 1);
        ASSERT_EQ(got.size(), before + 1);
        const QJsonObject meta = QJsonDocument::fromJson(got.last().json).object();
        EXPECT_EQ(meta.value(QStringLiteral("login")).toString(), QString::fromLatin1(k.user));
        EXPECT_EQ(meta.value(QStringLiteral("tls")).toBool(), k.tls != SmtpTlsMode::None);
        EXPECT_TRUE(got.last().eml.contains("hello " + QByteArray(k.label)));
    }
}

TEST(TSmtpCliReal, WrongPasswordAndUntrustedCertificateFail) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    TSmtpCli c;
    Real r = endpoint(env, "SMTP_PLAIN");
    c.Host = r.host;
    c.Port = r.port;
    c.AllowPlainAuth = true;
    c.AuthType = smtpAuthPlain;
    c.Username = QStringLiteral("alice");
    c.Password = QStringLiteral("wrong");
    ASSERT_EQ(c.Connect(), 0);
    ASSERT_EQ(c.Ehlo(), 0);
    EXPECT_EQ(c.Auth(), 535);
    c.Quit();

    TSmtpCli u;
    r = endpoint(env, "SMTP_UNTRUSTED");
    u.Host = r.host;
    u.Port = r.port;
    u.CaFile = env.value(QStringLiteral("SEND_CA_FILE"));
    u.Tls = SmtpTlsMode::StartTls;
    ASSERT_EQ(u.Connect(), 0);
    ASSERT_EQ(u.Ehlo(), 0);
    EXPECT_GE(u.StartTls(), kSmtpSocketError);
    EXPECT_FALSE(u.verified());
}

} // namespace
