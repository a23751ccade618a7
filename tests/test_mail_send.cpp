// Outgoing mail on both databases: the outbox, message assembly, sending through the test servers
// and scripted faulty ones, direct delivery through dnsmasq, marking sent, and concurrent runs.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

#include "StoreFixture.h"
#include "mail/MailAccounts.h"
#include "mail/MailSend.h"
#include "mail/TMail.h"
#include "store/Content.h"
#include "store/Schema.h"
#include "support/MailFakes.h"

using namespace zel;
using namespace zel::test;

namespace {

struct Row {
    QString account;
    bool ok;
    QString text;
};

class MailSendTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(EnsureSystemFolder(db(), QStringLiteral("outbox"), QStringLiteral("Outbox")));
        ASSERT_TRUE(EnsureSystemFolder(db(), QStringLiteral("sendbox"), QStringLiteral("Sent")));
        Query q(db(), QStringLiteral("select outbox,sendbox from systeminfo"));
        ASSERT_TRUE(q.next());
        outbox_ = QString::number(q.integer(0));
        sendbox_ = QString::number(q.integer(1));
    }

    QString doc(const QString& caption, const QString& html) {
        const QString id = add(QStringLiteral("0"), caption);
        EXPECT_TRUE(WriteDocumentText(db(), id, html));
        return id;
    }

    QString queue(const QString& node, const QString& to, bool direct = false, bool anonymous = false,
                  const QString& subject = QStringLiteral("Plan")) {
        TMailmsgReg rec;
        rec.account = QStringLiteral("work");
        rec.mailAddress = to;
        rec.subject = subject;
        rec.directSend = direct;
        rec.anonymity = anonymous;
        QString error;
        const QString id = StoreOutgoingMessage(db(), node, rec, &error);
        EXPECT_FALSE(id.isEmpty()) << error.toStdString();
        return id;
    }

    SmtpAccount account(const QString& hostPort) {
        SmtpAccount a;
        a.name = QStringLiteral("work");
        a.mailAddress = QStringLiteral("me@zel.test");
        a.smtpHost = hostPort.section(u':', 0, 0);
        a.smtpPort = quint16(hostPort.section(u':', 1).toUInt());
        return a;
    }

    QList<Row> send(const SmtpAccount& a, const QHash<QString, QString>& env = {}) {
        SendRun run(db());
        run.direct.timeout = 10;
        if (env.contains(QStringLiteral("DNS_SERVER"))) {
            run.direct.nameServers = {ParseDnsServer(env.value(QStringLiteral("DNS_SERVER")))};
            run.direct.port = quint16(env.value(QStringLiteral("SMTP_DIRECT_PORT")).toUInt());
            run.direct.caFile = env.value(QStringLiteral("SEND_CA_FILE"));
        }
        QList<Row> rows;
        run.observer.row = [&rows](const QString& acc, bool ok, const QString& text) { rows += Row{acc, ok, text}; };
        EXPECT_TRUE(SendAccount(run, a));
        return rows;
    }

    QString parentOf(const QString& id) { return column(QStringLiteral("info"), QStringLiteral("parentnode"), id); }
    QString mailColumn(const QString& node, const char* col) {
        return column(QStringLiteral("mail"), QString::fromLatin1(col), GetMailId(db(), node));
    }

    static int okRows(const QList<Row>& rows) {
        int n = 0;
        for (const Row& r : rows)
            n += r.ok ? 1 : 0;
        return n;
    }
    static std::string dump(const QList<Row>& rows) {
        QString s;
        for (const Row& r : rows)
            s += (r.ok ? QStringLiteral("OK ") : QStringLiteral("ERROR ")) + r.text + u'\n';
        return s.toStdString();
    }

    QString outbox_, sendbox_;
};

