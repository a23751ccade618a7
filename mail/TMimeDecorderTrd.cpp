#include "mail/TMimeDecorderTrd.h"

#include <QDateTime>
#include <QMutex>
#include <QSet>
#include <QWaitCondition>
#include <new>

#include "mail/MailAccounts.h"
#include "mail/MailRules.h"
#include "mail/TMimeDecorder.h"
#include "store/Sql.h"

namespace zel {

namespace {

QMutex workerLock;
QWaitCondition workerWake;
TMimeDecorderTrd* worker = nullptr;
QList<TMimeDecorderTrd*> ended; // finished workers, freed once waited for
int receiving = 0;
bool pendingWake = false;
std::atomic<bool> stopping{false};

struct SpoolRow {
    QString accountId, folderId, mailType;
    QByteArray raw;
};

bool readSpoolRow(Database& db, qint64 id, SpoolRow* row) {
    Query q(db, QStringLiteral("select folderid,mailtype,message,accountid from zel_mailspool where id=:id"),
            {{QStringLiteral(":id"), id}});
    if (!q.next()) return false;
    row->folderId = QString::number(q.value(0).toLongLong());
    row->mailType = q.text(1).isEmpty() ? QStringLiteral("I") : q.text(1);
    row->raw = q.value(2).toByteArray();
    row->accountId = QString::number(q.value(3).toLongLong());
    return true;
}

// One spool row to a document. 1: stored, 0: taken by another converter, -1: failed (row stays).
int convertSpoolRow(Database& db, qint64 id, QString* nodeId, QString* folderId, QString* caption, QString* error) {
    SpoolRow row;
    if (!readSpoolRow(db, id, &row)) return 0;
    *folderId = row.folderId;
    bool taken = false;
    TMimeDecorder d;
    try {
        d.decode(row.raw);
        // Until rules are evaluated the outcome only ever keeps the message where it is.
        const TRuleOutcome rules = ApplyMailRules(db, row.accountId, d);
        if (!rules.targetFolder.isEmpty()) row.folderId = rules.targetFolder;
        *folderId = row.folderId;
        *nodeId = d.store(db, row.folderId, row.mailType, id, &taken);
    } catch (const std::bad_alloc&) {
        nodeId->clear();
    }
    if (taken) return 0;
    if (nodeId->isEmpty()) {
        // Whatever went wrong with the parts, the message itself is kept.
        TMimeDecorder raw;
        raw.decodeAsRaw(row.raw);
        *nodeId = raw.store(db, row.folderId, row.mailType, id, &taken);
        if (taken) return 0;
        if (nodeId->isEmpty()) {
            *error = db.lastError();
            return -1;
        }
        *caption = raw.subject;
        return 1;
    }
    *caption = d.subject;
    return 1;
}

QList<qint64> spoolIds(Database& db) {
    QList<qint64> ids;
    Query q(db, QStringLiteral("select id from zel_mailspool order by id"));
    while (q.next())
        ids << q.integer(0);
    return ids;
}

} // namespace

TMailEvents& MailEvents() {
    static TMailEvents* events = new TMailEvents; // never destroyed: workers may still emit at exit
    return *events;
}

qint64 QueueIncomingMessage(Database& db, const QByteArray& raw, const QString& folderId, const TMailReg& account,
                            const QString& mailType) {
    if (!EnsureMailTables(db)) return 0;
    const qint64 id =
        db.insert(QStringLiteral("insert into zel_mailspool (accountid,folderid,mailtype,received,message) values "
                                 "(:account,:folder,:type,:now,:message) returning id"),
                  {{QStringLiteral(":account"), sql::idValue(account.id)},
                   {QStringLiteral(":folder"), sql::idValue(folderId)},
                   {QStringLiteral(":type"), mailType},
                   {QStringLiteral(":now"), QDateTime::currentDateTime()},
                   {QStringLiteral(":message"), raw}});
    if (id > 0 && db.transactionDepth() == 0) TMimeDecorderTrd::ensureRunning(db.connectionString());
    return id;
}

TMimeDecorderTrd::TMimeDecorderTrd(const QString& connectionString) : connectionString_(connectionString) {}

TMimeDecorderTrd* TMimeDecorderTrd::ensureRunning(const QString& connectionString) {
    QMutexLocker l(&workerLock);
    if (worker) {
        pendingWake = true;
        workerWake.wakeAll();
        return worker;
    }
    stopping = false;
    worker = new TMimeDecorderTrd(connectionString);
    worker->start();
    return worker;
}

TMimeDecorderTrd* TMimeDecorderTrd::current() {
    QMutexLocker l(&workerLock);
    return worker;
}

void TMimeDecorderTrd::waitIdle() {
    for (;;) {
        TMimeDecorderTrd* w = nullptr;
        QList<TMimeDecorderTrd*> done;
        {
            QMutexLocker l(&workerLock);
            w = worker;
            done.swap(ended);
        }
        for (TMimeDecorderTrd* d : done) {
            d->wait();
            delete d;
        }
        if (!w) return;
        w->wait();
    }
}

void TMimeDecorderTrd::wake() {
    QMutexLocker l(&workerLock);
    pendingWake = true;
    workerWake.wakeAll();
}

void TMimeDecorderTrd::receivingStarted() {
    QMutexLocker l(&workerLock);
    ++receiving;
}

void TMimeDecorderTrd::receivingEnded() {
    QMutexLocker l(&workerLock);
    --receiving;
    workerWake.wakeAll();
}

void TMimeDecorderTrd::stopAll() {
    stopping = true;
    wake();
    waitIdle();
}

void TMimeDecorderTrd::run() {
    Database db;
    const bool open = db.open(connectionString_) && EnsureMailTables(db);
    QSet<qint64> skipped; // failed rows wait for the next worker
    while (open && !stopping) {
        {
            QMutexLocker l(&workerLock);
            pendingWake = false;
        }
        for (qint64 id : spoolIds(db)) {
            if (stopping) break;
            if (skipped.contains(id)) continue;
            QString node, folder, caption, error;
            const int r = convertSpoolRow(db, id, &node, &folder, &caption, &error);
            if (r > 0) {
                ++converted_;
                emit nodeAdded(node, folder, caption);
                emit MailEvents().nodeAdded(node, folder, caption);
            } else if (r < 0) {
                ++failed_;
                skipped.insert(id);
                emit conversionFailed(id, error);
                emit MailEvents().conversionFailed(id, error);
            }
        }
        QMutexLocker l(&workerLock);
        if (pendingWake && !stopping) continue;
        if (receiving > 0 && !stopping) {
            workerWake.wait(&workerLock, 500);
            continue;
        }
        break;
    }
    QMutexLocker l(&workerLock);
    if (worker == this) worker = nullptr;
    ended << this;
}

int DrainMailSpool(Database& db) {
    if (!EnsureMailTables(db)) return 0;
    int n = 0;
    for (qint64 id : spoolIds(db)) {
        QString node, folder, caption, error;
        if (convertSpoolRow(db, id, &node, &folder, &caption, &error) > 0) ++n;
    }
    return n;
}

} // namespace zel
