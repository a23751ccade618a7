// The search: word splitting, excerpts, result pages, history file, and the engine against both databases.
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "search/SearchIndex.h"
#include "search/SearchText.h"
#include "search/TSearchPages.h"
#include "store/Compression.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/Users.h"
#include "support/SearchSupport.h"
#include "support/TestKb.h"

using namespace zel;
using namespace zel::test;

namespace {

const QString kDots = QStringLiteral("<font color=\"#FF0000\">...</font>");
QString red(const QString& w) {
    return QStringLiteral("<font color=\"#FF0000\">") + w + QStringLiteral("</font>");
}

struct SplitCase {
    const char* text;
    bool matchCase;
    QStringList include, exclude;
};

TEST(SearchWordsTest, SplitsAtSeparatorsAndMarksExcludes) {
    const SplitCase cases[] = {
        {"a-b", false, {QStringLiteral("a")}, {QStringLiteral("b")}},
        {"a - b", false, {QStringLiteral("a"), QStringLiteral("b")}, {}},
        {"+", false, {}, {}},
        {" & - + ", false, {}, {}},
        {"-Word", false, {}, {QStringLiteral("word")}},
        {"-Word", true, {}, {QStringLiteral("Word")}},
        {"Alpha&BETA+gamma  délta",
         false,
         {QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("gamma"), QStringLiteral("délta")},
         {}},
        {"x-y-z+w", false, {QStringLiteral("x"), QStringLiteral("w")}, {QStringLiteral("y"), QStringLiteral("z")}},
    };
    for (const SplitCase& c : cases) {
        const SearchWords w = SplitSearchWords(QString::fromUtf8(c.text), c.matchCase);
        EXPECT_EQ(w.include, c.include) << c.text;
        EXPECT_EQ(w.exclude, c.exclude) << c.text;
    }
}

TEST(SearchWordsTest, FoldCaseIsToLower) {
    for (const char* t : {"", "abc", "ABC<P Class=X>", "Straße ÄÖÜ", "İstanbul", "ΣΊΣΥΦΟΣ", "a\u00ff\U0001F600B",
                          "ÉCOLE École", "\u01C5EMAL \u01C4", "\U00010400 DESERET", "ǅ x", "ＡＢＣ", "\u1E9E \u2C6F"}) {
        const QString s = QString::fromUtf8(t);
        EXPECT_EQ(FoldCase(s), s.toLower()) << t;
    }
    // Every character of the basic plane, each alone and after an ASCII capital.
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        if (QChar::isSurrogate(c)) continue;
        const QString s = QStringLiteral("A") + QChar(char16_t(c));
        ASSERT_EQ(FoldCase(s), s.toLower()) << unsigned(c);
    }
}

TEST(SearchWordsTest, MatchesJoinedFieldsWithoutSeparators) {
    // "eberr" runs from the caption "Blue" into the keywords "berry"; "a/bl" from the full name into it.
    const QString h = BuildHaystack(QStringLiteral("/Sea/"), QStringLiteral("Blue"), QStringLiteral("berry"),
                                    QStringLiteral("<p>Pie</p>"), true, false);
    EXPECT_EQ(h, QStringLiteral("/sea/blueberry<p>pie</p>"));
    EXPECT_TRUE(MatchesWords(h, SplitSearchWords(QStringLiteral("eberr"), false)));
    EXPECT_TRUE(MatchesWords(h, SplitSearchWords(QStringLiteral("a/bl pie"), false)));
    EXPECT_FALSE(MatchesWords(h, SplitSearchWords(QStringLiteral("pie -sea"), false)));
    EXPECT_TRUE(MatchesWords(h, SplitSearchWords(QStringLiteral("-cake"), false)));
    EXPECT_TRUE(MatchesWords(h, SplitSearchWords(QStringLiteral("+"), false)));
    const QString exact = BuildHaystack(QString(), QStringLiteral("Blue"), QString(), QString(), true, true);
    EXPECT_FALSE(MatchesWords(exact, SplitSearchWords(QStringLiteral("blue"), true)));
}

