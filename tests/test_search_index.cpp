// The index never changes a result: random searches give the same results and pages through the index
// as through the plain scan, before and after the store changes content, captions, paths and rows.
#include <QProcess>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <random>

#include "platform/Dialect.h"
#include "search/SearchIndex.h"
#include "store/Content.h"
#include "store/Nodes.h"
#include "store/RecycleBin.h"
#include "store/Users.h"
#include "support/SearchSupport.h"
#include "support/TestKb.h"

using namespace zel;
using namespace zel::test;

namespace {

// The store operations the property test drives: the store's own, which know nothing of the index (the
// database notes their changes).
struct StoreOps {
    std::function<void(Database&, qint64 id, const QString& html)> writeContent;
    std::function<void(Database&, qint64 id, const QString& caption)> rename;
    std::function<void(Database&, qint64 id, const QString& keywords)> setKeywords;
    std::function<void(Database&, qint64 id, qint64 newParent)> move;
    std::function<qint64(Database&, qint64 id, qint64 targetParent)> copy;
    std::function<void(Database&, qint64 id)> toBin;
    std::function<void(Database&, qint64 id)> restore;
    std::function<void(Database&)> purgeBin;
};

StoreOps realStoreOps() {
    auto id = [](qint64 n) { return QString::number(n); };
    StoreOps ops;
    ops.writeContent = [id](Database& db, qint64 n, const QString& html) {
        EXPECT_TRUE(WriteDocumentText(db, id(n), html));
    };
    ops.rename = [id](Database& db, qint64 n, const QString& caption) { EXPECT_TRUE(RenameNode(db, caption, id(n))); };
    ops.setKeywords = [id](Database& db, qint64 n, const QString& keywords) {
        std::optional<Tinfoproperty> rec = ReadNodeProperties(db, id(n));
        ASSERT_TRUE(rec.has_value());
        rec->keywords = keywords;
        EXPECT_TRUE(UpdateNodeProperties(db, *rec, id(n)));
    };
    ops.move = [id](Database& db, qint64 n, qint64 parent) { EXPECT_GT(MoveNode(db, id(parent), id(n)), 0); };
    ops.copy = [id](Database& db, qint64 n, qint64 parent) {
        return CopySubtree(db, true, id(parent), id(n)).toLongLong();
    };
    ops.toBin = [id](Database& db, qint64 n) { EXPECT_TRUE(MoveNodeToBin(db, id(n), true)); };
    ops.restore = [](Database& db, qint64 n) { EXPECT_TRUE(RestoreNodes(db, {n})); };
    ops.purgeBin = [](Database& db) {
        EXPECT_TRUE(EmptyRecycleBin(db));
        EXPECT_TRUE(PurgeDeleted(db));
    };
    return ops;
}

// Words with a skewed spread: a few in most documents, some in a tenth, some in a handful.
const QStringList kCommon{QStringLiteral("the"), QStringLiteral("data"), QStringLiteral("report"),
                          QStringLiteral("and")};
const QStringList kMiddle{QStringLiteral("alpha"),   QStringLiteral("Gamma"),   QStringLiteral("übersicht"),
                          QStringLiteral("meeting"), QStringLiteral("budget"),  QStringLiteral("Ärger"),
                          QStringLiteral("kettle"),  QStringLiteral("Orchard"), QStringLiteral("viaduct"),
                          QStringLiteral("lantern"), QStringLiteral("harbour"), QStringLiteral("ψυχή")};
const QStringList kRare{
    QStringLiteral("quokka"), QStringLiteral("zyxwv"), QStringLiteral("Sesquipedalian"), QStringLiteral("naïveté"),
    QStringLiteral("x&y"), QStringLiteral("<tag>"), QStringLiteral("fjord"), QStringLiteral("Mbira"),
    QStringLiteral("kumquat"), QStringLiteral("xylem"), QStringLiteral("Ptarmigan"), QStringLiteral("wóbble"),
    // Words the word index cuts into pieces, one longer than its longest word, one
    // outside the basic plane.
    QStringLiteral("e.g."), QStringLiteral("3.14159"), QStringLiteral("foo_bar"), QStringLiteral("x.y.zeta"),
    QStringLiteral("Pneumonoultramicroscopicsilicovolcanoconiosis").repeated(2),
    QString::fromUtf8("\xf0\x9d\x94\x98\xf0\x9d\x94\xab\xf0\x9d\x94\xa6"
                      "code")};

class Corpus {
public:
    explicit Corpus(unsigned seed) : rng_(seed) {}
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    // Words of a document: mostly common ones.
    QString word() { return fromShares(70, 95); }
    // Words of a search: rarer words more often, so that many searches can use the index.
    QString searchWord() { return fromShares(25, 60); }
    QString fromShares(int commonBelow, int middleBelow) {
        const int r = pick(100);
        const QStringList& from = r < commonBelow ? kCommon : r < middleBelow ? kMiddle : kRare;
        return from[pick(int(from.size()))];
    }
    QString html() {
        QString s = QStringLiteral("<html><body><p>");
        const int n = 3 + pick(15);
        for (int i = 0; i < n; ++i) {
            s += word();
            s += chance(0.1) ? QStringLiteral("</p><p class=\"x\">") : QStringLiteral(" ");
        }
        return s + QStringLiteral("</p></body></html>");
    }
    // Captions use rarer words, so that full names matter to searches.
    QString caption() { return fromShares(10, 50) + u' ' + QString::number(pick(1000)); }
    // A search: one to three words or parts of words, some excluded, some in other letter case.
    QString searchText() {
        QStringList parts;
        const int n = 1 + pick(3);
        for (int i = 0; i < n; ++i) {
            QString w = searchWord();
            if (chance(0.3) && w.size() > 3) w = w.mid(pick(int(w.size()) - 2), 3 + pick(int(w.size()) - 2));
            if (chance(0.1)) w = w.left(2);
            if (chance(0.2)) w = w.toUpper();
            if (w.contains(u'&')) w = w.left(1); // "&" is a separator
            parts << ((i > 0 && chance(0.2)) ? u'-' + w : w);
        }
        return parts.join(u' ');
    }

private:
    std::mt19937 rng_;
};

class SearchIndexTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        createSchema();
        CurrentUser().name = QStringLiteral("Tester");
    }

    QList<qint64> liveIds(bool foldersOnly = false) {
        QList<qint64> out;
        Query q(db(), QStringLiteral("select id from info where hasdelete is null") +
                          (foldersOnly ? QStringLiteral(" and haschild='Y'") : QString()) +
                          QStringLiteral(" order by id"));
        while (q.next())
            out << q.integer(0);
        return out;
    }

    // Runs random searches both ways; returns how many went through the index.
    int compareSearches(Corpus& corpus, int count, const char* stage) {
        int viaIndex = 0;
        const QList<qint64> folders = liveIds(true);
        for (int i = 0; i < count; ++i) {
            TSearchCriteria c;
            c.text = corpus.searchText();
            c.includeContent = corpus.chance(0.85);
            c.includeFullName = corpus.chance(0.7);
            c.matchCase = corpus.chance(0.25);
            if (!folders.isEmpty() && corpus.chance(0.2)) {
                c.restrictToSubtree = true;
                c.subtreeRoot = QString::number(folders[corpus.pick(int(folders.size()))]);
            }
            SCOPED_TRACE(std::string(stage) + ": \"" + c.text.toStdString() + "\" content=" +
                         std::to_string(c.includeContent) + " fullname=" + std::to_string(c.includeFullName) +
                         " case=" + std::to_string(c.matchCase) + " subtree=" + c.subtreeRoot.toStdString());
            c.method = TSearchCriteria::Method::Scan;
            const SearchRun scan = RunSearch(db().connectionString(), c);
            c.method = TSearchCriteria::Method::Auto;
            const SearchRun indexed = RunSearch(db().connectionString(), c);
            EXPECT_FALSE(scan.stats.failed || indexed.stats.failed);
            EXPECT_EQ(indexed.results, scan.results);
            EXPECT_EQ(indexed.pages, scan.pages);
            if (indexed.stats.usedIndex) ++viaIndex;
        }
        return viaIndex;
    }

    void mutate(Corpus& corpus, const StoreOps& ops, int count) {
        for (int i = 0; i < count; ++i) {
            const QList<qint64> live = liveIds();
            if (live.size() < 4) return;
            const qint64 id = live[corpus.pick(int(live.size()))];
            const qint64 other = live[corpus.pick(int(live.size()))];
            switch (corpus.pick(8)) {
            case 0:
            case 1:
                ops.writeContent(db(), id, corpus.html());
                break;
            case 2:
                ops.rename(db(), id, corpus.caption());
                break;
            case 3:
                ops.setKeywords(db(), id, corpus.word() + corpus.word());
                break;
            case 4:
                // Never below itself: the target must not lie in the node's own subtree.
                if (other != id &&
                    !GetChildPath(db(), QString::number(other)).startsWith(GetChildPath(db(), QString::number(id)))) {
                    ops.move(db(), id, other);
                    db().exec(QStringLiteral("update info set haschild='Y' where id=:id"),
                              {{QStringLiteral(":id"), other}});
                }
                break;
            case 5:
                ops.copy(db(), id, other);
                break;
            case 6:
                ops.toBin(db(), id);
                binned_ << id;
                break;
            default:
                if (!binned_.isEmpty()) ops.restore(db(), binned_.takeAt(corpus.pick(int(binned_.size()))));
                break;
            }
        }
    }

    QList<qint64> binned_;
};

