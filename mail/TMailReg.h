#pragma once

#include <QString>

namespace zel {

// How a connection to a mail server is secured.
enum class MailTls {
    Tls,      // TLS from the first byte (POP3S, SMTPS)
    StartTls, // plain greeting, then STLS / STARTTLS
    None,     // plain text throughout
};
QString mailTlsName(MailTls t);                     // "tls", "starttls", "none"
bool parseMailTls(const QString& text, MailTls* t); // false for anything else

// One mail account: a row of mailinfo plus its security choices (side table zel_mailsecurity).
struct TMailReg {
    QString id;
    QString spare; // kept empty
    QString description;
    QString name;
    QString organization;
    QString mailAddress;
    QString replyAddress;
    QString pop3;
    QString smtp; // empty: no SMTP server
    int pop3Port = 110;
    int smtpPort = 25;
    QString popAccount;
    bool rememberPassword = true;
    QString popPassword;
    bool authSmtp = true;
    bool authSmtpSamePop = true;
    QString smtpAccount;
    QString smtpPassword;
    bool directSend = true;
    bool requestReceipt = false;
    bool keepOnServer = false; // column backupmail
    QString incomingId = QStringLiteral("0");

    // Security (not in mailinfo). Credentials travel only over verified TLS unless allowPlain is set.
    MailTls pop3Tls = MailTls::StartTls;
    MailTls smtpTls = MailTls::StartTls;
    bool allowPlain = false;
    QString caFile; // extra trusted CA certificates (PEM); empty: the system's

    bool isEmpty() const { return id.isEmpty(); }
};

} // namespace zel