TEST(SearchExcerptTest, RemovesTagsAndTheirCutEnds) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "plain"},  {"ab>cd", "cd"},       {"a<b>c", "ac"}, {"a<b", "a"},
        {"x>y<z>w<q", "yw"}, {"<p>a</p><br>", "a"}, {"a>b>c", "c"},  {"<<a>>b", "b"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(RemoveTags(QString::fromUtf8(in)), QString::fromUtf8(out)) << in;
}

TEST(SearchExcerptTest, GroupsHitsInWindowsOfForty) {
    // One hit past position 40: red dots first, 40 characters before, 37 after (up to p + 40 - 1).
    const QString h =
        QString(50, u'a') + QStringLiteral("key") + QString(150, u'b') + QStringLiteral("zed") + QString(10, u'c');
    EXPECT_EQ(BuildExcerpt(h, {QStringLiteral("key")}),
              u' ' + kDots + QString(40, u'a') + red(QStringLiteral("key")) + QString(37, u'b') + kDots);
    // Two hits far apart make two groups, each led by red dots; the second runs off the end of the text.
    EXPECT_EQ(BuildExcerpt(h, {QStringLiteral("zed"), QStringLiteral("key")}),
              u' ' + kDots + QString(40, u'a') + red(QStringLiteral("key")) + QString(37, u'b') + u' ' + kDots +
                  QString(40, u'b') + red(QStringLiteral("zed")) + QString(10, u'c') + kDots);
    // Hits within the window share a group; a hit inside the first 40 characters has no leading dots,
    // and tags in the pieces are dropped.
    const QString near = QStringLiteral("ab<i>key</i>cd and more");
    EXPECT_EQ(BuildExcerpt(near, {QStringLiteral("key"), QStringLiteral("more")}),
              QStringLiteral("ab") + red(QStringLiteral("key")) + QStringLiteral("cd and ") +
                  red(QStringLiteral("more")) + kDots);
}

TEST(SearchExcerptTest, FallsBackToTheStartOfTheContentEscaped) {
    const QString content = QStringLiteral("<html><body>") + QString(300, u'x');
    // The word is not in the content (it was in the caption): the first 200 characters, escaped.
    EXPECT_EQ(BuildExcerpt(content, {QStringLiteral("caption")}), content.left(200).toHtmlEscaped() + kDots);
    // Content search off: the content is empty and the excerpt is the red dots alone.
    EXPECT_EQ(BuildExcerpt(QString(), {QStringLiteral("caption")}), kDots);
    // What the content holds never becomes markup: the pieces have no tags, and the rest is escaped.
    const QString excerpt = BuildExcerpt(QStringLiteral("fish &amp; chips <b>\"x\"</b>"), {QStringLiteral("chips")});
    EXPECT_TRUE(excerpt.contains(QStringLiteral("&amp;amp;"))) << excerpt.toStdString();
    EXPECT_FALSE(excerpt.contains(QStringLiteral("<b>")));
}

TEST(SearchResultTest, EntryEscapesEveryTextFromTheKnowledgeBase) {
    SearchResultEntry e;
    e.number = 11;
    e.id = 42;
    e.caption = QStringLiteral("<script>alert(1)</script>");
    e.fullName = QStringLiteral("/<img src=x onerror=y>/");
    e.keywords = QStringLiteral("\"quoted\" & <b>");
    e.excerpt = kDots;
    const QString html = ResultEntryHtml(e);
    EXPECT_TRUE(html.startsWith(QStringLiteral("<div><h4><a href=\"link://document/42\">11: &lt;script&gt;")));
    EXPECT_FALSE(html.contains(QStringLiteral("<script")));
    EXPECT_FALSE(html.contains(QStringLiteral("<img")));
    EXPECT_FALSE(html.contains(QStringLiteral("<b>")));
    EXPECT_TRUE(html.contains(QStringLiteral("&quot;quoted&quot; &amp; &lt;b&gt;")));
    EXPECT_TRUE(html.endsWith(kDots + QStringLiteral("</p> </font></div>")));
    EXPECT_EQ(PageLabelText(0, 3), QStringLiteral("Current page: 1  Total page:3"));
}