TEST_P(SearchIndexTest, IndexAndScanAgreeThroughStoreChanges) {
    const unsigned seed = 20261211;
    SCOPED_TRACE("seed " + std::to_string(seed));
    Corpus corpus(seed);
    const StoreOps ops = realStoreOps();

    // A knowledge base written without the index, as another program would leave it.
    QList<qint64> parents{0};
    for (int i = 0; i < 120; ++i) {
        const qint64 parent = parents[corpus.pick(int(parents.size()))];
        const qint64 id =
            AddNode(db(), parent, corpus.caption(), corpus.html(), corpus.chance(0.3) ? corpus.word() : QString());
        if (corpus.chance(0.3)) parents << id;
    }
    ASSERT_FALSE(SearchIndexExists(db()));

    int viaIndex = compareSearches(corpus, 40, "first use");
    EXPECT_TRUE(SearchIndexReady(db()));
    for (const char* stage : {"after edits 1", "after edits 2", "after edits 3"}) {
        mutate(corpus, ops, 25);
        viaIndex += compareSearches(corpus, 30, stage);
    }
    ops.purgeBin(db());
    binned_.clear();
    viaIndex += compareSearches(corpus, 30, "after purge");
    // The index must really have been used, or the comparison proves nothing.
    EXPECT_GT(viaIndex, 30);

    // A rebuild gives the same answers as the index kept up to date.
    ASSERT_TRUE(RebuildSearchIndex(db()));
    viaIndex = compareSearches(corpus, 20, "after rebuild");
    EXPECT_GT(viaIndex, 3);
}

