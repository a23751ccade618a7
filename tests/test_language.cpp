// Language, topic and code tables: the text-table reader, lookups with fallback, and the shipped files.
#include <gtest/gtest.h>

#include "shell/Resources.h"
#include "shell/Strings.h"
#include "shell/TcnResourceManager.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace zel;

namespace {

const QList<TextTableColumn> kLanguage{
    {QStringLiteral("ident"), true, 0}, {QStringLiteral("caption"), false, 255}, {QStringLiteral("memo"), false, 20}};

QString sourceResources() {
    return QStringLiteral(ZEL_SOURCE_DIR "/resources/");
}

struct TableCase {
    const char* name;
    QByteArray data;
    QList<QStringList> rows;
    bool complete;
};

class TextTableTest : public ::testing::TestWithParam<TableCase> {};

TEST_P(TextTableTest, Reads) {
    const TableCase& c = GetParam();
    const TextTable t = ParseTextTable(c.data, kLanguage);
    EXPECT_EQ(t.complete, c.complete);
    ASSERT_EQ(t.rows.size(), c.rows.size());
    for (qsizetype i = 0; i < t.rows.size(); ++i)
        EXPECT_EQ(t.rows[i], c.rows[i]) << "row " << i;
}

QStringList row(const char* ident, const QString& caption, const QString& memo = {}) {
    return {QString::fromLatin1(ident), caption, memo};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextTableTest,
    ::testing::Values(
        TableCase{
            "crlf", "ident\tcaption\tmemo\r\n1\tOne\tm\r\n2\tTwo\t\r\n", {row("1", "One", "m"), row("2", "Two")}, true},
        TableCase{"cr_and_lf_mixed",
                  "ident\tcaption\r1\tOne\n2\tTwo\r\n3\tThree",
                  {row("1", "One"), row("2", "Two"), row("3", "Three")},
                  true},
        // Column names match without regard to case and in any order; unknown names are skipped.
        TableCase{"header_order_case_unknown", "Caption\tExtra\tIDENT\r\nHello\tx\t7\r\n", {row("7", "Hello")}, true},
        TableCase{"empty_value_and_empty_line", "ident\tcaption\r\n\r\n5\t\r\n", {row("5", QString())}, true},
        TableCase{"not_a_number_stops", "ident\tcaption\r\n1\tOne\r\nx\tBad\r\n2\tTwo\r\n", {row("1", "One")}, false},
        TableCase{"too_many_values_stops",
                  "ident\tcaption\r\n1\tOne\r\n2\tTwo\tthree\r\n3\tThree\r\n",
                  {row("1", "One")},
                  false},
        TableCase{"memo_cut_to_width",
                  "ident\tcaption\tmemo\r\n1\tA\t0123456789012345678901234\r\n",
                  {row("1", "A", "01234567890123456789")},
                  true},
        // UTF-8 with its marks kept as they are (the fullwidth comma of some messages).
        TableCase{"utf8",
                  "ident\tcaption\r\n9\tGr\xC3\xB6\xC3\x9F\x65\xEF\xBC\x8C ok\r\n",
                  {row("9", QStringLiteral("Gr\u00F6\u00DFe\uFF0C ok"))},
                  true},
        // Not UTF-8: the system code page (windows-1252).
        TableCase{
            "code_page", "ident\tcaption\r\n9\tPr\xFC\x66ung\r\n", {row("9", QStringLiteral("Pr\u00FCfung"))}, true}),
    [](const ::testing::TestParamInfo<TableCase>& i) { return std::string(i.param.name); });

TEST(TextTable, OnlyTheFirstThousandCharactersAfterTheFirstTabAreRead) {
    // 1000 characters after the TAB: the caption takes its 255, and a third value beyond the cut is
    // never seen, so the line is not "too many values".
    const QByteArray caption(1000, 'c');
    const QByteArray data = "ident\tcaption\r\n1\t" + caption + "\textra\r\n";
    const TextTable t = ParseTextTable(data, kLanguage);
    EXPECT_TRUE(t.complete);
    ASSERT_EQ(t.rows.size(), 1);
    EXPECT_EQ(t.rows[0][1], QString(255, u'c'));
}

class LanguageFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(dir_.path() + QStringLiteral("/language")));
        setProgramDirectory(dir_.path());
        SetLanguageStrings({});
    }
    void TearDown() override {
        setProgramDirectory(QString());
        SetLanguageStrings({});
    }
    QString write(const QString& name, const QByteArray& data) {
        const QString path = dir_.path() + QStringLiteral("/language/") + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        return path;
    }
    QTemporaryDir dir_;
};

