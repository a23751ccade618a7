#include "mail/TSmtpCli.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHostInfo>
#include <QMessageAuthenticationCode>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUuid>

#include "platform/CodePage.h"

namespace zel {

const QByteArray TSmtpCli::OuterBoundary = "----=_NextPart_000_005F_01C370D1.27826A80";

namespace {

constexpr int kSlice = 100; // ms between looks at the cancel flag
constexpr qsizetype kMaxReplyBytes = 1 << 20;

bool isSpecial(unsigned char c) {
    switch (c) {
    case '"':
    case '(':
    case ')':
    case ',':
    case '.':
    case ':':
    case ';':
    case '<':
    case '>':
    case '@':
    case '[':
    case ']':
    case '\\':
        return true;
    default:
        return false;
    }
}

bool needsEncoding(const QByteArray& word) {
    for (const char ch : word) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 32 || c >= 127 || isSpecial(c)) return true;
    }
    return false;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Length of the UTF-8 sequence starting with lead byte c (1 for anything that is not a lead).
int utf8Length(unsigned char c) {
    if (c >= 0xF0 && c <= 0xF7) return 4;
    if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
    if (c >= 0xC0) return 2;
    return 1;
}

QByteArray qEncode(const QByteArray& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ') {
            out += '_';
        } else if (c < 32 || c >= 127 || isSpecial(c) || c == '=' || c == '?' || c == '_') {
            out += '=';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

// A run of words as encoded words, continued on new lines before one would pass 75 characters.
QByteArray encodeRun(const QByteArray& run, const QByteArray& charset, const QByteArray& letter) {
    const QByteArray opening = "=?" + charset + "?" + letter + "?";
    const bool base64 = letter.toLower() == "b";
    const bool utf8 = charset.toLower() == "utf-8";
    const qsizetype room = 75 - (opening.size() + 2);
    QByteArray out;
    qsizetype at = 0;
    while (at < run.size()) {
        // Take whole characters while the encoded form fits; never split a UTF-8 sequence.
        qsizetype end = at;
        qsizetype encodedSize = 0;
        while (end < run.size()) {
            const qsizetype step =
                utf8 ? qMin<qsizetype>(utf8Length(static_cast<unsigned char>(run[end])), run.size() - end) : 1;
            const QByteArray chunk = run.mid(at, end - at + step);
            encodedSize = base64 ? (chunk.size() + 2) / 3 * 4 : qEncode(chunk).size();
            if (encodedSize > room && end > at) break;
            end += step;
        }
        const QByteArray chunk = run.mid(at, end - at);
        if (!out.isEmpty()) out += "\r\n\t";
        out += opening + (base64 ? chunk.toBase64() : qEncode(chunk)) + "?=";
        at = end;
    }
    return out;
}

QByteArray quoteParam(const QString& value) {
    QByteArray v = CleanHeaderValue(value.toUtf8());
    v.replace('\\', "\\\\");
    v.replace('"', "\\\"");
    return v;
}

bool isAscii(const QByteArray& b) {
    for (const char c : b)
        if (static_cast<unsigned char>(c) >= 128) return false;
    return true;
}

// RFC 2231 form of a parameter value: charset''percent-encoded.
QByteArray extendedValue(const QByteArray& utf8) {
    return "utf-8''" + utf8.toPercentEncoding("!#$&+-.^_`|~");
}

const QRegularExpression& hostNamePattern() {
    static const QRegularExpression re(QStringLiteral("^(\\[[0-9A-Fa-f:.IPv]+\\]|[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-"
                                                      "z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*)$"));
    return re;
}

} // namespace

QByteArray CleanHeaderValue(const QByteArray& value) {
    QByteArray v = value;
    for (char& c : v)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return v;
}

QByteArray EncodeHeaderWords(const QByteArray& text, const QByteArray& charset, const QByteArray& encoding) {
    if (encoding == "8") return text;
    QByteArray out;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        // Blanks before a word are copied.
        qsizetype wordStart = i;
        while (wordStart < n && isBlank(text[wordStart]))
            ++wordStart;
        out += text.mid(i, wordStart - i);
        if (wordStart >= n) break;
        qsizetype wordEnd = wordStart;
        while (wordEnd < n && !isBlank(text[wordEnd]))
            ++wordEnd;
        const QByteArray word = text.mid(wordStart, wordEnd - wordStart);
        if (!needsEncoding(word)) {
            out += word;
            i = wordEnd;
            continue;
        }
        // Extend the run over following words that need encoding, with the blanks between them.
        qsizetype runEnd = wordEnd;
        while (runEnd < n) {
            qsizetype next = runEnd;
            while (next < n && isBlank(text[next]))
                ++next;
            if (next >= n) break;
            qsizetype nextEnd = next;
            while (nextEnd < n && !isBlank(text[nextEnd]))
                ++nextEnd;
            if (!needsEncoding(text.mid(next, nextEnd - next))) break;
            runEnd = nextEnd;
        }
        out += encodeRun(text.mid(wordStart, runEnd - wordStart), charset, encoding);
        i = runEnd;
    }
    return out;
}

