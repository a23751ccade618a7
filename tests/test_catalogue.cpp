// datalink.dat layout and round trip, catalogue lookups, connection strings.
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "store/Catalogue.h"
#include "store/Compression.h"

#include <QFile>
#include <QTemporaryDir>

using namespace zel;

namespace {
QByteArray le32(qint32 v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((quint32(v) >> (8 * i)) & 0xFF);
    return b;
}
QByteArray le16(qint16 v) {
    return QByteArray(1, char(v & 0xFF)) + QByteArray(1, char((v >> 8) & 0xFF));
}
QByteArray desc(qint32 size, qint16 type, const char* name) {
    return le32(size) + le16(type) + le16(qint16(qstrlen(name) + 1)) + QByteArray(name) + QByteArray(1, '\0');
}
QByteArray text(const QByteArray& s) {
    return le32(qint32(s.size() + 1)) + s + QByteArray(1, '\0');
}
} // namespace

TEST(Catalogue, TableStreamIsByteExact) {
    CatalogueEntry e = CatalogueEntry::make(0, QStringLiteral("Notes"), QStringLiteral("/kb/"), QStringLiteral("a.skm"),
                                            QString(), QStringLiteral("pw"));
    CatalogueEntry nullType;
    nullType.serverTypePresent = false;
    nullType.name = "x";
    QByteArray expected = QByteArray("Ver") + QByteArray::fromHex("333333333333FB3F") + le32(6);
    expected += desc(4, 3, "ServerType") + desc(51, 1, "Name") + desc(101, 1, "ServerName") + desc(51, 1, "DataBase") +
                desc(51, 1, "User") + desc(51, 1, "Password");
    expected += QByteArray(1, '\1') + le32(0) + text("Notes") + text("/kb/") + text("a.skm") + text("") + text("pw");
    expected += QByteArray(1, '\0') + le32(0) + text("x") + text("") + text("") + text("") + text("");
    EXPECT_EQ(Catalogue::serialize({e, nullType}), expected);
}

TEST(Catalogue, FileRoundTripKeepsEncodingsAndCaseSensitiveLookup) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("datalink.dat"));
    Catalogue cat;
    EXPECT_TRUE(cat.LoadCatalogue(path)); // missing file: empty catalogue
    EXPECT_TRUE(cat.entries().isEmpty());
    cat.entries() << CatalogueEntry::make(0, QStringLiteral("Wissensbasis \u00DC"), QStringLiteral("/home/\u00FC/kb"),
                                          QStringLiteral("k.skm"), QString(), QStringLiteral("p\u00E4ss"));
    cat.entries() << CatalogueEntry::make(1, QStringLiteral("notes"), QStringLiteral("db.example:5433"),
                                          QStringLiteral("team"), QStringLiteral("me"), QStringLiteral("s"));
    // An ASCII name stored in the code page by an older writer.
    CatalogueEntry old;
    old.name = "Notes";
    cat.entries() << old;
    ASSERT_TRUE(cat.SaveCatalogue());

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray raw = f.readAll();
    bool ok = false;
    EXPECT_TRUE(DecompressStream(raw, &ok).startsWith("Ver"));
    EXPECT_TRUE(ok);

    Catalogue back;
    ASSERT_TRUE(back.LoadCatalogue(path));
    ASSERT_EQ(back.entries().size(), 3);
    EXPECT_EQ(back.entries()[0].nameText(), QStringLiteral("Wissensbasis \u00DC"));
    EXPECT_EQ(back.entries()[0].name, QStringLiteral("Wissensbasis \u00DC").toUtf8());
    EXPECT_EQ(back.entries()[0].password, toSystemCodePage(QStringLiteral("p\u00E4ss")));
    EXPECT_EQ(back.entries()[1].serverType, 1);
    EXPECT_EQ(back.entries()[1].userText(), QStringLiteral("me"));
    EXPECT_EQ(back.FindCatalogueEntry(QStringLiteral("Wissensbasis \u00DC")), 0);
    EXPECT_EQ(back.FindCatalogueEntry(QStringLiteral("notes")), 1);
    EXPECT_EQ(back.FindCatalogueEntry(QStringLiteral("Notes")), 2);
    EXPECT_EQ(back.FindCatalogueEntry(QStringLiteral("NOTES")), -1);
}

