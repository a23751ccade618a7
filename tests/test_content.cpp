// Document content and attachments on both databases.
#include "StoreFixture.h"

#include "platform/CodePage.h"
#include "store/Compression.h"
#include "store/Content.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace zel::test {
namespace {

class Content : public StoreTest {
protected:
    QByteArray storedDocument(const QString& attId) {
        return db()
            .scalar(QStringLiteral("select document from accessories where id=:id"),
                    {{QStringLiteral(":id"), attId.toLongLong()}})
            .toByteArray();
    }
};

QByteArray utf16(const QString& s, bool bigEndian) {
    QByteArray out = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (const QChar c : s) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo);
        out.append(bigEndian ? lo : hi);
    }
    return out;
}

TEST_P(Content, EveryByteOrderMarkFormReadsBackAsUtf8) {
    const QString text = QStringLiteral("<p>Café – ünïcødé</p>");
    const QString latin = QStringLiteral("<p>Café</p>"); // the system code page holds only these
    const struct {
        const char* name;
        QByteArray bytes;
        QString expected;
        bool compressed;
    } cases[] = {
        {"utf-16 le", utf16(text, false), text, true},
        {"utf-16 be", utf16(text, true), text, true},
        {"utf-8 with mark", "\xEF\xBB\xBF" + text.toUtf8(), text, true},
        {"system code page", toSystemCodePage(latin), latin, true},
        {"utf-8 stored without compression", "\xEF\xBB\xBF" + text.toUtf8(), text, false},
    };
    const QString node = add(QStringLiteral("0"), QStringLiteral("doc"));
    for (const auto& c : cases) {
        if (c.compressed) {
            QByteArray stream = c.bytes;
            ASSERT_TRUE(WriteDocumentContent(db(), node, stream)) << c.name;
            EXPECT_EQ(DecompressStream(stream), c.bytes) << "the caller's stream holds the stored form";
        } else {
            ASSERT_TRUE(db().exec(QStringLiteral("update info set content=:c where id=:id"),
                                  {{QStringLiteral(":c"), c.bytes}, {QStringLiteral(":id"), node.toLongLong()}}));
        }
        QString status;
        EXPECT_EQ(QString::fromUtf8(ReadDocumentContent(db(), node, &status)), c.expected) << c.name;
        EXPECT_EQ(status, QStringLiteral("File Size : 0KB")) << c.name;
    }
}

TEST_P(Content, WrittenTextIsStoredAsUtf16WithCrLf) {
    const QString node = add(QStringLiteral("0"), QStringLiteral("doc"));
    ASSERT_TRUE(WriteDocumentText(db(), node, QStringLiteral("a\nb")));
    const QByteArray stored = db().scalar(QStringLiteral("select content from info where id=:id"),
                                          {{QStringLiteral(":id"), node.toLongLong()}})
                                  .toByteArray();
    const QByteArray expected("\xFF\xFE"
                              "a\0\r\0\n\0b\0\r\0\n\0",
                              14);
    EXPECT_EQ(DecompressStream(stored), expected) << "every line ends in CR LF";
    QByteArray field;
    EXPECT_EQ(WriteContentField(field, QStringLiteral("abc\r\n")), 12);
    EXPECT_FALSE(WriteDocumentText(db(), QStringLiteral("987654"), QStringLiteral("x"))) << "no such node";
}

TEST_P(Content, MissingContentGivesPageWithCaptionOrMissingText) {
    const QString node = add(QStringLiteral("0"), QStringLiteral("Empty <one>"));
    ASSERT_TRUE(db().exec(QStringLiteral("update info set content=null where id=:id"),
                          {{QStringLiteral(":id"), node.toLongLong()}}));
    const QString page = QString::fromUtf8(ReadDocumentContent(db(), node));
    EXPECT_TRUE(page.contains(QStringLiteral("  <body>\r\nEmpty &lt;one&gt;\r\n  </body>\r\n"))) << page.toStdString();
    const QString missing = QString::fromUtf8(ReadDocumentContent(db(), QStringLiteral("987654")));
    EXPECT_TRUE(missing.contains(QStringLiteral("Not find FIle"))) << missing.toStdString();
}