QByteArray FoldHeader(const QByteArray& name, const QByteArray& value) {
    const QByteArray clean = CleanHeaderValue(value);
    QByteArray out = name + ": ";
    qsizetype lineLength = out.size();
    const QList<QByteArray> items = clean.split(',');
    for (qsizetype i = 0; i < items.size(); ++i) {
        QByteArray item = i == 0 ? items[i] : items[i].trimmed();
        if (i + 1 < items.size()) item += ',';
        if (i > 0) {
            if (lineLength + 1 + item.size() > 76) {
                out += "\r\n\t";
                lineLength = 1;
            } else {
                out += ' ';
                ++lineLength;
            }
        }
        out += item;
        lineLength += item.size();
    }
    return out;
}

QList<QByteArray> QuotedPrintableLines(const QList<QByteArray>& lines) {
    static const char hex[] = "0123456789ABCDEF";
    QList<QByteArray> out;
    for (const QByteArray& line : lines) {
        QByteArray cur;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            QByteArray piece;
            const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
            if (literal && !(cur.isEmpty() && (c == '-' || c == '.'))) {
                piece = QByteArray(1, char(c));
            } else {
                piece = QByteArray("=") + hex[c >> 4] + hex[c & 15];
            }
            if (cur.size() + piece.size() > 75) {
                out += cur + '=';
                cur.clear();
                // The continuation starts a new line: a leading "-" or "." is encoded there too.
                if (piece == "-" || piece == ".") piece = QByteArray("=") + hex[c >> 4] + hex[c & 15];
            }
            cur += piece;
        }
        out += cur;
    }
    return out;
}

TSmtpCli::TSmtpCli() = default;
TSmtpCli::~TSmtpCli() = default;

bool TSmtpCli::connected() const {
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

bool TSmtpCli::encrypted() const {
    return socket_ && socket_->isEncrypted();
}

bool TSmtpCli::hasExtension(const QString& keyword) const {
    const QString k = keyword.toUpper();
    for (const QString& e : Extensions)
        if (e == k || e.startsWith(k + u' ') || e.startsWith(k + u'=')) return true;
    return false;
}

QStringList TSmtpCli::authMechanisms() const {
    QStringList out;
    for (const QString& e : Extensions)
        if (e.startsWith(QStringLiteral("AUTH ")) || e.startsWith(QStringLiteral("AUTH=")))
            for (const QString& m : e.mid(5).split(u' ', Qt::SkipEmptyParts))
                if (!out.contains(m)) out += m;
    return out;
}

int TSmtpCli::fail(int code, const QByteArray& message) {
    if (ErrorMessage.isEmpty()) ErrorMessage = message;
    LastResponse = message;
    return code;
}

bool TSmtpCli::waitForRead() {
    QElapsedTimer t;
    t.start();
    while (!cancelled() && t.elapsed() < qint64(Timeout) * 1000) {
        if (socket_->bytesAvailable() > 0) return true;
        if (socket_->waitForReadyRead(kSlice)) return true;
        if (socket_->state() != QAbstractSocket::ConnectedState) return socket_->bytesAvailable() > 0;
    }
    return false;
}

int TSmtpCli::readReply(QByteArray* lastLine, QList<QByteArray>* lines) {
    QElapsedTimer t;
    t.start();
    for (;;) {
        const qsizetype lf = buffer_.indexOf('\n');
        if (lf >= 0) {
            QByteArray line = buffer_.left(lf);
            buffer_.remove(0, lf + 1);
            if (line.endsWith('\r')) line.chop(1);
            if (lines) *lines += line;
            LastResponse = line;
            if (line.size() > 3 && line[3] == '-') continue; // continuation line
            bool ok = false;
            const int code = line.left(3).toInt(&ok);
            if (lastLine) *lastLine = line;
            ReplyCode = ok && line.size() >= 3 ? code : 500;
            return ReplyCode;
        }
        if (buffer_.size() > kMaxReplyBytes) {
            Abort();
            return fail(500, "500 reply line too long");
        }
        if (cancelled()) {
            Abort();
            return fail(kSmtpCancelled, "500 cancelled");
        }
        if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState) {
            if (socket_ && socket_->bytesAvailable() > 0) {
                buffer_ += socket_->readAll();
                continue;
            }
            return fail(kSmtpClosed, "500 connection closed by the server");
        }
        if (t.elapsed() >= qint64(Timeout) * 1000) {
            Abort();
            return fail(kSmtpTimeout, "500 no reply from the server in time");
        }
        if (socket_->bytesAvailable() > 0 || socket_->waitForReadyRead(kSlice)) buffer_ += socket_->readAll();
    }
}