TEST_P(MailSendTest, OutboxStoresACopyWithItsMailRowAndUpdatesIt) {
    const QString d = doc(QStringLiteral("Plan"), QStringLiteral("<html><body>x</body></html>"));
    TMailmsgReg rec;
    rec.account = QStringLiteral("work");
    QString error;
    EXPECT_TRUE(StoreOutgoingMessage(db(), d, rec, &error).isEmpty());
    EXPECT_EQ(error, QStringLiteral("You must specify some recipients for the message"));

    rec.mailAddress = QStringLiteral("a@example.test; Bob <b@example.test>");
    rec.ccList = QStringLiteral("c@example.test");
    rec.subject = QStringLiteral("Zeitplan \u00fc");
    rec.priority = 2;
    rec.directSend = true;
    const QString m = StoreOutgoingMessage(db(), d, rec, &error);
    ASSERT_FALSE(m.isEmpty()) << error.toStdString();
    EXPECT_NE(m, d);
    EXPECT_EQ(parentOf(m), outbox_);
    EXPECT_EQ(parentOf(d), QStringLiteral("0"));
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("haschild"), outbox_), QStringLiteral("Y"));
    bool found = false;
    TMailmsgReg back = ReadMailRow(db(), GetMailId(db(), m), &found);
    ASSERT_TRUE(found);
    EXPECT_EQ(back.mailAddress, rec.mailAddress);
    EXPECT_EQ(back.ccList, rec.ccList);
    EXPECT_EQ(back.subject, rec.subject);
    EXPECT_EQ(back.account, QStringLiteral("work"));
    EXPECT_TRUE(back.directSend);
    EXPECT_FALSE(back.anonymity);
    EXPECT_FALSE(back.sent.isValid());

    // Storing the outbox message again edits its row in place.
    rec.subject = QStringLiteral("Changed");
    rec.bccList = QStringLiteral("hidden@example.test");
    rec.priority = 5;
    rec.anonymity = true;
    EXPECT_EQ(StoreOutgoingMessage(db(), m, rec, &error), m);
    back = ReadMailRow(db(), GetMailId(db(), m));
    EXPECT_EQ(back.subject, QStringLiteral("Changed"));
    EXPECT_EQ(back.bccList, QStringLiteral("hidden@example.test"));
    EXPECT_EQ(back.priority, 5);
    EXPECT_TRUE(back.anonymity);
    EXPECT_EQ(db().scalar(QStringLiteral("select count(*) from mail")).toInt(), 1);
}

TEST_P(MailSendTest, AssemblyEmbedsPicturesOnceAndKeepsAttachments) {
    const QString d = add(QStringLiteral("0"), QStringLiteral("Trip"));
    const QString pic = SaveAttachmentFromStream(db(), QByteArray("GIF89a-picture"), d, QStringLiteral("pic.gif"));
    const QString doc2 = SaveAttachmentFromStream(db(), QByteArray("report body"), d, QStringLiteral("report.txt"));
    ASSERT_FALSE(pic.isEmpty());
    ASSERT_FALSE(doc2.isEmpty());
    const QString html =
        QStringLiteral("<html><head><title>t</title></head><body background='link://document/__zel_@cid:/%1'>"
                       "<p>Hello &amp; welcome</p><img src=\"link://document/__zel_@cid:/%1\">"
                       "<img src=link://document/Trip/pic.gif><img src=\"link://document/__zel_@cid:/999999\">"
                       "<img src=\"http://example.test/x.png\"><script>var hidden;</script>"
                       "<div>Second\u00e9 line</div></body></html>")
            .arg(pic);
    ASSERT_TRUE(WriteDocumentText(db(), d, html));
    const QString m = queue(d, QStringLiteral("a@example.test"));
    PreparedMail mail;
    QString error;
    ASSERT_TRUE(PrepareMail(db(), m, mail, &error)) << error.toStdString();
    // The background, the cid reference and the path reference all name one attachment: one part.
    const QByteArray expectedCid = "cid:__" + pic.toUtf8() + "@zel.invalid";
    EXPECT_EQ(mail.html.count(expectedCid), 3) << mail.html.toStdString();
    EXPECT_TRUE(mail.html.contains("background='" + expectedCid + "'")) << mail.html.toStdString();
    EXPECT_TRUE(mail.html.contains("link://document/__zel_@cid:/999999")); // no such attachment: left alone
    EXPECT_TRUE(mail.html.contains("http://example.test/x.png"));
    EXPECT_EQ(mail.plainText.toStdString(),
              QStringLiteral("Hello & welcome\nSecond\u00e9 line").toUtf8().toStdString());
    // One part per picture (by attachment), then the node's own files, one per name.
    QStringList parts;
    for (const SmtpFilePart& f : mail.files)
        parts += f.name + u'|' + QString::fromLatin1(f.contentType) + u'|' + QString::fromLatin1(f.headerLine);
    ASSERT_EQ(mail.files.size(), 3) << parts.join(u'\n').toStdString();
    EXPECT_EQ(mail.files[0].headerLine, "Content-ID: <__" + pic.toUtf8() + "@zel.invalid>");
    EXPECT_EQ(mail.files[0].contentType, "image/gif");
    EXPECT_EQ(mail.files[0].data, QByteArray("GIF89a-picture"));
    // The attachment used as a picture also goes as a file of its own.
    EXPECT_EQ(mail.files[1].name, QStringLiteral("pic.gif"));
    EXPECT_TRUE(mail.files[1].headerLine.isEmpty());
    EXPECT_EQ(mail.files[2].name, QStringLiteral("report.txt"));
    EXPECT_EQ(mail.files[2].data, QByteArray("report body"));
}