TEST_P(Content, PicturesNamedGifOrJpgAreStoredRaw) {
    const QString node = add(QStringLiteral("0"), QStringLiteral("doc"));
    const QByteArray data(3000, 'x');
    const struct {
        const char* name;
        bool raw;
    } cases[] = {{"a.GIF", true}, {"b.Jpg", true}, {"c.gif", true}, {"d.png", false}, {"e.jpeg", false}, {"f", false}};
    for (const auto& c : cases) {
        const QString name = QString::fromUtf8(c.name);
        const QString id = SaveAttachmentFromStream(db(), data, node, name);
        ASSERT_FALSE(id.isEmpty()) << c.name;
        EXPECT_EQ(storedDocument(id) == data, c.raw) << c.name;
        EXPECT_EQ(ReadAttachmentByName(db(), node, name), data) << c.name;
        QByteArray byId;
        EXPECT_EQ(ReadAttachmentById(db(), byId, id), name);
        EXPECT_EQ(byId, data) << c.name;
    }
}

TEST_P(Content, SameNameReplacesAndKeepsIdAndCreateTime) {
    const QString node = add(QStringLiteral("0"), QStringLiteral("doc"));
    const QString id = SaveAttachmentFromStream(db(), "first", node, QStringLiteral("Notes.txt"));
    ASSERT_TRUE(db().exec(QStringLiteral("update accessories set createtime=:t,lasttime=:t where id=:id"),
                          {{QStringLiteral(":t"), QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6))},
                           {QStringLiteral(":id"), id.toLongLong()}}));
    EXPECT_EQ(SaveAttachmentFromStream(db(), "second, longer", node, QStringLiteral("notes.TXT")), id);
    EXPECT_EQ(ReadAttachmentByName(db(), node, QStringLiteral("Notes.txt")), QByteArray("second, longer"));
    const auto list = FillAttachmentList(db(), node);
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].createTime.date(), QDate(2001, 2, 3));
    EXPECT_GT(list[0].lastTime.date(), QDate(2001, 2, 3));
    EXPECT_EQ(list[0].size, 14);
    EXPECT_EQ(list[0].fileName, QStringLiteral("Notes.txt"));
    EXPECT_TRUE(SaveAttachmentFromStream(db(), "x", QStringLiteral("987654"), QStringLiteral("a.txt")).isEmpty());
}

TEST_P(Content, PurgedAttachmentIsHiddenButStillFoundByName) {
    const QString node = add(QStringLiteral("0"), QStringLiteral("doc"));
    const QString id = SaveAttachmentFromStream(db(), "bytes", node, QStringLiteral("x.txt"));
    ASSERT_TRUE(DeleteAttachment(db(), id));
    EXPECT_EQ(state(QStringLiteral("accessories"), id), QStringLiteral("D"));
    EXPECT_TRUE(FillAttachmentList(db(), node).isEmpty());
    EXPECT_EQ(CountAttachments(db(), node), 0);
    QByteArray stream("old");
    EXPECT_TRUE(ReadAttachmentById(db(), stream, id).isEmpty());
    EXPECT_TRUE(stream.isEmpty());
    EXPECT_EQ(FindAttachmentId(db(), node, QStringLiteral("X.TXT")), id);
    EXPECT_EQ(GetAttachmentFileName(db(), id), QStringLiteral("x.txt"));
    bool found = false;
    EXPECT_EQ(ReadAttachmentByName(db(), node, QStringLiteral("x.txt"), &found), QByteArray("bytes"));
    EXPECT_TRUE(found);
    EXPECT_FALSE(IsAttachmentNameTaken(db(), node, QStringLiteral("0"), QStringLiteral("x.txt")));
    const QString fresh = SaveAttachmentFromStream(db(), "new", node, QStringLiteral("x.txt"));
    EXPECT_NE(fresh, id) << "a purged row is not replaced";
    // The live attachment of the name comes first, for every lookup by name.
    EXPECT_EQ(FindAttachmentId(db(), node, QStringLiteral("x.txt")), fresh);
    EXPECT_EQ(ReadAttachmentByName(db(), node, QStringLiteral("X.txt")), QByteArray("new"));
    EXPECT_EQ(PathUrlToCidUrl(db(), QStringLiteral("link://document/doc/x.txt")),
              QStringLiteral("link://document/__zel_@cid:/") + fresh);
}