bool TSmtpCli::writeAll(const QByteArray& bytes) {
    if (Record) Transcript += bytes;
    if (socket_->write(bytes) != bytes.size()) return false;
    QElapsedTimer t;
    t.start();
    while (socket_->bytesToWrite() > 0 || (socket_->isEncrypted() && socket_->encryptedBytesToWrite() > 0)) {
        if (cancelled() || t.elapsed() >= qint64(Timeout) * 1000) return false;
        if (socket_->state() != QAbstractSocket::ConnectedState) return false;
        socket_->waitForBytesWritten(kSlice);
    }
    return true;
}

int TSmtpCli::sendCommand(const QByteArray& line, std::initializer_list<int> accepted) {
    if (!connected()) return fail(500, "500 SMTP component not connected");
    // A command is one line: nothing the caller passes can start another one.
    QByteArray clean = line;
    clean.replace('\r', "").replace('\n', "").replace('\0', "");
    if (!writeAll(clean + "\r\n")) {
        if (cancelled()) {
            Abort();
            return fail(kSmtpCancelled, "500 cancelled");
        }
        return fail(kSmtpClosed, "500 connection lost while sending");
    }
    const int code = readReply();
    if (code >= kSmtpSocketError) return code;
    bool ok = false;
    if (accepted.size() == 0) {
        ok = code < 500;
    } else {
        for (const int a : accepted)
            ok = ok || a == code;
    }
    if (ok) return 0;
    if (ErrorMessage.isEmpty()) ErrorMessage = LastResponse;
    return code;
}

QByteArray TSmtpCli::signOnName() const {
    if (hostNamePattern().match(SignOn).hasMatch()) return SignOn.toLatin1();
    const QString local = QHostInfo::localHostName();
    if (hostNamePattern().match(local).hasMatch()) return local.toLatin1();
    return "localhost";
}

QByteArray TSmtpCli::envelopeAddress(const QString& address) const {
    QString a = address.trimmed();
    const qsizetype lt = a.indexOf(u'<');
    if (lt >= 0) {
        const qsizetype gt = a.indexOf(u'>', lt);
        a = gt > lt ? a.mid(lt + 1, gt - lt - 1) : a.mid(lt + 1);
    }
    QByteArray b = a.trimmed().toUtf8();
    b.replace('\r', "").replace('\n', "").replace('\0', "").replace(' ', "").replace('<', "").replace('>', "");
    return "<" + b + ">";
}