TEST(Catalogue, UncompressedFileIsReadAsStored) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("datalink.dat"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(Catalogue::serialize(
        {CatalogueEntry::make(0, QStringLiteral("A"), QStringLiteral("/x"), QStringLiteral("a.skm"), {}, {})}));
    f.close();
    Catalogue cat;
    ASSERT_TRUE(cat.LoadCatalogue(path));
    ASSERT_EQ(cat.entries().size(), 1);
    EXPECT_EQ(cat.entries()[0].databaseText(), QStringLiteral("a.skm"));
}

TEST(Catalogue, UnreadableFileIsKeptBeforeTheFirstRewrite) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("datalink.dat"));
    const QByteArray garbage("this is not a catalogue at all");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(garbage);
    f.close();
    Catalogue cat;
    EXPECT_FALSE(cat.LoadCatalogue(path));
    EXPECT_TRUE(cat.entries().isEmpty());
    cat.entries() << CatalogueEntry::make(0, QStringLiteral("New"), QStringLiteral("/x"), QStringLiteral("n.skm"), {},
                                          {});
    ASSERT_TRUE(cat.SaveCatalogue());
    QFile copy(cat.unreadableCopyPath());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), garbage);
    Catalogue back;
    ASSERT_TRUE(back.LoadCatalogue(path));
    EXPECT_EQ(back.entries().size(), 1);

    // A second unreadable file is kept beside the first, never over it.
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("second");
    f.close();
    EXPECT_FALSE(cat.LoadCatalogue(path));
    EXPECT_TRUE(cat.unreadable());
    ASSERT_TRUE(cat.UpdateCatalogue([](QList<CatalogueEntry>& entries, QString*) {
        entries << CatalogueEntry::make(0, QStringLiteral("Other"), QStringLiteral("/x"), QStringLiteral("o.skm"), {},
                                        {});
        return true;
    }));
    EXPECT_EQ(cat.unreadableCopyPath(), path + QStringLiteral(".unreadable.2"));
    for (const auto& [name, bytes] : {std::pair{QStringLiteral(".unreadable.1"), garbage},
                                      std::pair{QStringLiteral(".unreadable.2"), QByteArray("second")}}) {
        QFile kept(path + name);
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bytes);
    }
    ASSERT_TRUE(back.LoadCatalogue(path));
    EXPECT_EQ(back.entries().size(), 1);
}

TEST(BuildConnectionString, Cases) {
    struct Case {
        int type;
        QString server, database, password, user, expected;
    };
    const QList<Case> cases{
        {0,
         QStringLiteral("/home/u/kb"),
         QStringLiteral("a.skm"),
         {},
         {},
         QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0; Data source=/home/u/kb/a.skm")},
        {0,
         QStringLiteral("/home/u/kb/"),
         QStringLiteral("a.skm"),
         {},
         {},
         QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0; Data source=/home/u/kb/a.skm")},
        {0, QStringLiteral("/kb"), QStringLiteral("a.skm"), QStringLiteral("pw"), QStringLiteral("someone"),
         QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0; Data source=/kb/a.skm;Jet OLEDb:Database password=pw")},
        {1, QStringLiteral("srv:5432"), QStringLiteral("team"), QStringLiteral("pw"), QStringLiteral("me"),
         QStringLiteral("provider=SQLOLEDb.1; initial catalog=team; Data source=srv:5432;user id=me;password=pw;"
                        "persist security info=true")},
        {1,
         QStringLiteral("srv"),
         QStringLiteral("team"),
         {},
         {},
         QStringLiteral("provider=SQLOLEDb.1; initial catalog=team; Data source=srv")},
        {2,
         QStringLiteral("ora"),
         QStringLiteral("x"),
         {},
         QStringLiteral("u"),
         QStringLiteral("provider=MsDAORA.1; initial catalog=x; Data source=ora;user id=u")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BuildConnectionString(c.type, c.server, c.database, c.password, c.user), c.expected);
}