TEST_P(Content, RenameMoveAndNameClashes) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(QStringLiteral("0"), QStringLiteral("B"));
    const QString one = SaveAttachmentFromStream(db(), "1", a, QStringLiteral("one.txt"));
    const QString two = SaveAttachmentFromStream(db(), "2", a, QStringLiteral("two.txt"));
    EXPECT_TRUE(IsAttachmentNameTaken(db(), a, one, QStringLiteral("TWO.txt")));
    EXPECT_FALSE(IsAttachmentNameTaken(db(), a, two, QStringLiteral("two.txt")));
    ASSERT_TRUE(RenameAttachment(db(), one, QStringLiteral("uno \"1\".txt")));
    EXPECT_EQ(GetAttachmentFileName(db(), one), QStringLiteral("uno \"1\".txt"));
    EXPECT_FALSE(RenameAttachment(db(), QStringLiteral(" "), QStringLiteral("x")));
    ASSERT_TRUE(MoveAttachment(db(), two, b));
    EXPECT_EQ(GetAttachmentNodeId(db(), two), b);
    EXPECT_EQ(GetAttachmentNodeId(db(), QStringLiteral("987654")), QStringLiteral("0"));
    EXPECT_EQ(CountAttachments(db(), a), 1);
}

TEST_P(Content, LinkUrlsConvertBothWays) {
    const QString a = add(QStringLiteral("0"), QStringLiteral("A"));
    const QString b = add(a, QStringLiteral("B"));
    const QString id = SaveAttachmentFromStream(db(), "GIF89a", b, QStringLiteral("x.gif"));
    const QString cid = QStringLiteral("link://document/__zel_@cid:/") + id;
    EXPECT_EQ(PathUrlToCidUrl(db(), QStringLiteral("link://document/A/B/x.gif")), cid);
    EXPECT_EQ(CidUrlToPathUrl(db(), cid), QStringLiteral("link://document/A/B/x.gif"));
    const struct {
        const char* in;
        const char* out;
    } unchanged[] = {{"link://document/A/B/missing.gif", nullptr},
                     {"link://document/A/C/x.gif", nullptr},
                     {"http://example.org/x.gif", nullptr}};
    for (const auto& c : unchanged)
        EXPECT_EQ(PathUrlToCidUrl(db(), QString::fromUtf8(c.in)), QString::fromUtf8(c.in)) << c.in;
    EXPECT_EQ(CidUrlToPathUrl(db(), QStringLiteral("link://document/__zel_@cid:/")), QString());
    EXPECT_EQ(CidUrlToPathUrl(db(), QStringLiteral("link://document/__zel_@cid:/987654")),
              QStringLiteral("link://document/__zel_@cid:/987654"));
}