TEST(SearchPagesTest, FirstPageShowsAndPagingStopsAtTheEnds) {
    TSearchPages pages;
    EXPECT_EQ(pages.label(), QStringLiteral("Current page: 0  Total page:0"));
    EXPECT_FALSE(pages.step(true)); // no pages: nothing to move to
    EXPECT_TRUE(pages.add(QStringLiteral("one")));
    EXPECT_FALSE(pages.add(QStringLiteral("two")));
    EXPECT_FALSE(pages.add(QStringLiteral("three")));
    EXPECT_EQ(pages.currentHtml(), QStringLiteral("one"));
    EXPECT_EQ(pages.label(), QStringLiteral("Current page: 1  Total page:3"));
    EXPECT_FALSE(pages.step(false)); // previous on the first page
    EXPECT_TRUE(pages.step(true));
    EXPECT_TRUE(pages.step(true));
    EXPECT_FALSE(pages.step(true)); // next on the last page
    EXPECT_EQ(pages.currentHtml(), QStringLiteral("three"));
    EXPECT_TRUE(pages.step(false));
    EXPECT_EQ(pages.label(), QStringLiteral("Current page: 2  Total page:3"));
    pages.clear();
    EXPECT_EQ(pages.current(), -1);
    EXPECT_TRUE(pages.add(QStringLiteral("again")));
}

TEST(SearchHistoryTest, WritesUtf16WithMarkAndReadsEveryMark) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SearchList.dat"));
    ASSERT_TRUE(WriteSearchHistory(path, {QStringLiteral("café"), QStringLiteral("a b")}));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    f.close();
    EXPECT_EQ(bytes, encodeUtf16LeWithBom(QStringLiteral("café\r\na b\r\n")));
    EXPECT_EQ(ReadSearchHistory(path), (QStringList{QStringLiteral("café"), QStringLiteral("a b")}));

    const std::pair<QByteArray, const char*> files[] = {
        {QByteArray("\xEF\xBB\xBF"
                    "caf\xC3\xA9\r\nx"),
         "UTF-8 mark"},
        {QByteArray("\xFE\xFF\x00"
                    "c\x00"
                    "a\x00"
                    "f\x00\xE9\x00\r\x00\n\x00x",
                    16),
         "UTF-16 BE mark"},
        {QByteArray("caf\xE9\r\nx\r\n"), "no mark: ANSI"},
    };
    for (const auto& [content, what] : files) {
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        EXPECT_EQ(ReadSearchHistory(path), (QStringList{QStringLiteral("café"), QStringLiteral("x")})) << what;
    }
    EXPECT_TRUE(ReadSearchHistory(dir.filePath(QStringLiteral("missing.dat"))).isEmpty());
}

TEST(SearchHistoryTest, KeepsAtMost1001EntriesAndExistingPlaces) {
    QStringList items;
    for (int i = 0; i < 1001; ++i)
        items << QString::number(i);
    AddToSearchHistory(items, QStringLiteral("new"));
    ASSERT_EQ(items.size(), 1001);
    EXPECT_EQ(items.first(), QStringLiteral("new"));
    EXPECT_EQ(items.last(), QStringLiteral("999"));
    AddToSearchHistory(items, QStringLiteral("500"));
    EXPECT_EQ(items.size(), 1001);
    EXPECT_EQ(items.indexOf(QStringLiteral("500")), 501);
    QStringList thousand;
    for (int i = 0; i < 1000; ++i)
        thousand << QString::number(i);
    AddToSearchHistory(thousand, QStringLiteral("new"));
    EXPECT_EQ(thousand.size(), 1001);
}

// The engine against a real database.
class SearchEngineTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        createSchema();
        CurrentUser().name = QStringLiteral("Tester");
    }
    SearchRun search(TSearchCriteria c, const std::function<void(TSearchEngine&, int)>& onResult = {}) {
        return RunSearch(db().connectionString(), c, onResult);
    }
    static TSearchCriteria words(const QString& text, bool content = false) {
        TSearchCriteria c;
        c.text = text;
        c.includeContent = content;
        return c;
    }
    void setColumn(qint64 id, const char* column, const QVariant& v) {
        ASSERT_TRUE(db().exec(QStringLiteral("update info set %1=:v where id=:id").arg(QLatin1String(column)),
                              {{QStringLiteral(":v"), v}, {QStringLiteral(":id"), id}}))
            << db().lastError().toStdString();
    }
    // The same search by the plain scan and by the index: both must agree.
    SearchRun both(TSearchCriteria c) {
        c.method = TSearchCriteria::Method::Scan;
        const SearchRun scan = search(c);
        c.method = TSearchCriteria::Method::Auto;
        SearchRun auto_ = search(c);
        EXPECT_EQ(auto_.results, scan.results) << c.text.toStdString();
        EXPECT_EQ(auto_.pages, scan.pages) << c.text.toStdString();
        return auto_;
    }
};