TEST_P(MailSendTest, UnreadableAttachmentFailsOnlyThatMessage) {
    const QString a = doc(QStringLiteral("A"), QStringLiteral("<html><body>a</body></html>"));
    const QString b = doc(QStringLiteral("B"), QStringLiteral("<html><body>b</body></html>"));
    const QString att = SaveAttachmentFromStream(db(), QByteArray("data"), a, QStringLiteral("broken.txt"));
    const QString ma = queue(a, QStringLiteral("x@example.test"));
    const QString mb = queue(b, QStringLiteral("x@example.test"));
    // The copy's attachment: stored bytes that no longer expand.
    ASSERT_TRUE(db().exec(
        QStringLiteral("update accessories set document=:d where infoid=:id"),
        {{QStringLiteral(":d"), QByteArray("\xff\xff\xff\xffnot zlib")}, {QStringLiteral(":id"), ma.toLongLong()}}));
    Q_UNUSED(att);
    FakeSmtp server;
    const quint16 port = server.start();
    const QList<Row> rows = send(account(QStringLiteral("127.0.0.1:%1").arg(port)));
    server.stop();
    EXPECT_EQ(okRows(rows), 1) << dump(rows);
    EXPECT_EQ(parentOf(ma), outbox_);
    EXPECT_EQ(parentOf(mb), sendbox_);
    EXPECT_EQ(server.messages().size(), 1);
}

