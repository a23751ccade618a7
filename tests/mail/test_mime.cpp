// Incoming messages to documents: the corpus under tests/data/mime (one file per shape), header
// words and charsets, and storing on both databases with references rewritten to attachments.
#include <QFile>
#include <gtest/gtest.h>

#include "mail/MailAccounts.h"
#include "mail/MailCharset.h"
#include "mail/TMimeDecorder.h"
#include "platform/CodePage.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Users.h"
#include "support/TestKb.h"

using namespace zel;
using zel::test::DbTest;

namespace {

QByteArray corpus(const char* name) {
    QFile f(QStringLiteral(ZEL_MIME_CORPUS "/") + QString::fromUtf8(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

QStringList names(const TMimeDecorder& d) {
    QStringList out;
    for (const TMsgPartInfo& p : d.parts)
        out << p.fileName;
    return out;
}

} // namespace

TEST(MimeCorpus, EachShapeBecomesTheRightDocument) {
    setSystemCodePage("windows-1252");
    struct Case {
        const char* file;
        QString caption;
        QStringList bodyHas;
        QStringList bodyLacks;
        QStringList attachments;
    };
    const QList<Case> cases{
        {"nested-mixed-alternative-related.eml",
         QStringLiteral("Nested parts"),
         {QStringLiteral("<p>Rich version</p>"), QStringLiteral("src=\"cid:logo@example.org\"")},
         {QStringLiteral("Plain version"), QStringLiteral("multi-part message")},
         {QStringLiteral("logo.png"), QStringLiteral("report.pdf")}},
        {"base64-and-qp-soft-breaks.eml",
         QStringLiteral("Soft breaks"),
         {QStringLiteral("café au lait"), QStringLiteral("by the <br>"), QStringLiteral("with a soft break here.=")},
         {},
         {QStringLiteral("notes.txt")}},
        {"rfc2047-adjacent-words.eml", QStringLiteral("one two three and =?x plain"), {QStringLiteral("body")}, {}, {}},
        {"rfc2047-gb2312.eml", QStringLiteral("你好"), {QStringLiteral("中文正文")}, {}, {}},
        {"rfc2047-iso-2022-jp.eml", QStringLiteral("にほんご"), {QStringLiteral("日本語の本文")}, {}, {}},
        {"rfc2231-continuations.eml",
         QStringLiteral("Parameters"),
         {QStringLiteral("See the files.")},
         {},
         {QStringLiteral("€uro Plan.txt"), QStringLiteral("Report.PDF")}},
        {"no-charset-utf8-body.eml", QStringLiteral("No charset"), {QStringLiteral("Grüße aus Köln")}, {}, {}},
        {"no-charset-latin1-body.eml", QStringLiteral("Latin"), {QStringLiteral("Café crème")}, {}, {}},
        {"8bit-headers.eml", QStringLiteral("Grüße 😀 from Jörg"), {QStringLiteral("Text")}, {}, {}},
        {"8bit-headers-codepage.eml", QStringLiteral("Grüße"), {}, {}, {}},
        {"nameless-cid-pictures.eml",
         QStringLiteral("Pictures"),
         {QStringLiteral("cid:missing")},
         {},
         {QStringLiteral("image1.png"), QStringLiteral("image2.gif"), QStringLiteral("image3.gif")}},
        {"content-location.eml", QStringLiteral("Locations"), {}, {}, {QStringLiteral("a.gif")}},
        {"uuencode-in-body.eml",
         QStringLiteral("Old attachment"),
         {QStringLiteral("Here is the file:"), QStringLiteral("Bye.")},
         {QStringLiteral("begin 644"), QStringLiteral("%:&amp;5L")},
         {QStringLiteral("hello.txt")}},
        {"list-footer.eml",
         QStringLiteral("List post"),
         {QStringLiteral("<p>The post</p><hr>"), QStringLiteral("List mailing list footer")},
         {},
         {}},
        {"truncated.eml",
         QStringLiteral("Cut short"),
         {QStringLiteral("The beginning survives")},
         {},
         {QStringLiteral("half.bin")}},
        {"repeated-names.eml",
         QStringLiteral("Same names"),
         {QStringLiteral("Two files, one name.")},
         {QStringLiteral("first"), QStringLiteral("second")},
         {QStringLiteral("a.txt"), QStringLiteral("A (2).TXT")}},
        {"plain-text-escaped.eml",
         QStringLiteral("Markup as text"),
         {QStringLiteral("&lt;b&gt;not bold&lt;/b&gt; &amp; more<br>"), QStringLiteral("second &nbsp;line")},
         {QStringLiteral("<b>")},
         {}},
        {"boundary-trailing-blanks.eml",
         QStringLiteral("Boundaries"),
         {QStringLiteral("first part<br>\r\n--b1x is not a boundary")},
         {},
         {QStringLiteral("x.bin")}},
        {"html-only.eml", QStringLiteral("HTML alone"), {QStringLiteral("<html><body><p>Café</p>")}, {}, {}},
        {"html-meta-charset.eml", QStringLiteral("Meta"), {QStringLiteral("<body>ą</body>")}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TMimeDecorder d;
        d.decode(corpus(c.file));
        EXPECT_EQ(d.subject, c.caption);
        for (const QString& s : c.bodyHas)
            EXPECT_TRUE(d.html.contains(s)) << s.toStdString() << "\n in: " << d.html.toStdString();
        for (const QString& s : c.bodyLacks)
            EXPECT_FALSE(d.html.contains(s)) << s.toStdString() << "\n in: " << d.html.toStdString();
        EXPECT_EQ(names(d), c.attachments);
    }
}

TEST(MimeCorpus, PartsKeepTheirBytesAndIds) {
    TMimeDecorder d;
    d.decode(corpus("nested-mixed-alternative-related.eml"));
    ASSERT_EQ(d.parts.size(), 2);
    EXPECT_EQ(d.parts[0].contentId, QByteArray("logo@example.org"));
    EXPECT_EQ(d.parts[0].data.left(4), QByteArray("\x89PNG"));
    EXPECT_EQ(d.parts[1].data, QByteArray("%PDF-1.4\n"));
    EXPECT_EQ(d.mailRow.mailAddress, QStringLiteral("Bob <bob@example.org>, carol@example.org"));
    EXPECT_EQ(d.mailRow.ccList, QStringLiteral("dave@example.org"));
    EXPECT_EQ(d.mailRow.account, QStringLiteral("Ann <ann@example.org>"));
    EXPECT_EQ(d.mailRow.replyAddress, QStringLiteral("Ann <ann@example.org>"));

    TMimeDecorder uu;
    uu.decode(corpus("uuencode-in-body.eml"));
    ASSERT_EQ(uu.parts.size(), 1);
    EXPECT_EQ(uu.parts[0].data, QByteArray("hello"));

    TMimeDecorder p;
    p.decode(corpus("rfc2231-continuations.eml"));
    ASSERT_EQ(p.parts.size(), 2);
    EXPECT_EQ(p.parts[0].data, QByteArray("euro"));

    // The subject is decoded once: text that looks like an encoded word after decoding stays.
    TMimeDecorder once;
    once.decode("Subject: =?utf-8?Q?=3D=3Futf-8=3FQ=3Fx=3F=3D?=\r\n\r\nbody\r\n");
    EXPECT_EQ(once.subject, QStringLiteral("=?utf-8?Q?x?="));

    TMimeDecorder b;
    b.decode(corpus("boundary-trailing-blanks.eml"));
    ASSERT_EQ(b.parts.size(), 1);
    EXPECT_EQ(b.parts[0].data, QByteArray("data"));
}

TEST(MailHeaders, EncodedWordsAndEightBitText) {
    setSystemCodePage("windows-1252");
    struct Case {
        QByteArray in;
        QString out;
    };
    const QList<Case> cases{
        {"plain text", QStringLiteral("plain text")},
        {"=?utf-8?B?w6Q=?=", QStringLiteral("ä")},
        {"=?UTF-8?q?a_b=3Dc?=", QStringLiteral("a b=c")},
        {"=?utf-8?q?a?= =?utf-8?q?b?=", QStringLiteral("ab")},      // blanks between words go
        {"=?utf-8?q?a?= x =?utf-8?q?b?=", QStringLiteral("a x b")}, // other text stays
        {"x =?utf-8?q?a?=  y", QStringLiteral("x a  y")},           // blanks next to plain text stay
        {"=?utf-8?B?4oK=?= =?utf-8?B?rA==?=", QStringLiteral("€")}, // a character split over two words
        {"cost =? 5", QStringLiteral("cost =? 5")},                 // not a word: once, unchanged
        {"=?utf-8?q?unterminated", QStringLiteral("=?utf-8?q?unterminated")},
        {"=?bogus-charset?q?abc?=", QStringLiteral("abc")},
        {"=?iso-8859-1?q?caf=E9?=", QStringLiteral("café")},
        {"=?utf-8*en?q?lang?=", QStringLiteral("lang")},
        {QByteArray("a\r\n b\0c", 7), QStringLiteral("a   bc")},
        {"Gr\xc3\xbc\xc3\x9f", QStringLiteral("Grüß")},   // 8-bit UTF-8
        {"Gr\xfc\xdf", QStringLiteral("Grüß")},           // 8-bit code page
        {"\xf0\x9f\x98\x80", QStringLiteral("😀")},        // four-byte form
        {"=?utf-8?q?x=0D=0Ay?=", QStringLiteral("x  y")}, // no line break survives
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeHeaderWords(c.in), c.out) << c.in.toStdString();

    struct U {
        QByteArray in;
        bool looks;
    };
    const QList<U> utf{{"ascii", false},           {"\xc3\xa4", true},      {"\xe2\x82\xac", true},
                       {"\xf0\x9f\x98\x80", true}, {"\xc3", false},         {"\xe4\xf6", false},
                       {"\xc0\xaf", false},        {"\xed\xa0\x80", false}, {"a\xc3\xa4z", true}};
    for (const U& u : utf)
        EXPECT_EQ(LooksLikeUtf8(u.in), u.looks) << u.in.toHex().toStdString();
}

namespace {

class MimeStoreTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        createSchema();
        CurrentUser() = TuserReg{};
        CurrentUser().code = QStringLiteral("admin");
        CurrentUser().name = QStringLiteral("Admin");
        Tinfoproperty p;
        p.caption = QStringLiteral("Inbox");
        folder_ = InsertNode(db(), p, QStringLiteral("0"));
        ASSERT_FALSE(folder_.isEmpty());
    }
    QString folder_;
};

} // namespace

TEST_P(MimeStoreTest, ReferencesPointAtTheStoredAttachments) {
    const QString node = ConvertMessage(db(), corpus("nameless-cid-pictures.eml"), folder_, QStringLiteral("E"));
    ASSERT_FALSE(node.isEmpty()) << db().lastError().toStdString();
    const QString one = FindAttachmentId(db(), node, QStringLiteral("image1.png"));
    const QString two = FindAttachmentId(db(), node, QStringLiteral("image2.gif"));
    const QString bg = FindAttachmentId(db(), node, QStringLiteral("image3.gif"));
    ASSERT_FALSE(one.isEmpty());
    const QString html = QString::fromUtf8(ReadDocumentContent(db(), node));
    EXPECT_TRUE(html.contains(QStringLiteral("<img src=\"link://document/__zel_@cid:/%1\">").arg(one)))
        << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("<IMG SRC=\"link://document/__zel_@cid:/%1\">").arg(two)));
    EXPECT_TRUE(html.contains(QStringLiteral("<body background=\"link://document/__zel_@cid:/%1\">").arg(bg)));
    // Content ids compare exactly first, then without regard to case.
    EXPECT_TRUE(html.contains(QStringLiteral("<table background=\"link://document/__zel_@cid:/%1\">").arg(bg)));
    EXPECT_TRUE(html.contains(QStringLiteral("<td background=\"cid:none\">")));
    EXPECT_TRUE(html.contains(QStringLiteral("<img src=\"cid:missing\">")));

