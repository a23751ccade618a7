#include "mail/TMail.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QSet>

#include "mail/MailAccounts.h"
#include "mail/MailCharset.h"
#include "mail/MailSend.h"
#include "mail/MailText.h"
#include "mail/TMimeDecode.h"
#include "mail/TMimeDecorderTrd.h"
#include "mail/TPop3Cli.h"
#include "store/Sql.h"

namespace zel {

namespace {

QMutex runLock;
TMail* currentRun = nullptr;
TMail::SendAccountHook& sendHook() {
    static TMail::SendAccountHook hook;
    return hook;
}

// "%s" and "%d" filled in order.
QString fill(QString text, const QStringList& values) {
    for (const QString& v : values) {
        const qsizetype s = text.indexOf(QStringLiteral("%s"));
        const qsizetype d = text.indexOf(QStringLiteral("%d"));
        qsizetype at = s < 0 ? d : (d < 0 ? s : qMin(s, d));
        if (at < 0) break;
        text.replace(at, 2, v);
    }
    return text;
}

// Subject and sender of a raw message, for the progress list: its header block only.
QString subjectAndSender(const QByteArray& raw) {
    qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0) end = qMin<qsizetype>(raw.size(), 65536);
    const TMimePart head = TMimeDecode::parse(raw.left(end));
    return DecodeHeaderWords(head.header("subject")) + u':' + DecodeHeaderWords(head.header("from"));
}

constexpr int kUidWidth = 250;

} // namespace

TMail::TMail(const QString& connectionString, int mode, const QString& userCode, const QString& accountName)
    : connectionString_(connectionString), mode_(mode), userCode_(userCode), accountName_(accountName) {}

TMail::~TMail() = default;

void TMail::cancel() {
    cancelled_ = true;
    if (downloading_) setStatus(MailText(41258, u"Completing current mail,please wait..."));
}

void TMail::close() {
    closing_ = true;
    cancelled_ = true;
}

QList<TMail::Result> TMail::results() const {
    QMutexLocker l(&lock_);
    return results_;
}

void TMail::addResult(const QString& account, bool ok, const QString& text) {
    {
        QMutexLocker l(&lock_);
        results_ << Result{account, ok, text};
    }
    if (!ok) emit rowAdded(text, true);
}

QString TMail::typedPassword(const QString& accountId) const {
    QMutexLocker l(&lock_);
    return typedPasswords_.value(accountId);
}

void TMail::setSendAccountHook(SendAccountHook hook) {
    sendHook() = std::move(hook);
}

QList<TMailReg> TMail::accounts(Database& db) {
    if (accountName_.isEmpty()) return ListAccounts(db, userCode_);
    const TMailReg r = LoadAccount(db, accountName_, userCode_);
    if (r.isEmpty()) {
        addResult(accountName_, false, QStringLiteral("no mail account named \"%1\"").arg(accountName_));
        return {};
    }
    return {r};
}

void TMail::run() {
    Database db;
    if (!db.open(connectionString_) || !EnsureMailTables(db)) {
        addResult(accountName_, false, QStringLiteral("cannot open the knowledge base: %1").arg(db.lastError()));
        emit runEnded();
        return;
    }
    if (mode_ == ReceiveAndSend || mode_ == ReceiveOnly) ReceivePhase(db);
    if (!cancelled_ && (mode_ == ReceiveAndSend || mode_ == SendOnly || mode_ == SendOne)) SendPhase(db);
    emit runEnded();
}

void TMail::ReceivePhase(Database& db) {
    TMimeDecorderTrd::receivingStarted();
    // Rows left by an earlier run (a crash, a stopped worker) are converted first.
    TMimeDecorderTrd::ensureRunning(connectionString_);
    TPop3Cli client;
    client.hardStop = [this] { return closing_.load(); };
    client.softStop = [this] { return cancelled_.load(); };
    pop3_ = &client;
    for (const TMailReg& account : accounts(db)) {
        if (cancelled_) break;
        ReceiveAccount(db, account);
    }
    pop3_ = nullptr;
    TMimeDecorderTrd::receivingEnded();
}

bool TMail::askCredentials(TMailReg& account) {
    bool accepted = false;
    emit credentialsNeeded(&account, &accepted);
    if (accepted) {
        QMutexLocker l(&lock_);
        typedPasswords_.insert(account.id, account.popPassword);
    }
    return accepted;
}