TEST_P(SearchIndexTest, ShortWordsAndExcludeOnlySearchesFallBackToTheScan) {
    const QString gothic = QString::fromUtf8("\xf0\x9d\x94\x98\xf0\x9d\x94\xab\xf0\x9d\x94\xa6");
    const qint64 one = AddNode(db(), 0, QStringLiteral("one"), QStringLiteral("<p>quokka ab ") + gothic + u'x');
    for (int i = 0; i < 20; ++i)
        AddNode(db(), 0, QStringLiteral("filler %1").arg(i), QStringLiteral("<p>text</p>"));
    const std::pair<const char*, bool> cases[] = {
        {"quokka", true}, {"ab", false}, {"-quokka", false}, {"+", false}, {"text", false}, {"quokka ab", true},
    };
    for (const auto& [text, indexed] : cases) {
        TSearchCriteria c;
        c.text = QString::fromUtf8(text);
        c.includeContent = true;
        const SearchRun r = RunSearch(db().connectionString(), c);
        EXPECT_EQ(r.stats.usedIndex, indexed) << text;
    }
    // A search text that starts with the second half of a surrogate pair still finds the row.
    TSearchCriteria c;
    c.text = gothic.mid(1) + u'x';
    c.includeContent = true;
    const SearchRun r = RunSearch(db().connectionString(), c);
    EXPECT_EQ(r.ids(), QList<qint64>{one});
    EXPECT_FALSE(r.stats.usedIndex);
}