TEST_P(MailSendTest, ThroughTheAccountServerParsedByPython) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    const QString d = add(QStringLiteral("0"), QStringLiteral("Trip"));
    const QString pic = SaveAttachmentFromStream(db(), QByteArray(3000, '\x89'), d, QStringLiteral("pic.png"));
    SaveAttachmentFromStream(db(), QByteArray("notes"), d, QStringLiteral("r\u00e9sum\u00e9.txt"));
    const QString longLine = QString(1500, u'w');
    ASSERT_TRUE(WriteDocumentText(
        db(), d,
        QStringLiteral("<html><body><p>Gr\u00fc\u00dfe</p><p>%1</p><p>.</p><img src=\"link://document/__zel_@cid:/%2\">"
                       "</body></html>")
            .arg(longLine, pic)));
    const QString subject = QStringLiteral("Reiseplan f\u00fcr M\u00e4rz \u2013 Teil 1, mit Anh\u00e4ngen und Bildern");
    const QString m =
        queue(d, QStringLiteral("Ann \u00d6 <ann@example.test>; bob@example.test"), false, false, subject);
    const int before = int(SpoolOf(env, QStringLiteral("plain")).size());
    const QList<Row> rows = send(account(env.value(QStringLiteral("SMTP_PLAIN"))));
    ASSERT_EQ(okRows(rows), 1) << dump(rows);
    EXPECT_EQ(rows.size(), 1) << dump(rows);
    const auto got = WaitForSpool(env, QStringLiteral("plain"), before + 1);
    ASSERT_EQ(got.size(), before + 1);
    const QJsonObject meta = QJsonDocument::fromJson(got.last().json).object();
    EXPECT_EQ(meta.value(QStringLiteral("mail_from")).toString(), QStringLiteral("me@zel.test"));
    EXPECT_EQ(meta.value(QStringLiteral("rcpt_tos")).toArray().size(), 2);
    for (const QByteArray& line : got.last().eml.split('\n'))
        EXPECT_LE(line.size(), 999);

    const QJsonObject parsed = QJsonDocument::fromJson(ParseWithPython(got.last().eml)).object();
    ASSERT_FALSE(parsed.isEmpty());
    EXPECT_TRUE(parsed.value(QStringLiteral("defects")).toArray().isEmpty())
        << QJsonDocument(parsed).toJson().toStdString();
    EXPECT_EQ(parsed.value(QStringLiteral("subject")).toString(), subject);
    EXPECT_EQ(parsed.value(QStringLiteral("from")).toString(), QStringLiteral("me@zel.test"));
    EXPECT_EQ(parsed.value(QStringLiteral("sender")).toString(), QStringLiteral("me@zel.test"));
    EXPECT_EQ(parsed.value(QStringLiteral("to")).toString(),
              QStringLiteral("Ann \u00d6 <ann@example.test>, bob@example.test"));
    const QJsonArray order = parsed.value(QStringLiteral("header_order")).toArray();
    EXPECT_EQ(order.at(order.size() - 2).toString(), QStringLiteral("Message-ID"));
    const QJsonArray parts = parsed.value(QStringLiteral("parts")).toArray();
    // mixed, alternative, plain, html, picture, the picture's attachment, notes
    ASSERT_EQ(parts.size(), 7) << QJsonDocument(parts).toJson().toStdString();
    EXPECT_EQ(parts[0].toObject().value(QStringLiteral("type")).toString(), QStringLiteral("multipart/mixed"));
    EXPECT_EQ(parts[1].toObject().value(QStringLiteral("type")).toString(), QStringLiteral("multipart/alternative"));
    const QJsonObject plain = parts[2].toObject();
    EXPECT_EQ(plain.value(QStringLiteral("type")).toString(), QStringLiteral("text/plain"));
    // Over 998 bytes in a line: quoted-printable, and the text comes back whole.
    EXPECT_EQ(plain.value(QStringLiteral("cte")).toString(), QStringLiteral("quoted-printable"));
    EXPECT_TRUE(plain.value(QStringLiteral("text")).toString().contains(longLine));
    EXPECT_TRUE(plain.value(QStringLiteral("text")).toString().contains(QStringLiteral("Gr\u00fc\u00dfe")));
    const QJsonObject html = parts[3].toObject();
    EXPECT_EQ(html.value(QStringLiteral("type")).toString(), QStringLiteral("text/html"));
    EXPECT_TRUE(html.value(QStringLiteral("text"))
                    .toString()
                    .contains(QStringLiteral("src=\"cid:__%1@zel.invalid\"").arg(pic)));
    const QJsonObject picture = parts[4].toObject();
    EXPECT_EQ(picture.value(QStringLiteral("type")).toString(), QStringLiteral("image/png"));
    EXPECT_EQ(picture.value(QStringLiteral("cid")).toString(), QStringLiteral("<__%1@zel.invalid>").arg(pic));
    EXPECT_EQ(picture.value(QStringLiteral("size")).toInt(), 3000);
    EXPECT_EQ(parts[5].toObject().value(QStringLiteral("filename")).toString(), QStringLiteral("pic.png"));
    EXPECT_EQ(parts[6].toObject().value(QStringLiteral("filename")).toString(), QStringLiteral("r\u00e9sum\u00e9.txt"));
    EXPECT_EQ(parts[6].toObject().value(QStringLiteral("text")).toString(), QStringLiteral("notes"));

    EXPECT_EQ(parentOf(m), sendbox_);
    EXPECT_EQ(mailColumn(m, "directsend"), QStringLiteral("N"));
    EXPECT_FALSE(mailColumn(m, "sent").isEmpty());
    EXPECT_EQ(column(QStringLiteral("info"), QStringLiteral("haschild"), outbox_), QStringLiteral("N"));
}

