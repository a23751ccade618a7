#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "mail/TMailReg.h"

class QSslSocket;

namespace zel {

// POP3 client (RFC 1939 with CAPA, STLS and UIDL) on the calling thread: every call sends its command
// and waits for the reply, at most timeoutMs, turning the socket's events meanwhile. A stop check is
// asked every 100 ms: the hard stop aborts any wait; the soft one (a cancel) aborts all but a message
// download, a delete and QUIT, which are finished.
class TPop3Cli {
public:
    TPop3Cli();
    ~TPop3Cli();
    TPop3Cli(const TPop3Cli&) = delete;
    TPop3Cli& operator=(const TPop3Cli&) = delete;

    struct Options {
        QString host;
        int port = 110;
        MailTls tls = MailTls::StartTls;
        QString caFile;
        int timeoutMs = 60000;
    };
    std::function<bool()> hardStop;
    std::function<bool()> softStop;

    // Connects, reads the greeting, asks CAPA and, for STARTTLS, upgrades with STLS. False with
    // lastError() set on failure. A server without STLS leaves the connection in plain text
    // (secure() false): the caller decides whether credentials may travel over it.
    bool connectToServer(const Options& options);
    bool secure() const;
    QStringList capabilities() const { return capabilities_; }
    // USER and PASS; rejected is set when the server refused them (as opposed to a lost connection).
    bool login(const QString& user, const QString& password, bool* rejected);
    bool stat(int* count, qint64* size);
    // Message number -> unique id; unsupported is set when the server refuses UIDL.
    bool uidl(QMap<int, QByteArray>* ids, bool* unsupported);
    bool list(QMap<int, qint64>* sizes);
    // The message as lines joined by CR LF, dot-stuffing undone, long lines whole.
    bool retr(int number, QByteArray* message);
    bool dele(int number);
    bool quit();
    void abort();
    bool isConnected() const;
    // The command in flight ("RETR", ...), empty when idle.
    QString currentRequest() const { return request_; }
    QString lastError() const { return error_; }
    QString lastReply() const { return reply_; }

private:
    bool command(const QByteArray& line, const QString& request, bool softStoppable);
    bool readLine(QByteArray* line, bool softStoppable);
    bool waitForData(bool softStoppable);
    bool readMultiLine(QByteArray* out, bool joinLines, bool softStoppable);
    bool fail(const QString& e);

    std::unique_ptr<QSslSocket> socket_;
    QByteArray buffer_;
    qsizetype scan_ = 0;
    Options options_;
    QStringList capabilities_;
    QString request_, error_, reply_;
};

} // namespace zel