TEST_P(SearchEngineTest, SeparatorsOnlyFindEveryLiveNodeAndExcludeAloneFindsTheRest) {
    const qint64 a = AddNode(db(), 0, QStringLiteral("Apples"), QStringLiteral("<p>red fruit</p>"));
    const qint64 b = AddNode(db(), a, QStringLiteral("Bananas"), QStringLiteral("<p>yellow fruit</p>"));
    const qint64 binned = AddNode(db(), 0, QStringLiteral("Old"), QStringLiteral("<p>red</p>"));
    const qint64 purged = AddNode(db(), 0, QStringLiteral("Gone"), QStringLiteral("<p>red</p>"));
    const qint64 c = AddNode(db(), 0, QStringLiteral("Cherries"), QStringLiteral("<p>RED fruit</p>"));
    setColumn(binned, "hasdelete", QStringLiteral("Y"));
    setColumn(purged, "hasdelete", QStringLiteral("D"));
    setColumn(b, "hasdelete", QStringLiteral("N"));

    EXPECT_EQ(search(words(QStringLiteral("+"))).ids(), (QList<qint64>{a, b, c}));
    EXPECT_EQ(search(words(QStringLiteral("-red"), true)).ids(), (QList<qint64>{b}));
    // Without content the word is only in captions and names.
    EXPECT_EQ(search(words(QStringLiteral("-red"))).ids(), (QList<qint64>{a, b, c}));
    EXPECT_EQ(both(words(QStringLiteral("red fruit"), true)).ids(), (QList<qint64>{a, c}));
    TSearchCriteria exact = words(QStringLiteral("RED"), true);
    exact.matchCase = true;
    EXPECT_EQ(both(exact).ids(), (QList<qint64>{c}));
}

TEST_P(SearchEngineTest, WordsSpanFieldBoundaries) {
    const qint64 folder = AddNode(db(), 0, QStringLiteral("Alpha"), QStringLiteral("<p>x</p>"));
    const qint64 doc =
        AddNode(db(), folder, QStringLiteral("Blue"), QStringLiteral("<p>pie</p>"), QStringLiteral("berry"));
    for (const bool content : {false, true}) {
        EXPECT_EQ(both(words(QStringLiteral("eberr"), content)).ids(), (QList<qint64>{doc})) << content;
        // "ha/bl" starts in the full name "/Alpha/" and ends in the caption.
        EXPECT_EQ(both(words(QStringLiteral("ha/bl"), content)).ids(), (QList<qint64>{doc})) << content;
        TSearchCriteria noName = words(QStringLiteral("ha/bl"), content);
        noName.includeFullName = false;
        EXPECT_TRUE(both(noName).ids().isEmpty()) << content;
    }
    // The keywords run on into the content.
    EXPECT_EQ(both(words(QStringLiteral("rry<p>pi"), true)).ids(), (QList<qint64>{doc}));
}