int TSmtpCli::Connect() {
    ErrorMessage.clear();
    if (connected()) return fail(500, "500 SMTP component already connected");
    Abort();
    Esmtp = false;
    Extensions.clear();
    verified_ = false;
    socket_ = std::make_unique<QSslSocket>();
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    if (!CaFile.isEmpty()) {
        QList<QSslCertificate> cas = conf.caCertificates();
        cas += QSslCertificate::fromPath(CaFile, QSsl::Pem);
        conf.setCaCertificates(cas);
    }
    conf.setPeerVerifyMode(VerifyPeer ? QSslSocket::VerifyPeer : QSslSocket::QueryPeer);
    socket_->setSslConfiguration(conf);
    socket_->setPeerVerifyName(Host);
    const QString target = ConnectAddress.isEmpty() ? Host : ConnectAddress;
    if (Tls == SmtpTlsMode::Implicit)
        socket_->connectToHostEncrypted(target, Port, Host);
    else
        socket_->connectToHost(target, Port);
    QElapsedTimer t;
    t.start();
    const bool wantTls = Tls == SmtpTlsMode::Implicit;
    for (;;) {
        if (cancelled()) {
            Abort();
            return fail(kSmtpCancelled, "500 cancelled");
        }
        if (socket_->state() == QAbstractSocket::ConnectedState && (!wantTls || socket_->isEncrypted())) break;
        if (socket_->state() == QAbstractSocket::UnconnectedState ||
            socket_->error() != QAbstractSocket::UnknownSocketError) {
            const int code = kSmtpSocketError + int(socket_->error());
            const QByteArray text = "500 " + socket_->errorString().toUtf8();
            Abort();
            return fail(code, text);
        }
        if (t.elapsed() >= qint64(Timeout) * 1000) {
            Abort();
            return fail(kSmtpTimeout, "500 connection timed out");
        }
        if (socket_->state() != QAbstractSocket::ConnectedState)
            socket_->waitForConnected(kSlice);
        else
            socket_->waitForEncrypted(kSlice);
    }
    verified_ = wantTls && VerifyPeer && socket_->sslHandshakeErrors().isEmpty();
    buffer_.clear();
    const int code = readReply();
    if (code >= kSmtpSocketError) return code;
    if (code != 220) {
        ErrorMessage = LastResponse;
        Abort();
        return code;
    }
    return 0;
}

int TSmtpCli::Helo() {
    ErrorMessage.clear();
    Esmtp = false;
    Extensions.clear();
    return sendCommand("HELO " + signOnName(), {250});
}

int TSmtpCli::Ehlo() {
    ErrorMessage.clear();
    Esmtp = false;
    Extensions.clear();
    if (!connected()) return fail(500, "500 SMTP component not connected");
    if (!writeAll("EHLO " + signOnName() + "\r\n")) return fail(kSmtpClosed, "500 connection lost while sending");
    QList<QByteArray> lines;
    const int code = readReply(nullptr, &lines);
    if (code >= kSmtpSocketError) return code;
    if (code != 250) {
        ErrorMessage = LastResponse;
        return code;
    }
    for (qsizetype i = 1; i < lines.size(); ++i)
        Extensions += QString::fromLatin1(lines[i].mid(4)).trimmed().toUpper();
    Esmtp = true;
    return 0;
}

int TSmtpCli::StartTls() {
    ErrorMessage.clear();
    if (!hasExtension(QStringLiteral("STARTTLS"))) return fail(530, "530 the server offers no STARTTLS");
    const int code = sendCommand("STARTTLS", {220});
    if (code != 0) return code;
    // Anything the server sent before the handshake could be an injected command reply.
    if (!buffer_.isEmpty() || socket_->bytesAvailable() > 0) {
        Abort();
        return fail(500, "500 data after STARTTLS reply");
    }
    socket_->startClientEncryption();
    QElapsedTimer t;
    t.start();
    while (!socket_->isEncrypted()) {
        if (cancelled()) {
            Abort();
            return fail(kSmtpCancelled, "500 cancelled");
        }
        if (socket_->state() != QAbstractSocket::ConnectedState) {
            const QByteArray text = "500 TLS handshake failed: " + socket_->errorString().toUtf8();
            Abort();
            return fail(kSmtpSocketError + int(QAbstractSocket::SslHandshakeFailedError), text);
        }
        if (t.elapsed() >= qint64(Timeout) * 1000) {
            Abort();
            return fail(kSmtpTimeout, "500 TLS handshake timed out");
        }
        socket_->waitForEncrypted(kSlice);
    }
    verified_ = VerifyPeer && socket_->sslHandshakeErrors().isEmpty();
    Esmtp = false;
    Extensions.clear();
    return 0;
}

