#include "search/TSearchIndexBuilder.h"

#include "platform/Database.h"
#include "search/SearchIndex.h"

#include <QDeadlineTimer>
#include <QThread>

namespace zel {

namespace {

// A failing build is tried again this often before the builder gives up.
constexpr int kRetries = 5;
constexpr int kRetryMs = 2000;

} // namespace

TSearchIndexBuilder::TSearchIndexBuilder(QString connectionString, QObject* parent)
    : QObject(parent), connString_(std::move(connectionString)) {}

TSearchIndexBuilder::~TSearchIndexBuilder() {
    stop();
}

void TSearchIndexBuilder::start() {
    if (isRunning()) return;
    if (thread_) {
        thread_->wait();
        delete thread_;
    }
    stop_ = false;
    thread_ = QThread::create([this] { run(); });
    // Idle priority: the build only uses time nobody else wants.
    thread_->start(idle_ ? QThread::IdlePriority : QThread::InheritPriority);
}

void TSearchIndexBuilder::stop() {
    {
        QMutexLocker lock(&mutex_);
        stop_ = true;
        wake_.wakeAll();
    }
    if (thread_) {
        thread_->wait();
        delete thread_;
        thread_ = nullptr;
    }
}

bool TSearchIndexBuilder::isRunning() const {
    return thread_ && thread_->isRunning();
}

bool TSearchIndexBuilder::pause(int ms) {
    QMutexLocker lock(&mutex_);
    if (!stop_) wake_.wait(&mutex_, QDeadlineTimer(ms));
    return !stop_;
}

void TSearchIndexBuilder::run() {
    Database db;
    if (!db.open(connString_)) {
        emit failed(db.lastError());
        return;
    }
    bool building = false, ready = false;
    int failures = 0;
    while (!stop_) {
        const QDeadlineTimer slice(sliceMs_.load());
        if (EnsureSearchIndex(db, &stop_, slice, true)) {
            failures = 0;
            if (building) emit buildingChanged(building = false);
            if (!ready) {
                ready = true;
                emit indexReady();
            }
            // Complete: from now on only the changes others make, taken while they are few.
            if (!pause(catchUpMs_)) break;
            continue;
        }
        if (stop_) break;
        if (!slice.hasExpired()) {
            // Neither stopped nor out of time: the database refused (locked, gone); try again later.
            if (++failures >= kRetries) {
                emit failed(db.lastError());
                break;
            }
            if (!pause(kRetryMs)) break;
            continue;
        }
        failures = 0;
        const qint64 upto = SearchIndexBuiltUpTo(db);
        if (upto < 0) continue; // complete, only many changes to take
        ready = false;
        if (!building) emit buildingChanged(building = true);
        const qint64 total = db.scalar(QStringLiteral("select count(*) from info")).toLongLong();
        const qint64 done =
            db.scalar(QStringLiteral("select count(*) from info where id<=:id"), {{QStringLiteral(":id"), upto}})
                .toLongLong();
        emit progress(done, total);
    }
    if (building) emit buildingChanged(false);
    db.close();
}

} // namespace zel