TEST_P(MailSendTest, StartTlsWithAuthAndCredentialsRefusedWithoutTls) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    const QString m = queue(doc(QStringLiteral("S"), QStringLiteral("<html><body>s</body></html>")),
                            QStringLiteral("x@example.test"));
    // Credentials over a plain connection, not allowed: nothing is sent, the message stays.
    SmtpAccount plain = account(env.value(QStringLiteral("SMTP_PLAIN")));
    plain.authSmtp = true;
    plain.user = QStringLiteral("alice");
    plain.password = QStringLiteral("secret-pw");
    const int plainBefore = int(SpoolOf(env, QStringLiteral("plain")).size());
    QList<Row> rows = send(plain);
    EXPECT_EQ(okRows(rows), 0) << dump(rows);
    EXPECT_EQ(parentOf(m), outbox_);
    EXPECT_EQ(SpoolOf(env, QStringLiteral("plain")).size(), plainBefore);

    SmtpAccount tls = account(env.value(QStringLiteral("SMTP_STARTTLS")));
    tls.tls = SmtpTlsMode::StartTls;
    tls.caFile = env.value(QStringLiteral("SEND_CA_FILE"));
    tls.authSmtp = true;
    tls.user = QStringLiteral("alice");
    tls.password = QStringLiteral("secret-pw");
    const int before = int(SpoolOf(env, QStringLiteral("starttls")).size());
    rows = send(tls);
    EXPECT_EQ(okRows(rows), 1) << dump(rows);
    const auto got = WaitForSpool(env, QStringLiteral("starttls"), before + 1);
    ASSERT_EQ(got.size(), before + 1);
    const QJsonObject meta = QJsonDocument::fromJson(got.last().json).object();
    EXPECT_EQ(meta.value(QStringLiteral("login")).toString(), QStringLiteral("alice"));
    EXPECT_TRUE(meta.value(QStringLiteral("tls")).toBool());
    EXPECT_EQ(parentOf(m), sendbox_);
}

TEST_P(MailSendTest, FaultyServers) {
    const QString d = doc(QStringLiteral("F"), QStringLiteral("<html><body>f</body></html>"));
    {
        SCOPED_TRACE("RCPT 550 then 250: sent, with a row for the refused recipient");
        const QString m = queue(d, QStringLiteral("gone@example.test; here@example.test"));
        FakeSmtp s;
        s.rcptReplies = {"550 5.1.1 gone", "250 ok"};
        const QList<Row> rows = send(account(QStringLiteral("127.0.0.1:%1").arg(s.start())));
        s.stop();
        EXPECT_EQ(okRows(rows), 1) << dump(rows);
        ASSERT_EQ(rows.size(), 2) << dump(rows);
        EXPECT_TRUE(rows[0].text.contains(QStringLiteral("gone@example.test"))) << dump(rows);
        EXPECT_EQ(parentOf(m), sendbox_);
    }
    {
        SCOPED_TRACE("EHLO 500: HELO, and the messages go");
        const QString m = queue(d, QStringLiteral("x@example.test"));
        FakeSmtp s;
        s.ehlo = {"500 5.5.2 no EHLO here"};
        const QList<Row> rows = send(account(QStringLiteral("127.0.0.1:%1").arg(s.start())));
        s.stop();
        EXPECT_EQ(okRows(rows), 1) << dump(rows);
        EXPECT_TRUE(s.received().contains("\r\nHELO ")) << s.received().toStdString();
        EXPECT_EQ(parentOf(m), sendbox_);
    }
    {
        SCOPED_TRACE("close after DATA 250: that message counts as sent, the next one connects again");
        const QString m1 = queue(d, QStringLiteral("x@example.test"));
        const QString m2 = queue(d, QStringLiteral("y@example.test"));
        FakeSmtp s;
        s.closeAfterData = true;
        const QList<Row> rows = send(account(QStringLiteral("127.0.0.1:%1").arg(s.start())));
        s.stop();
        EXPECT_EQ(okRows(rows), 2) << dump(rows);
        EXPECT_EQ(s.connections(), 2);
        EXPECT_EQ(s.messages().size(), 2);
        EXPECT_EQ(parentOf(m1), sendbox_);
        EXPECT_EQ(parentOf(m2), sendbox_);
    }
    {
        SCOPED_TRACE("a stalled server: the message stays in the outbox with an error row");
        const QString m = queue(d, QStringLiteral("x@example.test"));
        FakeSmtp s;
        s.stall = true;
        SendRun run(db());
        run.direct.timeout = 1;
        QList<Row> rows;
        run.observer.row = [&rows](const QString& a, bool ok, const QString& t) { rows += Row{a, ok, t}; };
        SendAccount(run, account(QStringLiteral("127.0.0.1:%1").arg(s.start())));
        s.stop();
        EXPECT_EQ(okRows(rows), 0);
        EXPECT_EQ(rows.size(), 1) << dump(rows);
        EXPECT_EQ(parentOf(m), outbox_);
    }
}

