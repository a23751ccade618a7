#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

#include "mail/MailRows.h"
#include "mail/TDnsQuery.h"
#include "mail/TMailReg.h"
#include "mail/TSmtpCli.h"
#include "platform/Database.h"

namespace zel {

class TMail;

// What the send phase needs of an account.
struct SmtpAccount {
    QString id;
    QString name;
    QString mailAddress;
    QString smtpHost; // empty: no SMTP server
    quint16 smtpPort = 25;
    SmtpTlsMode tls = SmtpTlsMode::None;
    bool allowPlain = false; // credentials may go without verified TLS
    QString caFile;
    bool authSmtp = false;
    QString user, password;
    bool directSend = true;
};

// Name server, port and trust for direct delivery, and the time limit of every connection, reply and
// name lookup. From the "Direct" group of mail.ini in the home folder, then ZEL_DNS_SERVER=HOST[:PORT],
// ZEL_SMTP_DIRECT_PORT, ZEL_SMTP_CA_FILE and ZEL_MAIL_TIMEOUT.
struct DirectSettings {
    QList<DnsServer> nameServers; // empty: those of /etc/resolv.conf
    quint16 port = 25;
    QString caFile; // when set, a mail exchanger's STARTTLS certificate must verify against it
    int timeout = 60;
};
DirectSettings LoadDirectSettings();
bool SaveDirectSettings(const DirectSettings& s);

// Reports of a send phase; every member may be empty. Called on the sending thread.
struct SendObserver {
    std::function<void(const QString& text)> status;
    std::function<void(const QString& account, bool ok, const QString& text)> row;
    std::function<void(int maximum)> barMaximum;
    std::function<void()> barStep;
    std::function<void(const QString& nodeId)> sent; // moved from the outbox to the sent box
};

// The sending of one account's outbox messages, or of one message.
struct SendRun {
    explicit SendRun(Database& database) : db(database) {}
    Database& db;
    QString nodeId; // set: send this outbox message only
    DirectSettings direct;
    SendObserver observer;
    std::atomic<bool> cancel{false};
    int sentCount = 0;
    int errorCount = 0;
};

// A message ready to go: its texts and parts, read before any connection is made.
struct PreparedMail {
    QString nodeId;
    qint64 mailId = 0;
    QString subject;
    QStringList to, cc, bcc; // addresses as entered ("Name <a@b>" or "a@b")
    bool direct = false;
    bool anonymous = false;
    QByteArray plainText; // UTF-8
    QByteArray html;      // UTF-8
    QList<SmtpFilePart> files;
    QByteArray messageId;
};

// The content of an outbox node as a message: images referenced through link URLs become parts with
// a Content-ID ("__" + attachment id + "@" + the mail domain), the node's attachments follow. False
// (error set) when the content or an attachment cannot be read.
bool PrepareMail(Database& db, const QString& nodeId, PreparedMail& mail, QString* error);
// Fills the client's message from a prepared mail: text parts in 8 bit when the server takes it and
// the lines allow, else quoted-printable.
void ComposeMail(TSmtpCli& cli, const PreparedMail& mail, bool eightBitOk);
// "a@b; Name <c@d>, e@f" -> entries, split at ";" and "," outside quotes and angle brackets.
QStringList SplitAddressList(const QString& list);
// The address of an entry ("a@b" of "Name <a@b>"); empty when it is not an address.
QString EnvelopeAddress(const QString& entry);

// The mail domain of Content-IDs and Message-IDs.
extern const char* const kMailDomain;

// Copies a document into the outbox with a mail row for it; a document already in the outbox gets its
// mail row updated instead. Returns the outbox node's id, empty on failure (error set); an empty To
// list fails with the system's message.
QString StoreOutgoingMessage(Database& db, const QString& nodeId, const TMailmsgReg& rec, QString* error);

// Moves a sent message into the sent box and stamps its mail row.
bool MarkMessageSent(Database& db, const QString& nodeId, bool direct);

// The sending side of an account record: "same as POP3" credentials, SMTP security.
SmtpAccount SmtpAccountOf(const TMailReg& account);

// Sends the account's outbox messages (or run.nodeId, which must be one of them; a row says so
// otherwise). Returns false when the knowledge base has no outbox or sent box.
bool SendAccount(SendRun& run, const SmtpAccount& account);
// The send phase of a mail run for one account: statuses, rows and the bar go to the run, its Cancel
// and close end the sending within 100 ms, a password typed during the run serves "same as POP3".
void SendAccountOfRun(TMail& mail, Database& db, const TMailReg& account);
// Starts a run of mode 12 for one outbox message of the account; it is not the current run and frees
// itself when it ends.
TMail* SendSingleMessage(const QString& connectionString, const QString& userCode, const QString& accountName,
                         const QString& nodeId);

} // namespace zel