TEST_P(SearchEngineTest, SubtreeDateAndOwnerConditions) {
    const qint64 top = AddNode(db(), 0, QStringLiteral("Top"), {});
    const qint64 mid = AddNode(db(), top, QStringLiteral("Mid"), {});
    const qint64 leaf = AddNode(db(), mid, QStringLiteral("Leaf"), {});
    const qint64 other = AddNode(db(), 0, QStringLiteral("Other"), {});

    TSearchCriteria c = words(QStringLiteral("+"));
    c.restrictToSubtree = true;
    c.subtreeRoot = QStringLiteral("0");
    EXPECT_EQ(search(c).ids(), (QList<qint64>{top, mid, leaf, other}));
    c.subtreeRoot = QString::number(top); // the root itself is not part of its subtree
    EXPECT_EQ(search(c).ids(), (QList<qint64>{mid, leaf}));

    // Creation from D1 to D2: after midnight starting D1, before midnight ending D2.
    const QDate d1(2024, 3, 10), d2(2024, 3, 12);
    setColumn(top, "createdate", QDateTime(d1, QTime(0, 0)));
    setColumn(mid, "createdate", QDateTime(d1, QTime(0, 0, 1)));
    setColumn(leaf, "createdate", QDateTime(d2, QTime(23, 59, 59)));
    setColumn(other, "createdate", QDateTime(d2.addDays(1), QTime(0, 0)));
    c = words(QStringLiteral("+"));
    c.restrictByCreated = true;
    c.createdBegin = d1;
    c.createdEnd = d2;
    EXPECT_EQ(search(c).ids(), (QList<qint64>{mid, leaf}));
    c = words(QStringLiteral("+"));
    c.restrictByModified = true;
    c.modifiedBegin = c.modifiedEnd = QDate::currentDate();
    EXPECT_EQ(search(c).ids(), (QList<qint64>{top, mid, leaf, other}));

    // Owner texts search for what they say: quotes, "%" and "_" are plain characters.
    setColumn(top, "actor", QStringLiteral("O'Brien"));
    setColumn(mid, "actor", QStringLiteral("100% sure"));
    setColumn(leaf, "actor", QStringLiteral("a_b"));
    setColumn(other, "actor", QStringLiteral("ab\"c"));
    const std::pair<const char*, QList<qint64>> owners[] = {
        {"o'brien", {top}}, {"%", {mid}}, {"_", {leaf}}, {"\"", {other}}, {" b ", {top, leaf, other}}, {"zz", {}},
    };
    for (const auto& [owner, ids] : owners) {
        c = words(QStringLiteral("+"));
        c.owner = QString::fromUtf8(owner);
        const SearchRun r = search(c);
        EXPECT_FALSE(r.stats.failed) << owner;
        EXPECT_EQ(r.ids(), ids) << owner;
    }
}

TEST_P(SearchEngineTest, ProgressShowsOnlyAbove100RowsInTwentyFiveSteps) {
    for (int i = 0; i < 100; ++i)
        AddNode(db(), 0, QStringLiteral("n%1").arg(i), {});
    SearchRun r = search(words(QStringLiteral("+")));
    EXPECT_EQ(r.stats.rangeRows, 100);
    EXPECT_FALSE(r.progressShown);
    EXPECT_TRUE(r.positions.isEmpty());
    AddNode(db(), 0, QStringLiteral("n100"), {});
    r = search(words(QStringLiteral("+")));
    EXPECT_TRUE(r.progressShown);
    QList<int> expected;
    for (int p = 4; p <= 100; p += 4)
        expected << p;
    EXPECT_EQ(r.positions, QList<int>{0} + expected);
    EXPECT_EQ(r.results.size(), 101);
    EXPECT_EQ(r.pages.size(), 11);
}

TEST_P(SearchEngineTest, StopAfterFifteenResultsLeavesTwoPages) {
    QList<qint64> ids;
    for (int i = 0; i < 30; ++i)
        ids << AddNode(db(), 0, QStringLiteral("Doc %1").arg(i), QStringLiteral("<p>body</p>"));
    const SearchRun r = search(words(QStringLiteral("doc")), [](TSearchEngine& e, int number) {
        if (number == 15) e.stop();
    });
    EXPECT_TRUE(r.stats.stopped);
    EXPECT_TRUE(r.finished);
    ASSERT_EQ(r.results.size(), 15);
    ASSERT_EQ(r.pages.size(), 2);
    EXPECT_EQ(r.pages[0].count(QStringLiteral("<div>")), 10);
    EXPECT_EQ(r.pages[1].count(QStringLiteral("<div>")), 5);
    // The 11th result is numbered 11 and opens page 2.
    EXPECT_EQ(r.results[10].number, 11);
    EXPECT_TRUE(r.pages[1].startsWith(
        QStringLiteral("<div><h4><a href=\"link://document/%1\">11: Doc 10</a></h4>").arg(ids[10])))
        << r.pages[1].left(120).toStdString();
    EXPECT_EQ(r.results[10].address, QStringLiteral("/Doc 10.htm"));
}

