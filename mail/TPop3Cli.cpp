#include "mail/TPop3Cli.h"

#include <QElapsedTimer>
#include <QSslConfiguration>
#include <QSslSocket>

namespace zel {

namespace {

constexpr int kSlice = 100; // ms between stop checks

bool isOk(const QByteArray& reply) {
    return reply.startsWith('+');
}

// First two runs of digits: "+OK 3 1200" -> 3, 1200.
bool twoNumbers(const QByteArray& text, qint64* a, qint64* b) {
    QList<qint64> found;
    qsizetype i = 0;
    while (i < text.size() && found.size() < 2) {
        if (text[i] >= '0' && text[i] <= '9') {
            const qsizetype s = i;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9')
                ++i;
            found << text.mid(s, i - s).toLongLong();
        } else {
            ++i;
        }
    }
    if (found.size() < 2) return false;
    *a = found[0];
    *b = found[1];
    return true;
}

} // namespace

TPop3Cli::TPop3Cli() = default;
TPop3Cli::~TPop3Cli() {
    abort();
}

bool TPop3Cli::fail(const QString& e) {
    error_ = e;
    return false;
}

bool TPop3Cli::isConnected() const {
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

bool TPop3Cli::secure() const {
    return socket_ && socket_->isEncrypted();
}

void TPop3Cli::abort() {
    if (socket_) {
        socket_->abort();
        socket_.reset();
    }
    buffer_.clear();
    scan_ = 0;
    request_.clear();
}

bool TPop3Cli::waitForData(bool softStoppable) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < options_.timeoutMs) {
        if (hardStop && hardStop()) return fail(QStringLiteral("stopped"));
        if (softStoppable && softStop && softStop()) return fail(QStringLiteral("cancelled"));
        if (!socket_) return fail(QStringLiteral("not connected"));
        if (socket_->bytesAvailable() > 0 || socket_->waitForReadyRead(kSlice)) {
            buffer_ += socket_->readAll();
            return true;
        }
        if (socket_->state() != QAbstractSocket::ConnectedState) {
            buffer_ += socket_->readAll();
            return fail(QStringLiteral("the server closed the connection"));
        }
    }
    return fail(QStringLiteral("no reply from the server within %1 s").arg(options_.timeoutMs / 1000));
}

bool TPop3Cli::readLine(QByteArray* line, bool softStoppable) {
    for (;;) {
        const qsizetype nl = buffer_.indexOf('\n', scan_);
        if (nl >= 0) {
            qsizetype end = nl;
            if (end > scan_ && buffer_[end - 1] == '\r') --end;
            *line = buffer_.mid(scan_, end - scan_);
            scan_ = nl + 1;
            if (scan_ > (1 << 20) || scan_ == buffer_.size()) {
                buffer_.remove(0, scan_);
                scan_ = 0;
            }
            return true;
        }
        if (!waitForData(softStoppable)) return false;
    }
}

bool TPop3Cli::readMultiLine(QByteArray* out, bool joinLines, bool softStoppable) {
    // Lines are taken straight from the buffer: a multi-megabyte message costs one copy.
    for (;;) {
        qsizetype nl;
        while ((nl = buffer_.indexOf('\n', scan_)) >= 0) {
            qsizetype end = nl;
            if (end > scan_ && buffer_[end - 1] == '\r') --end;
            const char* p = buffer_.constData() + scan_;
            qsizetype len = end - scan_;
            scan_ = nl + 1;
            if (len == 1 && p[0] == '.') {
                buffer_.remove(0, scan_);
                scan_ = 0;
                return true;
            }
            if (len > 0 && p[0] == '.') {
                ++p; // dot-stuffing
                --len;
            }
            out->append(p, len);
            if (joinLines)
                out->append("\r\n", 2);
            else
                out->append('\n');
        }
        buffer_.remove(0, scan_);
        scan_ = 0;
        if (!waitForData(softStoppable)) return false;
    }
}

bool TPop3Cli::command(const QByteArray& line, const QString& request, bool softStoppable) {
    if (!isConnected()) return fail(QStringLiteral("not connected"));
    // CR, LF and NUL would end or corrupt the command line: never sent.
    if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
        return fail(QStringLiteral("refused: a line break in the command"));
    request_ = request;
    socket_->write(line + "\r\n");
    QByteArray reply;
    if (!readLine(&reply, softStoppable)) return false;
    reply_ = QString::fromLatin1(reply);
    if (!isOk(reply)) return fail(reply_);
    return true;
}