TEST_P(MailSendTest, EightBitTextGoesQuotedPrintableToServersWithout8BitMime) {
    const QString m = queue(doc(QStringLiteral("U"), QStringLiteral("<html><body>\u00fcber</body></html>")),
                            QStringLiteral("x@example.test"));
    FakeSmtp s;
    s.ehlo = {"250-fake.test", "250 HELP"};
    const QList<Row> rows = send(account(QStringLiteral("127.0.0.1:%1").arg(s.start())));
    s.stop();
    EXPECT_EQ(okRows(rows), 1) << dump(rows);
    ASSERT_EQ(s.messages().size(), 1);
    const QByteArray msg = s.messages()[0];
    for (const char c : msg)
        ASSERT_LT(static_cast<unsigned char>(c), 128) << msg.toStdString();
    EXPECT_TRUE(msg.contains("Content-Transfer-Encoding: quoted-printable"));
    EXPECT_FALSE(s.received().contains("BODY=8BITMIME"));
    EXPECT_EQ(parentOf(m), sendbox_);
}

TEST_P(MailSendTest, DirectDeliveryPerDomainByPreference) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    const QString m = queue(doc(QStringLiteral("D"), QStringLiteral("<html><body>direct</body></html>")),
                            QStringLiteral("a@example.test; b@aonly.test; c@fallback.test"), true);
    const int mx10 = int(SpoolOf(env, QStringLiteral("direct-127.0.0.3")).size());
    const int aonly = int(SpoolOf(env, QStringLiteral("direct-127.0.0.2")).size());
    const int mx20 = int(SpoolOf(env, QStringLiteral("direct-127.0.0.4")).size());
    SmtpAccount a = account(QString()); // no SMTP server at all
    const QList<Row> rows = send(a, env);
    EXPECT_EQ(okRows(rows), 1) << dump(rows);
    EXPECT_EQ(rows.size(), 1) << dump(rows);
    // example.test: preference 10 (127.0.0.3, over STARTTLS checked against the test CA).
    auto got = WaitForSpool(env, QStringLiteral("direct-127.0.0.3"), mx10 + 1);
    ASSERT_EQ(got.size(), mx10 + 1);
    QJsonObject meta = QJsonDocument::fromJson(got.last().json).object();
    EXPECT_EQ(meta.value(QStringLiteral("rcpt_tos")).toArray(), QJsonArray{QStringLiteral("a@example.test")});
    EXPECT_TRUE(meta.value(QStringLiteral("tls")).toBool());
    // aonly.test: no MX, its own address.
    got = WaitForSpool(env, QStringLiteral("direct-127.0.0.2"), aonly + 1);
    ASSERT_EQ(got.size(), aonly + 1);
    meta = QJsonDocument::fromJson(got.last().json).object();
    EXPECT_EQ(meta.value(QStringLiteral("rcpt_tos")).toArray(), QJsonArray{QStringLiteral("b@aonly.test")});
    // fallback.test: its first exchanger refuses connections, the next one takes it.
    got = WaitForSpool(env, QStringLiteral("direct-127.0.0.4"), mx20 + 1);
    ASSERT_EQ(got.size(), mx20 + 1);
    meta = QJsonDocument::fromJson(got.last().json).object();
    EXPECT_EQ(meta.value(QStringLiteral("rcpt_tos")).toArray(), QJsonArray{QStringLiteral("c@fallback.test")});
    // Every copy carries all recipients in its header.
    const QJsonObject parsed = QJsonDocument::fromJson(ParseWithPython(got.last().eml)).object();
    EXPECT_EQ(parsed.value(QStringLiteral("to")).toString(),
              QStringLiteral("a@example.test, b@aonly.test, c@fallback.test"));
    EXPECT_EQ(parentOf(m), sendbox_);
    EXPECT_EQ(mailColumn(m, "directsend"), QStringLiteral("Y"));

    // Anonymous: nothing of the account reaches the exchanger.
    const QString anon = queue(doc(QStringLiteral("A"), QStringLiteral("<html><body>a</body></html>")),
                               QStringLiteral("b@aonly.test"), true, true);
    const QList<Row> anonRows = send(a, env);
    EXPECT_EQ(okRows(anonRows), 1) << dump(anonRows);
    got = WaitForSpool(env, QStringLiteral("direct-127.0.0.2"), aonly + 2);
    ASSERT_EQ(got.size(), aonly + 2);
    meta = QJsonDocument::fromJson(got.last().json).object();
    EXPECT_EQ(meta.value(QStringLiteral("mail_from")).toString(), QStringLiteral("anonymous@zel.invalid"));
    EXPECT_EQ(meta.value(QStringLiteral("helo")).toString(), QStringLiteral("abc"));
    EXPECT_FALSE(got.last().eml.contains("me@zel.test"));
    EXPECT_EQ(parentOf(anon), sendbox_);
}