    const QString loc = ConvertMessage(db(), corpus("content-location.eml"), folder_, QStringLiteral("E"));
    ASSERT_FALSE(loc.isEmpty());
    const QString a = FindAttachmentId(db(), loc, QStringLiteral("a.gif"));
    const QString html2 = QString::fromUtf8(ReadDocumentContent(db(), loc));
    EXPECT_TRUE(html2.contains(QStringLiteral("src=\"link://document/__zel_@cid:/%1\"").arg(a))) << html2.toStdString();
    EXPECT_TRUE(html2.contains(QStringLiteral("src=\"http://example.org/other.gif\"")));

    // A declared charset becomes UTF-8: the stored text is Unicode.
    const QString meta = ConvertMessage(db(), corpus("html-meta-charset.eml"), folder_, QStringLiteral("I"));
    const QString html3 = QString::fromUtf8(ReadDocumentContent(db(), meta));
    EXPECT_TRUE(html3.contains(QStringLiteral("content=\"text/html; charset=utf-8\""))) << html3.toStdString();
    EXPECT_TRUE(html3.contains(QStringLiteral("<body>ą</body>")));
}

TEST_P(MimeStoreTest, NodeAndMailRowCarryTheMessage) {
    const QString node =
        ConvertMessage(db(), corpus("nested-mixed-alternative-related.eml"), folder_, QStringLiteral("I"));
    ASSERT_FALSE(node.isEmpty()) << db().lastError().toStdString();
    EXPECT_EQ(GetNodeCaption(db(), node), QStringLiteral("Nested parts"));
    EXPECT_EQ(CountAttachments(db(), node), 2);
    Query q(db(),
            QStringLiteral("select m.subject,m.mailaddress,m.cclist,m.replyaddress,m.account,m.received,i.mailtype,"
                           "i.parentnode from info i join mail m on m.id=i.mailid where i.id=:id"),
            {{QStringLiteral(":id"), node.toLongLong()}});
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.text(0), QStringLiteral("Nested parts"));
    EXPECT_EQ(q.text(1), QStringLiteral("Bob <bob@example.org>, carol@example.org"));
    EXPECT_EQ(q.text(2), QStringLiteral("dave@example.org"));
    EXPECT_EQ(q.text(3), QStringLiteral("Ann <ann@example.org>"));
    EXPECT_EQ(q.text(4), QStringLiteral("Ann <ann@example.org>"));
    EXPECT_TRUE(dbDateTime(q.value(5)).isValid());
    EXPECT_EQ(q.text(6), QStringLiteral("I"));
    EXPECT_EQ(q.integer(7), folder_.toLongLong());

    // Values longer than their columns are cut, not refused (PostgreSQL checks widths).
    QByteArray big = "From: " + QByteArray(300, 'f') + "@example.org\r\nSubject: " + QByteArray(400, 's') +
                     "\r\nTo: " + QByteArray(600, 't') + "\r\n\r\nx\r\n";
    const QString longNode = ConvertMessage(db(), big, folder_, QStringLiteral("I"));
    ASSERT_FALSE(longNode.isEmpty()) << db().lastError().toStdString();
    EXPECT_EQ(GetNodeCaption(db(), longNode), QString(120, u's'));
}

ZEL_INSTANTIATE_DB_TEST(MimeStoreTest);