TEST_P(SearchIndexTest, AStoppedFirstBuildResumesAtTheNextSearch) {
    QList<qint64> ids;
    for (int i = 0; i < 1200; ++i)
        ids << AddNode(db(), 0, QStringLiteral("n%1").arg(i),
                       i % 100 == 7 ? QStringLiteral("<p>kumquat</p>") : QStringLiteral("<p>text</p>"));
    TSearchCriteria c;
    c.text = QStringLiteral("kumquat");
    c.includeContent = true;
    {
        // Stopped before it starts: the build gives up at its first row and nothing is found.
        TSearchEngine engine(db().connectionString(), c);
        engine.stop();
        engine.run();
        EXPECT_TRUE(engine.stats().stopped);
        EXPECT_EQ(engine.stats().results, 0);
    }
    EXPECT_FALSE(SearchIndexReady(db()));
    // Stopped part way: some batches stay built.
    std::atomic<bool> stop{false};
    QThread* stopper = QThread::create([&] {
        QThread::msleep(30);
        stop = true;
    });
    stopper->start();
    EnsureSearchIndex(db(), &stop);
    stopper->wait();
    delete stopper;
    c.indexBuildBudgetMs = 600000; // time enough to finish on a busy machine
    const SearchRun r = RunSearch(db().connectionString(), c);
    EXPECT_TRUE(r.stats.usedIndex);
    QList<qint64> expected;
    for (int i = 7; i < 1200; i += 100)
        expected << ids[i];
    EXPECT_EQ(r.ids(), expected);
    EXPECT_TRUE(SearchIndexReady(db()));
}

TEST_P(SearchIndexTest, APartlyBuiltIndexServesItsRowsAndTheRestIsScanned) {
    Corpus corpus(7);
    QList<qint64> ids;
    for (int i = 0; i < 300; ++i)
        ids << AddNode(db(), 0, corpus.caption(), corpus.html(), corpus.chance(0.3) ? corpus.word() : QString());
    ASSERT_TRUE(EnsureSearchIndex(db()));
    // As a first build stopped half way leaves it.
    ASSERT_TRUE(db().exec(QStringLiteral("update zel_search_meta set v=:v where k='upto'"),
                          {{QStringLiteral(":v"), QString::number(ids[150])}}));
    ASSERT_TRUE(db().exec(QStringLiteral("update zel_search_meta set v='building' where k='state'")));
    ASSERT_EQ(SearchIndexBuiltUpTo(db()), ids[150]);
    // A row past the built part changes its content: found through the scan of the rest.
    ASSERT_TRUE(WriteDocumentText(db(), QString::number(ids[250]), QStringLiteral("<p>quokka kumquat</p>")));
    int viaIndex = 0;
    for (const QString& text : {QStringLiteral("quokka"), QStringLiteral("kumquat fjord"), QStringLiteral("alpha"),
                                QStringLiteral("meeting -the")}) {
        TSearchCriteria c;
        c.text = text;
        c.includeContent = true;
        c.indexBuildBudgetMs = 0; // search with what is built
        const SearchRun hybrid = RunSearch(db().connectionString(), c);
        c.method = TSearchCriteria::Method::Scan;
        const SearchRun scan = RunSearch(db().connectionString(), c);
        EXPECT_EQ(hybrid.ids(), scan.ids()) << text.toStdString();
        EXPECT_EQ(hybrid.pages, scan.pages) << text.toStdString();
        viaIndex += hybrid.stats.usedIndex ? 1 : 0;
    }
    EXPECT_GT(viaIndex, 0);
    EXPECT_FALSE(SearchIndexReady(db())) << "a budget of nothing builds nothing";
}

TEST_P(SearchIndexTest, ADamagedIndexNeverFailsAWriteAndIsMadeAgain) {
    const qint64 id = AddNode(db(), 0, QStringLiteral("one"), QStringLiteral("<p>quokka</p>"));
    for (int i = 0; i < 20; ++i)
        AddNode(db(), 0, QStringLiteral("filler %1").arg(i), QStringLiteral("<p>text</p>"));
    ASSERT_TRUE(EnsureSearchIndex(db()));
    ASSERT_TRUE(db().exec(QStringLiteral("drop table zel_search_doc")));
    {
        Transaction tx(db());
        ASSERT_TRUE(tx.ok());
        WriteContent(db(), id, QStringLiteral("<p>kumquat</p>"));
        EXPECT_TRUE(
            db().exec(QStringLiteral("update info set caption='after' where id=:id"), {{QStringLiteral(":id"), id}}))
            << db().lastError().toStdString();
        EXPECT_TRUE(tx.commit()) << db().lastError().toStdString();
    }
    // The next search makes the index again and finds the new text through it.
    TSearchCriteria c;
    c.text = QStringLiteral("kumquat");
    c.includeContent = true;
    const SearchRun r = RunSearch(db().connectionString(), c);
    EXPECT_EQ(r.ids(), QList<qint64>{id});
    EXPECT_TRUE(r.stats.usedIndex);
    EXPECT_TRUE(SearchIndexReady(db()));
}

