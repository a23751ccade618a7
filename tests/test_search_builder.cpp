// The background index builder and the search session: a build stopped part way keeps its work and goes
// on next time, searches meanwhile agree with the scan, changes by others are taken once it is complete,
// a new search stops the one before and stopAll ends every worker.
#include <QDeadlineTimer>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

#include "search/SearchIndex.h"
#include "search/TSearchIndexBuilder.h"
#include "search/TSearchSession.h"
#include "store/Users.h"
#include "support/SearchSupport.h"
#include "support/TestKb.h"

using namespace zel;
using namespace zel::test;

namespace {

// Waits up to ms for a condition another thread makes true.
bool waitFor(const std::function<bool()>& condition, int ms = 60000) {
    const QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(5);
    }
    return true;
}

class SearchBuilderTest : public DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        createSchema();
        CurrentUser().name = QStringLiteral("Tester");
    }

    // Enough rows that a build takes several batches; every 50th holds "kumquat".
    void fill(int rows) {
        const QString filler =
            QStringLiteral("<p>") + QStringLiteral("lorem ipsum dolor sit amet ").repeated(40) + QStringLiteral("</p>");
        Transaction tx(db());
        ASSERT_TRUE(tx.ok());
        for (int i = 0; i < rows; ++i)
            ids_ << AddNode(db(), 0, QStringLiteral("row %1").arg(i),
                            i % 50 == 3 ? QStringLiteral("<p>kumquat</p>") + filler : filler);
        ASSERT_TRUE(tx.commit());
    }

    void expectSameAsScan(const QString& text) {
        TSearchCriteria c;
        c.text = text;
        c.includeContent = true;
        c.indexBuildBudgetMs = 0; // the builder does the building
        const SearchRun indexed = RunSearch(db().connectionString(), c);
        c.method = TSearchCriteria::Method::Scan;
        const SearchRun scan = RunSearch(db().connectionString(), c);
        EXPECT_EQ(indexed.ids(), scan.ids()) << text.toStdString();
        EXPECT_EQ(indexed.pages, scan.pages) << text.toStdString();
    }

    QList<qint64> ids_;
};

TEST_P(SearchBuilderTest, AStoppedBuildKeepsItsWorkAndTheNextSessionFinishesIt) {
    fill(3000);
    std::atomic<qint64> done{0}, total{0};
    std::atomic<bool> building{false}, ready{false}, failed{false};
    {
        TSearchIndexBuilder builder(db().connectionString());
        // The builder waits in its first report until the test is about to stop it, so that the stop
        // lands early in the build however fast the machine.
        std::atomic<bool> release{false};
        QObject::connect(
            &builder, &TSearchIndexBuilder::progress, &builder,
            [&](qint64 d, qint64 t) {
                done = d, total = t;
                waitFor([&] { return release.load(); }, 10000);
            },
            Qt::DirectConnection);
        QObject::connect(
            &builder, &TSearchIndexBuilder::buildingChanged, &builder, [&](bool b) { building = b; },
            Qt::DirectConnection);
        QObject::connect(
            &builder, &TSearchIndexBuilder::indexReady, &builder, [&] { ready = true; }, Qt::DirectConnection);
        builder.setProgressInterval(1); // a report after every batch
        builder.start();
        // The first progress report comes after the first batch of the build.
        ASSERT_TRUE(waitFor([&] { return done.load() > 0 || ready.load(); }));
        release = true;
        builder.stop(); // as at logout
        EXPECT_FALSE(builder.isRunning());
    }
    ASSERT_FALSE(ready.load()) << "stopped after the first batch";
    EXPECT_FALSE(building.load()) << "the status bar is told the build ended";
    EXPECT_GE(total.load(), qint64(ids_.size()));
    EXPECT_LT(done.load(), total.load());
    const qint64 upto = SearchIndexBuiltUpTo(db());
    EXPECT_GT(upto, 0);
    EXPECT_FALSE(SearchIndexReady(db()));
    // Stopped means stopped: nothing is written after stop() returned.
    const qint64 entries = SearchIndexRowCount(db());
    QThread::msleep(200);
    EXPECT_EQ(SearchIndexRowCount(db()), entries);
    EXPECT_EQ(SearchIndexBuiltUpTo(db()), upto);

    // Meanwhile the built part answers through the index and the rest is scanned.
    expectSameAsScan(QStringLiteral("kumquat"));
    expectSameAsScan(QStringLiteral("kumquat ipsum"));

    // The next session goes on from where the first stopped.
    TSearchIndexBuilder builder(db().connectionString());
    QObject::connect(
        &builder, &TSearchIndexBuilder::indexReady, &builder, [&] { ready = true; }, Qt::DirectConnection);
    QObject::connect(
        &builder, &TSearchIndexBuilder::failed, &builder, [&] { failed = true; }, Qt::DirectConnection);
    builder.start();
    ASSERT_TRUE(waitFor([&] { return ready.load() || failed.load(); }));
    EXPECT_FALSE(failed.load());
    EXPECT_TRUE(SearchIndexReady(db()));
    builder.stop();
    expectSameAsScan(QStringLiteral("kumquat"));
}

