#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>

#include "mail/TMailReg.h"
#include "platform/Database.h"

namespace zel {

class TPop3Cli;

// A mail run: a receive phase (modes 0 and 1) over POP3 and a send phase (modes 0, 2 and 12), on a
// thread and a database connection of its own. Accounts are taken by id when the run starts.
class TMail : public QThread {
    Q_OBJECT
public:
    enum Mode { ReceiveAndSend = 0, ReceiveOnly = 1, SendOnly = 2, SendOne = 12 };

    // accountName empty: every account of the user.
    TMail(const QString& connectionString, int mode, const QString& userCode, const QString& accountName = {});
    ~TMail() override;

    int mode() const { return mode_; }
    // Time limit of every connect, reply and read (default 60 s).
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }
    int timeoutMs() const { return timeoutMs_; }

    // The progress window's Cancel: a running download is finished and stored, then the account
    // quits without deleting further messages; a wait for any other reply ends at once.
    void cancel();
    // Program closing: every connection is dropped at once.
    void close();
    bool isCancelled() const { return cancelled_; }
    bool isClosing() const { return closing_; }

    // One result line per account and failure: (account, ok, text).
    struct Result {
        QString account;
        bool ok = true;
        QString text;
    };
    QList<Result> results() const;
    void addResult(const QString& account, bool ok, const QString& text);
    // Whether any message was downloaded.
    bool newMail() const { return newMail_; }

    // The password typed for an account during this run (the login dialog), for SMTP "same as POP3".
    QString typedPassword(const QString& accountId) const;

    // The send phase of one account: called on the run's thread with its connection. An installed
    // hook replaces the default, SendAccountOfRun (mail/MailSend.h).
    using SendAccountHook = std::function<void(TMail& run, Database& db, const TMailReg& account)>;
    static void setSendAccountHook(SendAccountHook hook);
    // Mode 12: the single message (node id) the send phase sends.
    void setSingleMessage(const QString& nodeId) { singleMessage_ = nodeId; }
    QString singleMessage() const { return singleMessage_; }

    // Shown by the run on its way (connected from the progress window).
    void setStatus(const QString& text) { emit statusChanged(text); }
    void addRow(const QString& text, bool error) { emit rowAdded(text, error); }

signals:
    void statusChanged(const QString& text);
    void rowAdded(const QString& text, bool error);
    void barChanged(int maximum, int position);
    // The account's password is not remembered, or the server refused it: fill account (popAccount,
    // popPassword, rememberPassword) and answer true, or false for Cancel (the account is passed
    // over). Connect with Qt::BlockingQueuedConnection from the main thread, or Qt::DirectConnection.
    void credentialsNeeded(zel::TMailReg* account, bool* accepted);
    void runEnded();

protected:
    void run() override;
    virtual void ReceivePhase(Database& db);
    virtual void ReceiveAccount(Database& db, TMailReg account);
    virtual void SendPhase(Database& db);
    virtual void SendAccount(Database& db, const TMailReg& account);
    QList<TMailReg> accounts(Database& db);

private:
    bool askCredentials(TMailReg& account);
    // Stores the message and its id in one transaction; false when it was already there.
    enum class Stored { New, Known, Failed };
    Stored storeMessage(Database& db, const TMailReg& account, const QByteArray& uid, const QByteArray& raw);
    bool isKnown(Database& db, const TMailReg& account, const QByteArray& uid);
    void pruneIds(Database& db, const TMailReg& account, const QList<QByteArray>& onServer);

    QString connectionString_;
    int mode_;
    QString userCode_;
    QString accountName_;
    QString singleMessage_;
    int timeoutMs_ = 60000;
    std::atomic<bool> cancelled_{false}, closing_{false}, newMail_{false}, downloading_{false};
    mutable QMutex lock_;
    QList<Result> results_;
    QHash<QString, QString> typedPasswords_;
    TPop3Cli* pop3_ = nullptr;
};

// The run of modes 0, 1 and 2 of this process: at most one at a time. Returns the new run (started),
// or the one already running (nothing new is started; *started is false then).
TMail* StartMailRun(const QString& connectionString, const QString& userCode, const QString& accountName, int mode,
                    bool* started = nullptr, const std::function<void(TMail*)>& beforeStart = {});
TMail* CurrentMailRun();
// Program closing: drops the run's connections and waits until it has ended.
void StopMailRun();

} // namespace zel