TEST_F(LanguageFolderTest, LookupFallsBackAndFirstEntryWins) {
    const QString path = write(QStringLiteral("test.lng"), "ident\tcaption\tmemo\r\n"
                                                           "20002\tTestish\t\r\n"
                                                           "40022\tFirst\t\r\n"
                                                           "40022\tSecond\t\r\n"
                                                           "40024\t\t\r\n"
                                                           "99999\tOnly here\t\r\n");
    TcnResourceManager m;
    EXPECT_EQ(GetString(40024), QStringLiteral("&Print")); // inactive table: built-in
    ASSERT_TRUE(m.LoadLanguage(path));
    EXPECT_EQ(GetString(40022), QStringLiteral("First"));
    EXPECT_EQ(GetString(40024), QStringLiteral("&Print")); // empty caption: built-in
    EXPECT_EQ(GetString(99999), QStringLiteral("Only here"));
    EXPECT_EQ(GetString(99998), QString()); // in neither table
    EXPECT_EQ(GetString(40323), QStringLiteral("Are you sure exit?"));
    EXPECT_EQ(m.GetLanguageName(path), QStringLiteral("Testish"));
    EXPECT_EQ(m.GetLanguageName(dir_.path() + QStringLiteral("/language/none.lng")), QString());
}

TEST_F(LanguageFolderTest, MalformedFileKeepsWhatWasReadAndSkipsTheTopicFile) {
    write(QStringLiteral("English"), "ident\tcaption\tmemo\r\n1\tTip\tText one\r\n");
    const QString bad = write(QStringLiteral("bad.lng"), "ident\tcaption\r\n40022\tSpeichern\r\nnope\tx\r\n"
                                                         "40024\tDrucken\r\n");
    TcnResourceManager m;
    EXPECT_FALSE(m.LoadLanguage(bad));
    EXPECT_EQ(GetString(40022), QStringLiteral("Speichern"));
    EXPECT_EQ(GetString(40024), QStringLiteral("&Print"));
    const Topic t = m.GetTopic(1);
    EXPECT_FALSE(t.found);
    EXPECT_EQ(t.text, QStringLiteral("The topic file not fount"));
    EXPECT_FALSE(m.LoadLanguage(dir_.path() + QStringLiteral("/language/missing.lng")));
    EXPECT_EQ(GetString(40022), QStringLiteral("Speichern")); // a missing file changes nothing
}

TEST_F(LanguageFolderTest, TopicsFollowIdent20003) {
    write(QStringLiteral("Tips"), "ident\tcaption\tmemo\r\n1\tFirst tip\tText one\r\n2\tSecond\tText two\r\n");
    write(QStringLiteral("English"), "ident\tcaption\tmemo\r\n1\tDefault tip\tBuilt-in name\r\n");
    const QString named = write(QStringLiteral("a.lng"), "ident\tcaption\r\n20003\tTips\r\n");
    const QString unnamed = write(QStringLiteral("b.lng"), "ident\tcaption\r\n40022\tx\r\n");
    TcnResourceManager m;
    ASSERT_TRUE(m.LoadLanguage(named));
    EXPECT_EQ(m.TopicCount(), 2);
    Topic t = m.GetTopic(2);
    EXPECT_TRUE(t.found);
    EXPECT_EQ(t.caption, QStringLiteral("Second"));
    EXPECT_EQ(t.text, QStringLiteral("Text two"));
    t = m.GetTopic(7);
    EXPECT_FALSE(t.found);
    EXPECT_EQ(t.caption, QStringLiteral("Welcome"));
    EXPECT_EQ(t.text, QStringLiteral("The topic not fount"));
    // Without 20003 the built-in name "English" is looked for.
    ASSERT_TRUE(m.LoadLanguage(unnamed));
    EXPECT_EQ(m.TopicCount(), 1);
    EXPECT_EQ(m.GetTopic(1).caption, QStringLiteral("Default tip"));
}