int TSmtpCli::Auth() {
    ErrorMessage.clear();
    if (!Esmtp) return fail(500, "500 ESMTP not supported.");
    TSmtpAuthType type = AuthType;
    if (type == smtpAuthNone) return fail(500, "500 No Authorization Type Selected.");
    if (!verified() && !AllowPlainAuth) return fail(530, "530 credentials need a verified TLS connection");
    if (type == smtpAuthAutoSelect) {
        const QStringList mechs = authMechanisms();
        if (mechs.contains(QStringLiteral("LOGIN")))
            type = smtpAuthLogin;
        else if (mechs.contains(QStringLiteral("PLAIN")))
            type = smtpAuthPlain;
        else if (mechs.contains(QStringLiteral("CRAM-MD5")))
            type = smtpAuthCramMD5;
        else
            return fail(504, "504 no AUTH mechanism in common with the server");
    }
    const QByteArray user = Username.toUtf8();
    const QByteArray pass = Password.toUtf8();
    int code = 0;
    switch (type) {
    case smtpAuthLogin:
        if ((code = sendCommand("AUTH LOGIN", {334})) != 0) return code;
        if ((code = sendCommand(user.toBase64(), {334})) != 0) return code;
        return sendCommand(pass.toBase64(), {235});
    case smtpAuthPlain:
        // Empty authorization identity: the server derives it from the authentication identity.
        return sendCommand("AUTH PLAIN " + (QByteArray(1, '\0') + user + '\0' + pass).toBase64(), {235});
    case smtpAuthCramMD5: {
        if ((code = sendCommand("AUTH CRAM-MD5", {334})) != 0) return code;
        if (LastResponse.size() <= 4) return fail(500, "500 Malformed MD5 Challege: " + LastResponse);
        const QByteArray challenge = QByteArray::fromBase64(LastResponse.mid(4));
        // QMessageAuthenticationCode hashes keys longer than the block size, as RFC 2104 asks.
        const QByteArray digest = QMessageAuthenticationCode::hash(challenge, pass, QCryptographicHash::Md5).toHex();
        return sendCommand((user + ' ' + digest).toBase64(), {235});
    }
    default:
        return fail(500, "500 No Authorization Type Selected.");
    }
}

int TSmtpCli::Vrfy() {
    ErrorMessage.clear();
    return sendCommand("VRFY " + CleanHeaderValue(HdrTo), {250});
}

int TSmtpCli::MailFrom() {
    ErrorMessage.clear();
    return sendCommand("MAIL FROM:" + envelopeAddress(FromName) + MailFromParameters, {250});
}

int TSmtpCli::RcptTo() {
    ErrorMessage.clear();
    RejectedRcpt.clear();
    AcceptedRcpt = 0;
    if (RcptName.isEmpty()) return fail(500, "500 RcptName list is empty");
    int lastCode = 0;
    for (const QString& r : RcptName) {
        const int code = sendCommand("RCPT TO:" + envelopeAddress(r), {250, 251});
        if (code >= kSmtpSocketError) return code;
        if (code == 0) {
            ++AcceptedRcpt;
        } else {
            RejectedRcpt += envelopeAddress(r) + ": " + LastResponse;
            lastCode = code;
            if (code == 421) return code; // the server is closing the connection
        }
    }
    // The message goes when anyone accepted it; the refused recipients are reported by the caller.
    return AcceptedRcpt > 0 ? 0 : lastCode;
}

int TSmtpCli::Data() {
    ErrorMessage.clear();
    int code = sendCommand("DATA", {354});
    if (code != 0) return code;
    const QByteArray message = PreparedMessage.isEmpty() ? BuildMessage() : PreparedMessage;
    QByteArray wire;
    wire.reserve(message.size() + message.size() / 64 + 8);
    qsizetype at = 0;
    while (at < message.size()) {
        qsizetype lf = message.indexOf('\n', at);
        if (lf < 0) lf = message.size();
        QByteArray line = message.mid(at, lf - at);
        if (line.endsWith('\r')) line.chop(1);
        if (line.startsWith('.')) wire += '.';
        wire += line;
        wire += "\r\n";
        at = lf + 1;
    }
    wire += ".\r\n";
    if (!writeAll(wire)) {
        if (cancelled()) {
            Abort();
            return fail(kSmtpCancelled, "500 cancelled");
        }
        return fail(kSmtpClosed, "500 connection lost while sending the message");
    }
    code = readReply();
    if (code >= kSmtpSocketError) return code;
    if (code == 250) return 0;
    ErrorMessage = LastResponse;
    return code;
}

int TSmtpCli::Quit() {
    ErrorMessage.clear();
    if (connected() && writeAll("QUIT\r\n")) {
        readReply();
        QElapsedTimer t;
        t.start();
        while (socket_->state() == QAbstractSocket::ConnectedState && t.elapsed() < 2000 && !cancelled())
            socket_->waitForDisconnected(kSlice);
    }
    Abort();
    return 0;
}

int TSmtpCli::Rset() {
    ErrorMessage.clear();
    return sendCommand("RSET", {250});
}