bool TMail::isKnown(Database& db, const TMailReg& account, const QByteArray& uid) {
    return db.scalar(
                 QStringLiteral("select count(*) from zel_mailuidl where accountid=:a and uidl=:u"),
                 {{QStringLiteral(":a"), sql::idValue(account.id)}, {QStringLiteral(":u"), QString::fromLatin1(uid)}})
               .toLongLong() > 0;
}

TMail::Stored TMail::storeMessage(Database& db, const TMailReg& account, const QByteArray& uid, const QByteArray& raw) {
    {
        Transaction tx(db);
        if (tx.ok() &&
            db.exec(QStringLiteral("insert into zel_mailuidl (accountid,uidl,seen) values (:a,:u,:now)"),
                    {{QStringLiteral(":a"), sql::idValue(account.id)},
                     {QStringLiteral(":u"), QString::fromLatin1(uid)},
                     {QStringLiteral(":now"), QDateTime::currentDateTime()}}) &&
            QueueIncomingMessage(db, raw, account.incomingId, account, QStringLiteral("I")) > 0 && tx.commit()) {
            TMimeDecorderTrd::ensureRunning(connectionString_);
            return Stored::New;
        }
    }
    // Another process stored the same message meanwhile: the id is there now.
    return isKnown(db, account, uid) ? Stored::Known : Stored::Failed;
}

void TMail::pruneIds(Database& db, const TMailReg& account, const QList<QByteArray>& onServer) {
    // Ids of messages that left the server are not needed any more; digests stay.
    const QSet<QByteArray> live(onServer.begin(), onServer.end());
    QList<QString> gone;
    {
        Query q(db, QStringLiteral("select uidl from zel_mailuidl where accountid=:a"),
                {{QStringLiteral(":a"), sql::idValue(account.id)}});
        while (q.next()) {
            const QString u = q.text(0);
            if (!u.startsWith(QStringLiteral("sha256:")) && !live.contains(u.toLatin1())) gone << u;
        }
    }
    for (const QString& u : gone)
        db.exec(QStringLiteral("delete from zel_mailuidl where accountid=:a and uidl=:u"),
                {{QStringLiteral(":a"), sql::idValue(account.id)}, {QStringLiteral(":u"), u}});
}

