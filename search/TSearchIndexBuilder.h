#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>
#include <atomic>

class QThread;

namespace zel {

// Keeps the search index of one knowledge base ready without making anyone wait: builds what is missing
// and takes the changes the database noted, on a thread of its own at idle priority, with a connection of
// its own, in batches of their own transactions. Stopped, it keeps what it built; started again (the next
// session), it goes on from there. Searches meanwhile give the same results as the plain scan.
class TSearchIndexBuilder : public QObject {
    Q_OBJECT
public:
    explicit TSearchIndexBuilder(QString connectionString, QObject* parent = nullptr);
    // Stops the work and waits for it.
    ~TSearchIndexBuilder() override;

    void start();
    // Ends the work after the row it is indexing (the batch rolls back) and waits for the thread; when it
    // returns, nothing touches the knowledge base any more. Call it before logout or closing.
    void stop();
    bool isRunning() const;

    // Once the index is complete the builder looks for new changes this often.
    void setCatchUpInterval(int ms) { catchUpMs_ = ms; }
    // While building, it reports progress this often (at least one batch of rows between reports).
    void setProgressInterval(int ms) { sliceMs_ = ms; }
    // Idle priority by default; normal priority competes with other programs (the benchmark on a busy
    // machine, where an idle thread gets no time at all).
    void setIdlePriority(bool idle) { idle_ = idle; }

signals:
    // True while the index is being built (not merely catching up on a few changes): the status bar
    // says so.
    void buildingChanged(bool building);
    // Rows the index covers and rows of the knowledge base, after each slice of the build.
    void progress(qint64 done, qint64 total);
    // The index is complete (it may be built already when the builder starts).
    void indexReady();
    // The builder gave up: the knowledge base cannot be opened or the index cannot be written.
    void failed(const QString& error);

private:
    void run();
    // Sleeps up to ms unless stop() is called; returns false when stopping.
    bool pause(int ms);

    QString connString_;
    std::atomic<bool> stop_{false};
    std::atomic<int> catchUpMs_{1000};
    std::atomic<int> sliceMs_{500};
    bool idle_ = true;
    QMutex mutex_;
    QWaitCondition wake_;
    QThread* thread_ = nullptr;
};

} // namespace zel