TEST_P(SearchBuilderTest, ACompleteIndexTakesChangesOthersMakeInTheBackground) {
    fill(200);
    ASSERT_TRUE(EnsureSearchIndex(db()));
    TSearchIndexBuilder builder(db().connectionString());
    builder.setCatchUpInterval(20);
    builder.start();
    // Another connection writes plain SQL, as another program would.
    std::unique_ptr<Database> other = openAnother();
    ASSERT_TRUE(other->exec(QStringLiteral("update info set caption='Ptarmigan' where id=:id"),
                            {{QStringLiteral(":id"), ids_[10]}}));
    ASSERT_TRUE(other->exec(QStringLiteral("delete from info where id=:id"), {{QStringLiteral(":id"), ids_[3]}}));
    EXPECT_TRUE(waitFor([&] { return SearchIndexPendingChanges(db()) == 0; }));
    builder.stop();
    expectSameAsScan(QStringLiteral("ptarmigan"));
    expectSameAsScan(QStringLiteral("kumquat"));
}

TEST_P(SearchBuilderTest, ANewSearchStopsTheOneBeforeAndStopAllEndsEveryWorker) {
    fill(1500);
    TSearchSession session(db().connectionString());
    std::atomic<bool> firstStopped{false}, firstFinished{false};
    TSearchCriteria slow;
    slow.text = QStringLiteral("ipsum");
    slow.includeContent = true;
    slow.method = TSearchCriteria::Method::Scan;
    TSearchEngine* first = session.newSearch(slow);
    std::atomic<int> found{0};
    QObject::connect(
        first, &TSearchEngine::resultFound, first, [&] { ++found; }, Qt::DirectConnection);
    QObject::connect(
        first, &TSearchEngine::searchFinished, first,
        [&](int, bool stopped) {
            firstStopped = stopped;
            firstFinished = true;
        },
        Qt::DirectConnection);
    first->start();
    ASSERT_TRUE(waitFor([&] { return found.load() > 0; }));

    TSearchCriteria quick;
    quick.text = QStringLiteral("kumquat");
    quick.includeContent = true;
    TSearchEngine* second = session.newSearch(quick);
    // The first has ended, stopped, before the second exists.
    EXPECT_TRUE(firstFinished.load());
    EXPECT_TRUE(firstStopped.load());
    EXPECT_LT(found.load(), 1500);
    EXPECT_EQ(session.currentSearch(), second);
    second->start();
    second->wait();
    EXPECT_EQ(second->stats().results, 30);

    // Logout while a search and the build both run.
    ASSERT_TRUE(DropSearchIndex(db()));
    session.startIndexBuilder();
    TSearchEngine* third = session.newSearch(slow);
    third->start();
    session.stopAll();
    EXPECT_FALSE(session.indexBuilder()->isRunning());
    EXPECT_EQ(session.currentSearch(), nullptr);
}

ZEL_INSTANTIATE_DB_TEST(SearchBuilderTest);

} // namespace