TEST_P(MailSendTest, NoExchangerFallsBackToTheAccountServerUnlessAnonymous) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    const QString d = doc(QStringLiteral("N"), QStringLiteral("<html><body>n</body></html>"));
    const QString anon = queue(d, QStringLiteral("x@nosuch.test"), true, true);
    FakeSmtp s;
    SmtpAccount a = account(QStringLiteral("127.0.0.1:%1").arg(s.start()));
    QList<Row> rows = send(a, env);
    EXPECT_EQ(okRows(rows), 0) << dump(rows);
    EXPECT_EQ(parentOf(anon), outbox_);
    EXPECT_EQ(s.connections(), 0); // an anonymous message never goes through the account

    // Made non-anonymous: the account's server takes it.
    TMailmsgReg rec = ReadMailRow(db(), GetMailId(db(), anon));
    rec.anonymity = false;
    ASSERT_TRUE(UpdateMailRow(db(), GetMailId(db(), anon), rec));
    rows = send(a, env);
    s.stop();
    EXPECT_EQ(okRows(rows), 1) << dump(rows);
    EXPECT_EQ(s.messages().size(), 1);
    EXPECT_EQ(parentOf(anon), sendbox_);
    EXPECT_EQ(mailColumn(anon, "directsend"), QStringLiteral("N"));
}