TEST_P(Content, FilesComeInAndGoOutSafely) {
    QTemporaryDir dir;
    const QString node = add(QStringLiteral("0"), QStringLiteral("doc"));
    const QString src = dir.path() + QStringLiteral("/my docs.txt");
    {
        QFile f(src);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("file body");
    }
    const QString ref = QStringLiteral("file:///") + src.mid(1).replace(QStringLiteral(" "), QStringLiteral("%20"));
    const QString id = SaveAttachmentFromFile(db(), node, ref, QStringLiteral("my docs.txt"));
    ASSERT_FALSE(id.isEmpty());
    EXPECT_TRUE(
        SaveAttachmentFromFile(db(), node, QStringLiteral("file:///no/such/file"), QStringLiteral("n")).isEmpty());

    // A name from outside that tries to climb out of the target folder is written inside it.
    ASSERT_FALSE(SaveAttachmentFromStream(db(), "evil", node, QStringLiteral("../../escape.txt")).isEmpty());
    const QString out = dir.path() + QStringLiteral("/out");
    ASSERT_TRUE(QDir().mkpath(out));
    EXPECT_EQ(ExportAttachmentToFile(db(), node, QStringLiteral("../../escape.txt"), out), 4);
    EXPECT_FALSE(QFile::exists(dir.path() + QStringLiteral("/escape.txt")));
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral(".._.._escape.txt")});
    EXPECT_EQ(ExportAttachmentToFile(db(), node, QStringLiteral("my docs.txt"), out + QStringLiteral("/c.txt")), 9);
    EXPECT_EQ(ExportAttachmentToFile(db(), node, QStringLiteral("absent.txt"), out + QStringLiteral("/m.txt")), 0);
    QFile m(out + QStringLiteral("/m.txt"));
    ASSERT_TRUE(m.open(QIODevice::ReadOnly));
    EXPECT_TRUE(m.readAll().startsWith("<html><body>\r\nNot find FIle"));
}

TEST_P(Content, FailedBlobWriteStoresNothing) {
    const QString node = add(QStringLiteral("0"), QStringLiteral("doc"));
    const QString id = SaveAttachmentFromStream(db(), "v1", node, QStringLiteral("a.txt"));
    injectUpdateFault(QStringLiteral("accessories"), id);
    EXPECT_TRUE(SaveAttachmentFromStream(db(), "v2", node, QStringLiteral("a.txt")).isEmpty());
    EXPECT_EQ(ReadAttachmentByName(db(), node, QStringLiteral("a.txt")), QByteArray("v1"));
    EXPECT_EQ(CountAttachments(db(), node), 1);

    const QString before = QString::fromUtf8(ReadDocumentContent(db(), node));
    injectUpdateFault(QStringLiteral("info"), node);
    EXPECT_FALSE(WriteDocumentText(db(), node, QStringLiteral("<p>new</p>")));
    EXPECT_EQ(QString::fromUtf8(ReadDocumentContent(db(), node)), before);
}

ZEL_INSTANTIATE_DB_TEST(Content);

TEST(AttachmentNames, SizeTextFileReferencesAndSafeNames) {
    const std::pair<qint64, const char*> sizes[] = {{0, "1Kb"},    {999, "1Kb"},  {1000, "1Kb"},
                                                    {1999, "1Kb"}, {2000, "2Kb"}, {1048576, "1048Kb"}};
    for (const auto& [bytes, text] : sizes)
        EXPECT_EQ(AttachmentSizeText(bytes), QString::fromUtf8(text)) << bytes;

    const std::pair<const char*, const char*> refs[] = {
        {"file:///C:/my%20docs/a.txt", "C:/my docs/a.txt"},
        {"file:///home/u/a%20b.txt", "/home/u/a b.txt"},
        {"FILE:\\\\srv\\x.txt", "/srv\\x.txt"},
        {"/plain/path.txt", "/plain/path.txt"},
        {"file:///", ""},
    };
    for (const auto& [ref, path] : refs)
        EXPECT_EQ(FileReferenceToPath(QString::fromUtf8(ref)), QString::fromUtf8(path)) << ref;

    const std::pair<const char*, const char*> names[] = {
        {"a.txt", "a.txt"}, {"..", "_.."}, {".", "_."}, {"", "_"}, {"a/../b", "a_.._b"}, {"..\\..\\x", ".._.._x"}};
    for (const auto& [in, out] : names)
        EXPECT_EQ(SafeAttachmentFileName(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
    EXPECT_TRUE(IsStoredRaw(QStringLiteral("X.JPG")));
    EXPECT_FALSE(IsStoredRaw(QStringLiteral("x.jpeg")));
}

} // namespace
} // namespace zel::test