TEST_F(LanguageFolderTest, SystemLanguageThroughTheCodeTable) {
    write(QStringLiteral("x.lng"), "ident\tcaption\r\n");
    {
        TcnResourceManager noCodes;
        EXPECT_EQ(noCodes.ChooseLanguageBySystem(0x0407), QString()); // no localCode.ini
        EXPECT_FALSE(noCodes.codeTableActive());
    }
    write(QStringLiteral("localCode.ini"), "code\tfilename\r\n1031\tgerman\r\n1033\tenglish\r\n2055\t  \r\n");
    TcnResourceManager m;
    EXPECT_EQ(m.languageFiles(), QStringList{dir_.path() + QStringLiteral("/language/x.lng")});
    EXPECT_EQ(m.ChooseLanguageBySystem(LanguageIdOfLocale(QStringLiteral("de_DE.UTF-8"))),
              QStringLiteral("german.lng"));
    EXPECT_EQ(m.ChooseLanguageBySystem(LanguageIdOfLocale(QStringLiteral("en_US"))), QStringLiteral("english.lng"));
    EXPECT_EQ(m.ChooseLanguageBySystem(LanguageIdOfLocale(QStringLiteral("de_CH"))), QString()); // blank name
    EXPECT_EQ(m.ChooseLanguageBySystem(LanguageIdOfLocale(QStringLiteral("fr_FR"))), QString());
}

TEST(LanguageIds, LocaleNamesMapToWindowsIdentifiers) {
    const std::pair<const char*, quint16> cases[] = {
        {"en_US.UTF-8", 0x0409},  {"en_GB", 0x0809}, {"de_DE", 0x0407}, {"de_AT@euro", 0x0C07}, {"de", 0x0407},
        {"zh_CN.GB2312", 0x0804}, {"zh_TW", 0x0404}, {"pt_BR", 0x0416}, {"fr_CA", 0x0C0C},      {"xx_YY", 0},
    };
    for (const auto& [name, id] : cases)
        EXPECT_EQ(LanguageIdOfLocale(QString::fromLatin1(name)), id) << name;
}

// The shipped files: every built-in text is in english.lng word for word, every ident of english.lng
// has a German text, and both load completely with their topic files.
TEST(ShippedLanguages, CompleteAndConsistent) {
    setProgramDirectory(sourceResources());
    SetLanguageStrings({});
    TextTable english, german;
    ASSERT_TRUE(LoadTextTable(sourceResources() + QStringLiteral("language/english.lng"), kLanguage, &english));
    ASSERT_TRUE(LoadTextTable(sourceResources() + QStringLiteral("language/german.lng"), kLanguage, &german));
    QHash<int, QString> en, de;
    for (const QStringList& r : english.rows)
        en.insert(r[0].toInt(), r[1]);
    for (const QStringList& r : german.rows)
        de.insert(r[0].toInt(), r[1]);
    EXPECT_GT(en.size(), 600);
    for (auto it = en.cbegin(); it != en.cend(); ++it) {
        if (it.key() != 20004) {
            EXPECT_EQ(GetString(it.key()), it.value()) << it.key();
        }
        EXPECT_TRUE(de.contains(it.key()) && !de.value(it.key()).isEmpty()) << "no German text for " << it.key();
    }
    EXPECT_EQ(de.size(), en.size());
    EXPECT_EQ(GetString(20004), QString()); // only language files name the page folder
    TcnResourceManager m;
    ASSERT_TRUE(m.LoadLanguage(sourceResources() + QStringLiteral("language/german.lng")));
    EXPECT_EQ(GetString(40022), QStringLiteral("&Speichern"));
    EXPECT_GE(m.TopicCount(), 5);
    EXPECT_TRUE(m.GetTopic(5).found);
    for (const char* page : {"welcome.htm", "intro.htm", "finish.htm"})
        EXPECT_TRUE(QFile::exists(sourceResources() + QStringLiteral("language/") + GetString(20004) + u'/' +
                                  QString::fromLatin1(page)))
            << page;
    ASSERT_TRUE(m.LoadLanguage(sourceResources() + QStringLiteral("language/english.lng")));
    EXPECT_TRUE(m.GetTopic(5).found);
    EXPECT_EQ(m.ChooseLanguageBySystem(0x0407), QStringLiteral("german.lng"));
    SetLanguageStrings({});
    setProgramDirectory(QString());
}

} // namespace