// Another program writes plain SQL to the knowledge base: the index must not miss a single change, both
// before it has caught up (the noted rows are candidates) and after.
TEST_P(SearchIndexTest, WritesByAnotherProcessKeepIndexResultsIdenticalToTheScan) {
    Corpus corpus(99);
    const qint64 folder = AddNode(db(), 0, QStringLiteral("folder"), QStringLiteral("<p>folder</p>"));
    QList<qint64> ids;
    for (int i = 0; i < 150; ++i)
        ids << AddNode(db(), i % 10 ? 0 : folder, corpus.caption(), corpus.html());
    ASSERT_TRUE(
        db().exec(QStringLiteral("update info set haschild='Y' where id=:id"), {{QStringLiteral(":id"), folder}}));
    ASSERT_TRUE(EnsureSearchIndex(db()));
    ASSERT_EQ(SearchIndexPendingChanges(db()), 0);

    auto id = [&](int i) { return QString::number(ids[i]); };
    // Content as another program stores it: plain bytes, no compression.
    const QString blob = scratch().dialect() == Dialect::Sqlite ? QStringLiteral("cast('%1' as blob)")
                                                                : QStringLiteral("convert_to('%1','UTF8')");
    const QStringList script{
        QStringLiteral("update info set content=%1 where id=%2")
            .arg(blob.arg(QStringLiteral("<p>kumquat newt</p>")), id(1)),
        QStringLiteral("update info set caption='Ptarmigan wharf' where id=%1").arg(id(2)),
        QStringLiteral("update info set key_word='sesquipedalian' where id=%1").arg(id(3)),
        // A row the index holds words of goes away entirely.
        QStringLiteral("delete from info where id=%1").arg(id(4)),
        // A folder renamed by hand: only the full names below it change.
        QStringLiteral("update info set fullname='/renamedfolder/' where parentnode=%1").arg(folder),
        QStringLiteral("insert into info (caption,parentnode,fullpath,fullname,content,hasdelete) values "
                       "('wharf newt',0,'/','/',%1,'N')")
            .arg(blob.arg(QStringLiteral("<p>kumquat wharf</p>"))),
    };
    QProcess p;
    if (scratch().dialect() == Dialect::Sqlite) {
        p.start(QStringLiteral("sqlite3"), {scratch().folder() + scratch().databaseName(), script.join(u';')});
    } else {
        const QString server = postgresServer();
        const qsizetype colon = server.lastIndexOf(u':');
        p.start(QStringLiteral("psql"),
                {QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), server.left(colon),
                 QStringLiteral("-p"), server.mid(colon + 1), QStringLiteral("-U"), postgresUser(),
                 QStringLiteral("-d"), scratch().databaseName(), QStringLiteral("-c"), script.join(u';')});
    }
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_GE(SearchIndexPendingChanges(db()), 6);

    const QStringList texts{QStringLiteral("kumquat"),        QStringLiteral("ptarmigan"),
                            QStringLiteral("sesquipedalian"), QStringLiteral("renamedfolder"),
                            QStringLiteral("wharf newt"),     QStringLiteral("folder")};
    for (int budget : {0, 2000}) {
        for (const QString& text : texts) {
            for (bool fullName : {false, true}) {
                SCOPED_TRACE(text.toStdString() + " budget " + std::to_string(budget) + " fullname " +
                             std::to_string(fullName));
                TSearchCriteria c;
                c.text = text;
                c.includeContent = true;
                c.includeFullName = fullName;
                c.indexBuildBudgetMs = budget; // 0: nothing is caught up before the search
                const SearchRun indexed = RunSearch(db().connectionString(), c);
                c.method = TSearchCriteria::Method::Scan;
                const SearchRun scan = RunSearch(db().connectionString(), c);
                EXPECT_TRUE(indexed.stats.usedIndex);
                if (fullName) {
                    EXPECT_FALSE(scan.results.isEmpty());
                }
                EXPECT_EQ(indexed.ids(), scan.ids());
                EXPECT_EQ(indexed.pages, scan.pages);
            }
        }
        if (budget == 0) {
            EXPECT_GE(SearchIndexPendingChanges(db()), 6) << "a budget of nothing takes nothing";
        }
    }
    EXPECT_EQ(SearchIndexPendingChanges(db()), 0);
}

ZEL_INSTANTIATE_DB_TEST(SearchIndexTest);

} // namespace