void TSmtpCli::Abort() {
    if (socket_) {
        socket_->abort();
        socket_.reset();
    }
    buffer_.clear();
    verified_ = false;
}

QByteArray TSmtpCli::FormatDate(const QDateTime& utc) {
    static const char* days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime t = utc.toUTC();
    const QDate d = t.date();
    const QTime tm = t.time();
    return QByteArray(days[d.dayOfWeek() - 1]) + ", " + QByteArray::number(d.day()) + ' ' + months[d.month() - 1] +
           ' ' + QByteArray::number(d.year()).rightJustified(4, ' ') + ' ' +
           QByteArray::number(tm.hour()).rightJustified(2, '0') + ':' +
           QByteArray::number(tm.minute()).rightJustified(2, '0') + ':' +
           QByteArray::number(tm.second()).rightJustified(2, '0') + " GMT";
}

QByteArray TSmtpCli::BuildMessage() const {
    QByteArray out;
    auto line = [&out](const QByteArray& l) { out += l + "\r\n"; };
    if (!OwnHeaders) {
        if (!HdrReplyTo.trimmed().isEmpty()) line(FoldHeader("Reply-To", HdrReplyTo));
        if (!HdrReturnPath.trimmed().isEmpty()) line(FoldHeader("Return-Path", HdrReturnPath));
        if (!HdrFrom.isEmpty()) line(FoldHeader("From", HdrFrom));
        if (!HdrTo.isEmpty()) line(FoldHeader("To", HdrTo));
        if (!HdrCc.isEmpty()) line(FoldHeader("Cc", HdrCc));
        const QString subject = QString::fromUtf8(CleanHeaderValue(HdrSubject.toUtf8()));
        if (CharSet.toLower() == "utf-8")
            line("Subject: " + EncodeHeaderWords(subject.toUtf8(), "utf-8", "b"));
        else
            line("Subject: " + EncodeHeaderWords(toSystemCodePage(subject), systemCodePage(), "b"));
        if (!HdrSender.trimmed().isEmpty())
            line(FoldHeader("Sender", HdrSender));
        else if (!HdrFrom.trimmed().isEmpty())
            line(FoldHeader("Sender", HdrFrom));
        line("Mime-Version: 1.0");
        line("Content-Type: multipart/mixed;");
        line("        boundary=\"" + OuterBoundary + "\"");
        line("Date: " + FormatDate(QDateTime::currentDateTimeUtc()));
        line("Message-ID: <" +
             (MessageId.isEmpty() ? QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@" + MessageIdDomain
                                  : CleanHeaderValue(MessageId)) +
             ">");
        line("X-Mailer: Orvane Zel Edition V1.0.0");
        line(QByteArray());
    }
    line("This is a multipart MIME message.");
    line(QByteArray());
    line("--" + OuterBoundary);
    line("Content-Type: multipart/alternative;");
    line("    boundary=\"" + InnerBoundary + "\"");
    line(QByteArray());
    line("--" + InnerBoundary);
    line(QByteArray("Content-Type: ") + (ContentType == smtpHTML ? "text/html" : "text/plain") + "; charset=\"" +
         CharSet + "\"");
    line("Content-Transfer-Encoding: " + TransferEncoding);
    line(QByteArray());
    for (const QByteArray& l : MailMessage)
        line(l);
    line("--" + InnerBoundary + "--");
    for (const SmtpFilePart& f : EmailFiles) {
        const QByteArray utf8Name = CleanHeaderValue(f.name.toUtf8());
        const bool ascii = isAscii(utf8Name);
        const QByteArray shown =
            ascii ? quoteParam(f.name) : EncodeHeaderWords(utf8Name, "utf-8", "b").replace("\r\n\t", " ");
        line("--" + OuterBoundary);
        line("Content-Type: " + f.contentType + ";");
        line("\tname=\"" + shown + "\"");
        line("Content-Transfer-Encoding: base64");
        line("Content-Disposition: attachment;");
        if (ascii)
            line("\tfilename=\"" + shown + "\"");
        else
            line("\tfilename*=" + extendedValue(utf8Name));
        if (!f.headerLine.isEmpty()) line(CleanHeaderValue(f.headerLine));
        line(QByteArray());
        for (qsizetype at = 0; at < f.data.size(); at += 45)
            line(f.data.mid(at, 45).toBase64());
    }
    line(QByteArray());
    line("--" + OuterBoundary + "--");
    return out;
}

} // namespace zel