void TMail::ReceiveAccount(Database& db, TMailReg account) {
    TPop3Cli& c = *pop3_;
    const QString host = account.pop3;
    const QString name = account.name;
    if (host.trimmed().isEmpty()) {
        addResult(name, false,
                  MailText(41088, u"Connete failed for Incoming Mail Server") + QStringLiteral(": no POP3 server"));
        return;
    }
    if (!account.rememberPassword || account.popPassword.isEmpty()) {
        if (!askCredentials(account)) {
            addResult(name, true, QStringLiteral("login cancelled"));
            return;
        }
        if (account.popAccount.trimmed().isEmpty()) {
            addResult(name, true, QStringLiteral("no user name; passed over"));
            return;
        }
        if (account.rememberPassword) UpdateAccount(db, account, account.id);
    }
    TPop3Cli::Options o;
    o.host = host;
    o.port = account.pop3Port;
    o.tls = account.pop3Tls;
    o.caFile = account.caFile;
    o.timeoutMs = timeoutMs_;

    // Connect and log in; a refused login asks again until the user cancels.
    for (;;) {
        setStatus(MailText(41143, u"Connecting to POP Server:") + host);
        if (!c.connectToServer(o)) {
            addResult(name, false,
                      MailText(41088, u"Connete failed for Incoming Mail Server") + u':' + host + QStringLiteral(" (") +
                          c.lastError() + u')');
            return;
        }
        if (!c.secure() && !account.allowPlain) {
            c.quit();
            addResult(name, false,
                      QStringLiteral("%1: the connection is not encrypted (no STLS offered); the password was not "
                                     "sent. Choose --tls or allow plain text for this account.")
                          .arg(host));
            return;
        }
        setStatus(MailText(41254, u"authentication User ,please wait..."));
        bool rejected = false;
        if (c.login(account.popAccount, account.popPassword, &rejected)) break;
        addResult(name, false,
                  MailText(41255, u"User authentication failed") + u':' + host + QStringLiteral(" (") + c.lastError() +
                      u')');
        c.abort();
        if (!rejected || cancelled_ || !askCredentials(account) || account.popAccount.trimmed().isEmpty()) return;
        if (account.rememberPassword) UpdateAccount(db, account, account.id);
    }

    int count = 0;
    qint64 size = 0;
    if (!c.stat(&count, &size)) {
        addResult(name, false, QStringLiteral("%1: %2").arg(host, c.lastError()));
        c.quit();
        return;
    }
    addRow(fill(MailText(41256, u"Mail box :%s  have Mail %d , Total %d Bytes"),
                {host, QString::number(count), QString::number(size)}),
           false);
    int received = 0;
    bool failed = false;
    if (count > 0) {
        QMap<int, QByteArray> ids;
        bool noUidl = false;
        if (!c.uidl(&ids, &noUidl) && !noUidl) {
            addResult(name, false, QStringLiteral("%1: %2").arg(host, c.lastError()));
            c.abort();
            return;
        }
        setStatus(fill(MailText(41265, u"Receiving Mail list with Mail Server %s"), {host}));
        QMap<int, qint64> sizes;
        if (!c.list(&sizes)) {
            addResult(name, false, QStringLiteral("%1: %2").arg(host, c.lastError()));
            c.abort();
            return;
        }
        if (!noUidl) pruneIds(db, account, ids.values());
        emit barChanged(count, 0);
        for (int n = count; n >= 1; --n) {
            if (closing_ || cancelled_) break;
            setStatus(fill(MailText(41263, u"Receiving Mail From Mail server %s: Messsage %d of %d"),
                           {host, QString::number(count - n + 1), QString::number(count)}));
            QByteArray uid = ids.value(n).left(kUidWidth);
            bool known = !uid.isEmpty() && isKnown(db, account, uid);
            if (!known) {
                QByteArray raw;
                downloading_ = true;
                const bool got = c.retr(n, &raw);
                downloading_ = false;
                if (!got) {
                    addResult(name, false, QStringLiteral("%1: message %2: %3").arg(host).arg(n).arg(c.lastError()));
                    failed = true;
                    break;
                }
                if (uid.isEmpty()) uid = "sha256:" + QCryptographicHash::hash(raw, QCryptographicHash::Sha256).toHex();
                const Stored s = storeMessage(db, account, uid, raw);
                if (s == Stored::Failed) {
                    // Not stored: it must stay on the server.
                    addResult(name, false,
                              QStringLiteral("%1: message %2 not stored: %3").arg(host).arg(n).arg(db.lastError()));
                    failed = true;
                    break;
                }
                if (s == Stored::New) {
                    ++received;
                    newMail_ = true;
                    addRow(subjectAndSender(raw), false);
                }
                emit barChanged(count, count - n + 1);
            }
            // Deleted only once the message is committed here (now or in an earlier session).
            if (!account.keepOnServer && !closing_) {
                if (!c.dele(n)) {
                    addResult(name, false, QStringLiteral("%1: DELE %2: %3").arg(host).arg(n).arg(c.lastError()));
                    failed = true;
                    break;
                }
            }
        }
    }
    if (closing_) {
        c.abort();
        return;
    }
    setStatus(fill(MailText(41257, u"Closing connection with mail server: %s  ,please wait..."), {host}));
    c.quit();
    if (!failed) addResult(name, true, QStringLiteral("%1 new of %2 on the server").arg(received).arg(count));
}

void TMail::SendPhase(Database& db) {
    for (const TMailReg& account : accounts(db)) {
        if (cancelled_) break;
        SendAccount(db, account);
    }
}

void TMail::SendAccount(Database& db, const TMailReg& account) {
    if (sendHook())
        sendHook()(*this, db, account);
    else
        SendAccountOfRun(*this, db, account);
}

TMail* StartMailRun(const QString& connectionString, const QString& userCode, const QString& accountName, int mode,
                    bool* started, const std::function<void(TMail*)>& beforeStart) {
    QMutexLocker l(&runLock);
    if (started) *started = false;
    if (currentRun) return currentRun;
    auto* run = new TMail(connectionString, mode, userCode, accountName);
    if (beforeStart) beforeStart(run);
    QObject::connect(run, &QThread::finished, run, [run] {
        {
            QMutexLocker l(&runLock);
            if (currentRun == run) currentRun = nullptr;
        }
        run->deleteLater();
    });
    currentRun = run;
    run->start();
    if (started) *started = true;
    return run;
}

TMail* CurrentMailRun() {
    QMutexLocker l(&runLock);
    return currentRun;
}

void StopMailRun() {
    TMail* run = nullptr;
    {
        QMutexLocker l(&runLock);
        run = currentRun;
    }
    if (run) {
        run->close();
        run->wait();
        // The run object itself goes with the main thread's next turn (deleteLater).
        QMutexLocker l(&runLock);
        if (currentRun == run) currentRun = nullptr;
    }
    TMimeDecorderTrd::stopAll();
}

} // namespace zel