TEST_P(SearchEngineTest, ExcerptsOfCaptionOnlyHitsAndWithoutContent) {
    const QString content = QStringLiteral("<P>Some Text About Nothing In Particular</P>");
    AddNode(db(), 0, QStringLiteral("Zebra"), content);
    // Found by its caption: the excerpt is the start of the folded content (escaped), then red dots.
    SearchRun r = search(words(QStringLiteral("zebra"), true));
    ASSERT_EQ(r.pages.size(), 1);
    const QString stored = DecodeStoredContent(StoredContent(content)).toLower();
    EXPECT_TRUE(r.pages[0].contains(stored.left(200).toHtmlEscaped() + kDots)) << r.pages[0].toStdString();
    // Content search off: only the red dots.
    r = search(words(QStringLiteral("zebra")));
    ASSERT_EQ(r.pages.size(), 1);
    EXPECT_TRUE(r.pages[0].endsWith(QStringLiteral("</Font><br>") + kDots + QStringLiteral("</p> </font></div>")))
        << r.pages[0].toStdString();
}

TEST_P(SearchEngineTest, ContentInEveryStoredFormIsMatched) {
    const qint64 a = AddNode(db(), 0, QStringLiteral("a"), {});
    const qint64 b = AddNode(db(), 0, QStringLiteral("b"), {});
    const qint64 c = AddNode(db(), 0, QStringLiteral("c"), {});
    const qint64 d = AddNode(db(), 0, QStringLiteral("d"), {});
    // Compressed UTF-8 with mark, compressed ANSI, and uncompressed ANSI text that does not expand.
    setColumn(a, "content", CompressStream(QByteArray("\xEF\xBB\xBF<p>Caf\xC3\xA9 noir</p>")));
    setColumn(b, "content", CompressStream(QByteArray("<p>caf\xE9 au lait</p>")));
    setColumn(c, "content", QByteArray("<p>un caf\xE9 cr\xE8me</p>"));
    setColumn(d, "content", QVariant());
    EXPECT_EQ(both(words(QStringLiteral("CAFÉ"), true)).ids(), (QList<qint64>{a, b, c}));
    EXPECT_EQ(both(words(QStringLiteral("café -lait"), true)).ids(), (QList<qint64>{a, c}));
}

TEST_P(SearchEngineTest, PasswordProtectedDocumentsNeedTheirPasswordThisSession) {
    const qint64 open = AddNode(db(), 0, QStringLiteral("secret open"), {});
    const qint64 locked = AddNode(db(), 0, QStringLiteral("secret folder"), {});
    const qint64 child = AddNode(db(), locked, QStringLiteral("secret child"), {});
    setColumn(locked, "d_password", QStringLiteral("$pbkdf2-sha256$1000$x$y"));
    TSearchCriteria c = words(QStringLiteral("secret"));
    EXPECT_EQ(search(c).ids(), (QList<qint64>{open}));
    c.unlockedDocuments = {locked};
    EXPECT_EQ(search(c).ids(), (QList<qint64>{open, locked, child}));
}

TEST_P(SearchEngineTest, StartedSearchRunsOnItsOwnThreadAndStops) {
    for (int i = 0; i < 300; ++i)
        AddNode(db(), 0, QStringLiteral("row %1").arg(i), QStringLiteral("<p>text</p>"));
    TSearchCriteria c = words(QStringLiteral("row"), true);
    c.method = TSearchCriteria::Method::Scan;
    TSearchEngine engine(db().connectionString(), c);
    std::atomic<int> found{0};
    QObject::connect(
        &engine, &TSearchEngine::resultFound, &engine,
        [&](int, qint64, const QString&, const QString&) {
            if (++found == 3) engine.stop();
        },
        Qt::DirectConnection);
    engine.start();
    ASSERT_TRUE(engine.wait(30000));
    EXPECT_TRUE(engine.stats().stopped);
    EXPECT_EQ(engine.stats().results, 3);
}

ZEL_INSTANTIATE_DB_TEST(SearchEngineTest);

} // namespace
