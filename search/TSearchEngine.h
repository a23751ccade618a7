#pragma once

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>
#include <atomic>

class QThread;

namespace zel {

// What to search for and where.
struct TSearchCriteria {
    QString text;
    bool includeContent = false;
    bool includeFullName = true;
    bool matchCase = false;
    bool restrictToSubtree = false;
    QString subtreeRoot = QStringLiteral("0");
    bool restrictByCreated = false;
    QDate createdBegin, createdEnd;
    bool restrictByModified = false;
    QDate modifiedBegin, modifiedEnd;
    QString owner; // trimmed by the engine
    // Nodes whose document password was given in this session; other protected nodes, and everything
    // below them, are left out.
    QSet<qint64> unlockedDocuments;

    // How rows are found: the index narrows content searches when it can; Scan reads every row in
    // range. Both give the same results in the same order (ascending node id).
    enum class Method { Auto, Scan };
    Method method = Method::Auto;
    // Time a search gives an index still being built before it searches with what is built so far.
    qint64 indexBuildBudgetMs = 2000;
};

// Figures of one finished search.
struct TSearchStats {
    bool usedIndex = false;
    bool stopped = false;
    bool failed = false;
    qint64 rangeRows = 0; // rows inside the range conditions (the count query)
    qint64 rowsRead = 0;  // rows the search read and matched
    int results = 0;
    int pages = 0;
    qint64 firstPageMs = -1; // from the start of run() to the first flushed page
    qint64 totalMs = 0;
};

// The background full-text search. start() runs it on a thread of its own with a connection of its
// own; run() does the same work on the calling thread. Signals arrive in the order of the work; when
// started with start(), receivers on other threads get them queued.
class TSearchEngine : public QObject {
    Q_OBJECT
public:
    TSearchEngine(QString connectionString, TSearchCriteria criteria, QObject* parent = nullptr);
    ~TSearchEngine() override;

    void start();
    // Ends a running search after the row it is matching; safe from any thread.
    void stop() { stop_.store(true); }
    bool isRunning() const;
    // Waits for a started search to end.
    bool wait(unsigned long ms = ULONG_MAX);

    void run();
    const TSearchStats& stats() const { return stats_; }
    const TSearchCriteria& criteria() const { return criteria_; }

signals:
    // The rows are being read: the result view shows the "searching" text.
    void scanStarted();
    // Progress in 0..100, shown only for more than 100 rows to read.
    void progressVisible(bool visible);
    void progressPosition(int position);
    // One result: its number (from 1), node id, caption and address (full name + caption + ".htm").
    void resultFound(int number, qint64 id, const QString& caption, const QString& address);
    // A result page of up to ten entries, complete.
    void pageFlushed(const QString& html);
    // The search ended (normally, stopped, or on a failed query).
    void searchFinished(int results, bool stopped);

private:
    QString connString_;
    TSearchCriteria criteria_;
    TSearchStats stats_;
    std::atomic<bool> stop_{false};
    QThread* thread_ = nullptr;
};

} // namespace zel