bool TPop3Cli::connectToServer(const Options& options) {
    abort();
    options_ = options;
    error_.clear();
    capabilities_.clear();
    socket_ = std::make_unique<QSslSocket>();
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    if (!options.caFile.isEmpty()) {
        const QList<QSslCertificate> extra = QSslCertificate::fromPath(options.caFile);
        if (extra.isEmpty()) return fail(QStringLiteral("cannot read CA certificates from %1").arg(options.caFile));
        config.addCaCertificates(extra);
    }
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket_->setSslConfiguration(config);
    socket_->setPeerVerifyName(options.host);
    request_ = QStringLiteral("CONNECT");
    if (options.tls == MailTls::Tls)
        socket_->connectToHostEncrypted(options.host, quint16(options.port));
    else
        socket_->connectToHost(options.host, quint16(options.port));
    QElapsedTimer t;
    t.start();
    const bool tls = options.tls == MailTls::Tls;
    while (!(tls ? socket_->isEncrypted() : socket_->state() == QAbstractSocket::ConnectedState)) {
        if ((hardStop && hardStop()) || (softStop && softStop())) {
            abort();
            return fail(QStringLiteral("cancelled"));
        }
        if (t.elapsed() > options.timeoutMs) {
            abort();
            return fail(QStringLiteral("no connection within %1 s").arg(options.timeoutMs / 1000));
        }
        const bool done = tls ? socket_->waitForEncrypted(kSlice) : socket_->waitForConnected(kSlice);
        if (done) break;
        if (socket_->state() == QAbstractSocket::UnconnectedState) {
            QString e = socket_->errorString();
            if (!socket_->sslHandshakeErrors().isEmpty()) e = socket_->sslHandshakeErrors().first().errorString();
            abort();
            return fail(e);
        }
    }
    QByteArray greeting;
    if (!readLine(&greeting, true)) {
        abort();
        return false;
    }
    reply_ = QString::fromLatin1(greeting);
    if (!isOk(greeting)) {
        abort();
        return fail(QStringLiteral("greeting refused: %1").arg(reply_));
    }
    request_ = QStringLiteral("CAPA");
    if (command("CAPA", request_, true)) {
        QByteArray lines;
        if (!readMultiLine(&lines, false, true)) {
            abort();
            return false;
        }
        for (const QByteArray& l : lines.split('\n'))
            if (!l.trimmed().isEmpty()) capabilities_ << QString::fromLatin1(l.trimmed()).toUpper();
    } else if (!isConnected()) {
        abort();
        return false;
    }
    if (options.tls == MailTls::StartTls) {
        bool offered = false;
        for (const QString& c : capabilities_)
            offered = offered || c == QStringLiteral("STLS");
        if (!offered) {
            request_.clear();
            return true; // plain text; the caller decides whether to go on
        }
        if (!command("STLS", QStringLiteral("STLS"), true)) {
            abort();
            return false;
        }
        buffer_.clear();
        scan_ = 0;
        socket_->startClientEncryption();
        t.restart();
        while (!socket_->isEncrypted()) {
            if ((hardStop && hardStop()) || (softStop && softStop()) || t.elapsed() > options.timeoutMs ||
                (!socket_->waitForEncrypted(kSlice) && socket_->state() == QAbstractSocket::UnconnectedState)) {
                QString e = socket_->sslHandshakeErrors().isEmpty()
                                ? QStringLiteral("TLS negotiation failed: %1").arg(socket_->errorString())
                                : socket_->sslHandshakeErrors().first().errorString();
                abort();
                return fail(e);
            }
        }
        // Capabilities may change after the upgrade.
        capabilities_.clear();
        if (command("CAPA", QStringLiteral("CAPA"), true)) {
            QByteArray lines;
            if (!readMultiLine(&lines, false, true)) {
                abort();
                return false;
            }
            for (const QByteArray& l : lines.split('\n'))
                if (!l.trimmed().isEmpty()) capabilities_ << QString::fromLatin1(l.trimmed()).toUpper();
        }
    }
    request_.clear();
    return true;
}

bool TPop3Cli::login(const QString& user, const QString& password, bool* rejected) {
    *rejected = false;
    if (!command("USER " + user.trimmed().toUtf8(), QStringLiteral("USER"), true)) {
        *rejected = isConnected() && reply_.startsWith(u'-');
        return false;
    }
    if (!command("PASS " + password.toUtf8(), QStringLiteral("PASS"), true)) {
        *rejected = isConnected() && reply_.startsWith(u'-');
        return false;
    }
    request_.clear();
    return true;
}

bool TPop3Cli::stat(int* count, qint64* size) {
    if (!command("STAT", QStringLiteral("STAT"), true)) return false;
    qint64 c = 0, s = 0;
    if (!twoNumbers(reply_.toLatin1().mid(3), &c, &s)) return fail(QStringLiteral("bad STAT reply: %1").arg(reply_));
    *count = int(c);
    *size = s;
    request_.clear();
    return true;
}

bool TPop3Cli::uidl(QMap<int, QByteArray>* ids, bool* unsupported) {
    *unsupported = false;
    if (!command("UIDL", QStringLiteral("UIDL"), true)) {
        *unsupported = isConnected() && reply_.startsWith(u'-');
        return false;
    }
    QByteArray lines;
    if (!readMultiLine(&lines, false, true)) return false;
    for (const QByteArray& l : lines.split('\n')) {
        const QList<QByteArray> w = l.simplified().split(' ');
        if (w.size() >= 2) ids->insert(w[0].toInt(), w[1]);
    }
    request_.clear();
    return true;
}

bool TPop3Cli::list(QMap<int, qint64>* sizes) {
    if (!command("LIST", QStringLiteral("LIST"), true)) return false;
    QByteArray lines;
    if (!readMultiLine(&lines, false, true)) return false;
    for (const QByteArray& l : lines.split('\n')) {
        qint64 n = 0, s = 0;
        if (twoNumbers(l, &n, &s)) sizes->insert(int(n), s);
    }
    request_.clear();
    return true;
}

bool TPop3Cli::retr(int number, QByteArray* message) {
    message->clear();
    // A started download is finished even when the run is cancelled.
    if (!command("RETR " + QByteArray::number(number), QStringLiteral("RETR"), false)) return false;
    if (!readMultiLine(message, true, false)) return fail(error_.isEmpty() ? QStringLiteral("download cut") : error_);
    request_.clear();
    return true;
}

bool TPop3Cli::dele(int number) {
    const bool ok = command("DELE " + QByteArray::number(number), QStringLiteral("DELE"), false);
    if (ok) request_.clear();
    return ok;
}

bool TPop3Cli::quit() {
    if (!isConnected()) return false;
    const bool ok = command("QUIT", QStringLiteral("QUIT"), false);
    abort();
    return ok;
}

} // namespace zel
