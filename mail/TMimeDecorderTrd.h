#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>

#include "mail/TMailReg.h"
#include "platform/Database.h"

namespace zel {

// Appends a downloaded message to the spool (committed before this returns) and makes sure the
// conversion worker runs. Returns the spool row id, 0 on failure.
qint64 QueueIncomingMessage(Database& db, const QByteArray& raw, const QString& folderId, const TMailReg& account,
                            const QString& mailType);

// Process-wide announcements of the conversion workers, for the tree and the mail panel: a worker
// comes and goes with its queue, this object stays. Emitted on the worker's thread.
class TMailEvents : public QObject {
    Q_OBJECT
signals:
    // A new document under folderId: the tree adds it when the folder is expanded.
    void nodeAdded(const QString& nodeId, const QString& folderId, const QString& caption);
    // A spool row could not be stored; it stays for the next worker.
    void conversionFailed(qint64 spoolId, const QString& error);
};
TMailEvents& MailEvents();

// The conversion worker: turns spool rows into documents on a connection of its own, oldest first,
// until the spool is empty and no receive phase of this process runs. One per process; a receive
// phase that starts while it runs feeds the same worker.
class TMimeDecorderTrd : public QThread {
    Q_OBJECT
public:
    // Starts the worker for this knowledge base unless one runs; returns it.
    static TMimeDecorderTrd* ensureRunning(const QString& connectionString);
    // The running worker, or nullptr.
    static TMimeDecorderTrd* current();
    // Blocks until no worker runs (the spool is drained or the worker stopped).
    static void waitIdle();
    // New spool rows are there.
    static void wake();
    // Receive phases of this process announce themselves, so the worker waits for their messages.
    static void receivingStarted();
    static void receivingEnded();
    // Stops the worker after the message in hand (program closing).
    static void stopAll();

    int converted() const { return converted_; }
    int failed() const { return failed_; }

signals:
    // A new document: the tree adds it under its folder.
    void nodeAdded(const QString& nodeId, const QString& folderId, const QString& caption);
    // A spool row could not be stored; it stays for the next worker.
    void conversionFailed(qint64 spoolId, const QString& error);

protected:
    void run() override;

private:
    explicit TMimeDecorderTrd(const QString& connectionString);
    QString connectionString_;
    std::atomic<int> converted_{0}, failed_{0};
};

// Converts every spool row on the calling thread (zel-cli, tests); returns how many became documents.
int DrainMailSpool(Database& db);

} // namespace zel