// Two runs on their own connections at once: every message goes exactly once.
TEST_P(MailSendTest, ConcurrentRunsSendEachMessageOnce) {
    const QString d = doc(QStringLiteral("C"), QStringLiteral("<html><body>c</body></html>"));
    QStringList ids;
    for (int i = 0; i < 12; ++i)
        ids += queue(d, QStringLiteral("x%1@example.test").arg(i));
    FakeSmtp s;
    const SmtpAccount a = account(QStringLiteral("127.0.0.1:%1").arg(s.start()));
    std::atomic<int> ok{0};
    auto worker = [&] {
        auto other = openAnother();
        SendRun run(*other);
        run.direct.timeout = 10;
        run.observer.row = [&ok](const QString&, bool good, const QString&) { ok += good ? 1 : 0; };
        SendAccount(run, a);
    };
    std::thread t1(worker), t2(worker);
    t1.join();
    t2.join();
    s.stop();
    EXPECT_EQ(ok.load(), 12);
    EXPECT_EQ(s.messages().size(), 12);
    for (const QString& id : ids)
        EXPECT_EQ(parentOf(id), sendbox_);

    // A message another run holds is left alone, and a run for that one message says so.
    const QString held = queue(d, QStringLiteral("held@example.test"));
    ASSERT_TRUE(db().exec(
        QStringLiteral("insert into zel_mail_claim (infoid,claimed,owner) values (:id,:now,'other')"),
        {{QStringLiteral(":id"), held.toLongLong()}, {QStringLiteral(":now"), QDateTime::currentSecsSinceEpoch()}}));
    FakeSmtp s2;
    SendRun one(db());
    one.nodeId = held;
    QList<Row> rows;
    one.observer.row = [&rows](const QString& acc, bool good, const QString& text) { rows += Row{acc, good, text}; };
    SendAccount(one, account(QStringLiteral("127.0.0.1:%1").arg(s2.start())));
    s2.stop();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_FALSE(rows[0].ok);
    EXPECT_TRUE(rows[0].text.contains(QStringLiteral("another run"))) << rows[0].text.toStdString();
    EXPECT_EQ(s2.connections(), 0);
    EXPECT_EQ(parentOf(held), outbox_);
    // A claim left by a run that died long ago does not block it for ever.
    ASSERT_TRUE(db().exec(QStringLiteral("update zel_mail_claim set claimed=:old where infoid=:id"),
                          {{QStringLiteral(":old"), QDateTime::currentSecsSinceEpoch() - 3600},
                           {QStringLiteral(":id"), held.toLongLong()}}));
    FakeSmtp s3;
    rows.clear();
    SendAccount(one, account(QStringLiteral("127.0.0.1:%1").arg(s3.start())));
    s3.stop();
    EXPECT_EQ(okRows(rows), 1) << dump(rows);
    EXPECT_EQ(parentOf(held), sendbox_);
}

// The mail run's send phase: its Cancel reaches a connection that waits for a stalled server.
TEST_P(MailSendTest, CancelOfTheRunEndsAStalledSend) {
    const QString m = queue(doc(QStringLiteral("R"), QStringLiteral("<html><body>r</body></html>")),
                            QStringLiteral("x@example.test"));
    FakeSmtp s;
    s.stall = true;
    TMailReg acc;
    acc.name = QStringLiteral("work");
    acc.mailAddress = QStringLiteral("me@zel.test");
    acc.pop3 = QStringLiteral("127.0.0.1");
    acc.smtp = QStringLiteral("127.0.0.1");
    acc.smtpPort = s.start();
    acc.smtpTls = MailTls::None;
    acc.authSmtp = false;
    ASSERT_FALSE(InsertAccount(db(), acc, QStringLiteral("admin")).isEmpty()) << db().lastError().toStdString();
    TMail run(scratch().connectionString(), TMail::SendOnly, QStringLiteral("admin"));
    run.start();
    QThread::msleep(500); // connected and waiting for the greeting's follow-up
    run.cancel();
    // The run's time limit is a minute; only the cancel can end it this soon.
    EXPECT_TRUE(run.wait(10000));
    s.stop();
    bool failed = false;
    for (const TMail::Result& r : run.results())
        failed = failed || !r.ok;
    EXPECT_TRUE(failed);
    EXPECT_EQ(parentOf(m), outbox_);
}

ZEL_INSTANTIATE_DB_TEST(MailSendTest);

} // namespace
