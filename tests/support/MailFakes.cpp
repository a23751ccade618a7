#include "support/MailFakes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTemporaryFile>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zel::test {

namespace {

int listenOn(int type, quint16 port, quint16* actual) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    if (type == SOCK_STREAM && ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    if (actual) *actual = ntohs(a.sin_port);
    return fd;
}

bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

void sendAll(int fd, const QByteArray& b) {
    qsizetype at = 0;
    while (at < b.size()) {
        const ssize_t n = ::send(fd, b.constData() + at, size_t(b.size() - at), MSG_NOSIGNAL);
        if (n <= 0) return;
        at += n;
    }
}

void put16(QByteArray& b, quint16 v) {
    b += char(v >> 8);
    b += char(v & 0xFF);
}

QByteArray encodeName(const QString& name) {
    QByteArray out;
    for (const QString& label : name.split(u'.', Qt::SkipEmptyParts)) {
        out += char(label.size());
        out += label.toLatin1();
    }
    out += char(0);
    return out;
}

QByteArray record(const QString& owner, quint16 type, const QByteArray& rdata) {
    QByteArray r = encodeName(owner);
    put16(r, type);
    put16(r, 1);
    put16(r, 0);
    put16(r, 60);
    put16(r, quint16(rdata.size()));
    return r + rdata;
}

} // namespace

FakeSmtp::~FakeSmtp() {
    stop();
}

quint16 FakeSmtp::start() {
    quint16 port = 0;
    listenFd_ = listenOn(SOCK_STREAM, 0, &port);
    thread_ = std::thread([this] {
        while (!stop_) {
            if (!readable(listenFd_, 50)) continue;
            const int fd = ::accept(listenFd_, nullptr, nullptr);
            if (fd < 0) continue;
            ++connections_;
            serve(fd);
            ::close(fd);
        }
    });
    return port;
}

void FakeSmtp::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

QByteArray FakeSmtp::received() const {
    std::lock_guard<std::mutex> g(mutex_);
    return received_;
}

QList<QByteArray> FakeSmtp::messages() const {
    std::lock_guard<std::mutex> g(mutex_);
    return messages_;
}

void FakeSmtp::serve(int fd) {
    if (!greeting.isEmpty()) sendAll(fd, greeting + "\r\n");
    QByteArray buffer;
    bool inData = false;
    int authStep = 0;
    while (!stop_) {
        if (!readable(fd, 50)) continue;
        char chunk[65536];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        {
            std::lock_guard<std::mutex> g(mutex_);
            received_.append(chunk, n);
        }
        buffer.append(chunk, n);
        if (stall) continue;
        for (;;) {
            if (inData) {
                const qsizetype end = buffer.indexOf("\r\n.\r\n");
                if (end < 0 && !buffer.startsWith(".\r\n")) break;
                const qsizetype cut = buffer.startsWith(".\r\n") ? 0 : end + 2;
                {
                    std::lock_guard<std::mutex> g(mutex_);
                    messages_ += buffer.left(cut);
                }
                buffer.remove(0, cut + 3);
                inData = false;
                sendAll(fd, "250 2.0.0 queued\r\n");
                if (closeAfterData) return;
                continue;
            }
            const qsizetype lf = buffer.indexOf("\r\n");
            if (lf < 0) break;
            const QByteArray line = buffer.left(lf);
            buffer.remove(0, lf + 2);
            const QByteArray verb = line.left(4).toUpper();
            if (authStep > 0) {
                // AUTH LOGIN: the user name, then the password.
                sendAll(fd, authStep == 1 ? "334 UGFzc3dvcmQ6\r\n" : "235 2.7.0 ok\r\n");
                authStep = authStep == 1 ? 2 : 0;
                continue;
            }
            if (verb == "AUTH") {
                if (line.toUpper().startsWith("AUTH LOGIN")) {
                    sendAll(fd, "334 VXNlcm5hbWU6\r\n");
                    authStep = 1;
                } else {
                    sendAll(fd, "235 2.7.0 ok\r\n");
                }
            } else if (verb == "EHLO") {
                for (const QByteArray& l : ehlo)
                    sendAll(fd, l + "\r\n");
            } else if (verb == "HELO") {
                sendAll(fd, "250 fake.test\r\n");
            } else if (verb == "MAIL" || verb == "RSET" || verb == "NOOP") {
                sendAll(fd, "250 ok\r\n");
            } else if (verb == "RCPT") {
                QByteArray reply = "250 ok";
                {
                    std::lock_guard<std::mutex> g(mutex_);
                    if (rcptIndex_ < rcptReplies.size()) reply = rcptReplies[rcptIndex_++];
                }
                sendAll(fd, reply + "\r\n");
            } else if (verb == "DATA") {
                sendAll(fd, "354 go ahead\r\n");
                inData = true;
            } else if (verb == "QUIT") {
                sendAll(fd, "221 bye\r\n");
                return;
            } else {
                sendAll(fd, "502 not here\r\n");
            }
        }
    }
}

FakeDns::~FakeDns() {
    stop();
}

quint16 FakeDns::start() {
    quint16 port = 0;
    // The same port for UDP and TCP.
    for (int attempt = 0; attempt < 50; ++attempt) {
        udpFd_ = listenOn(SOCK_DGRAM, 0, &port);
        tcpFd_ = listenOn(SOCK_STREAM, port, nullptr);
        if (tcpFd_ >= 0) break;
        ::close(udpFd_);
        udpFd_ = -1;
    }
    thread_ = std::thread([this] {
        while (!stop_) {
            pollfd p[2] = {{udpFd_, POLLIN, 0}, {tcpFd_, POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0) continue;
            if (p[0].revents & POLLIN) {
                char buf[4096];
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t n = ::recvfrom(udpFd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n > 0) {
                    ++udp_;
                    const QByteArray reply = answer ? answer(QByteArray(buf, n), false) : QByteArray();
                    if (!reply.isEmpty())
                        ::sendto(udpFd_, reply.constData(), size_t(reply.size()), 0, reinterpret_cast<sockaddr*>(&from),
                                 len);
                }
            }
            if (p[1].revents & POLLIN) {
                const int fd = ::accept(tcpFd_, nullptr, nullptr);
                if (fd < 0) continue;
                ++tcp_;
                QByteArray in;
                QElapsedTimer t;
                t.start();
                while (t.elapsed() < 2000 &&
                       (in.size() < 2 || in.size() < 2 + ((quint8(in[0]) << 8) | quint8(in[1])))) {
                    if (!readable(fd, 50)) continue;
                    char buf[4096];
                    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                    if (n <= 0) break;
                    in.append(buf, n);
                }
                if (in.size() >= 2) {
                    const QByteArray reply = answer ? answer(in.mid(2), true) : QByteArray();
                    QByteArray framed;
                    put16(framed, quint16(reply.size()));
                    sendAll(fd, framed + reply);
                }
                ::close(fd);
            }
        }
    });
    return port;
}

void FakeDns::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (udpFd_ >= 0) ::close(udpFd_);
    if (tcpFd_ >= 0) ::close(tcpFd_);
    udpFd_ = tcpFd_ = -1;
}

QString DnsQuestionName(const QByteArray& q) {
    QStringList labels;
    qsizetype at = 12;
    while (at < q.size() && q[at] != 0) {
        const int len = quint8(q[at]);
        labels += QString::fromLatin1(q.mid(at + 1, len));
        at += 1 + len;
    }
    return labels.join(u'.');
}

quint16 DnsQuestionType(const QByteArray& q) {
    qsizetype at = 12;
    while (at < q.size() && q[at] != 0)
        at += 1 + quint8(q[at]);
    return at + 2 < q.size() ? quint16((quint8(q[at + 1]) << 8) | quint8(q[at + 2])) : 0;
}

QByteArray DnsReplyFor(const QByteArray& query, quint16 flags, const QList<QByteArray>& answers,
                       const QList<QByteArray>& authority, const QList<QByteArray>& additional) {
    QByteArray r = query.left(2);
    put16(r, quint16(flags | 0x8000 | 0x0100 | 0x0080));
    put16(r, 1);
    put16(r, quint16(answers.size()));
    put16(r, quint16(authority.size()));
    put16(r, quint16(additional.size()));
    // The question as asked.
    qsizetype at = 12;
    while (at < query.size() && query[at] != 0)
        at += 1 + quint8(query[at]);
    r += query.mid(12, at + 5 - 12);
    for (const QByteArray& x : answers)
        r += x;
    for (const QByteArray& x : authority)
        r += x;
    for (const QByteArray& x : additional)
        r += x;
    return r;
}

QByteArray DnsMx(const QString& owner, quint16 preference, const QString& exchange) {
    QByteArray rdata;
    put16(rdata, preference);
    rdata += encodeName(exchange);
    return record(owner, 15, rdata);
}

QByteArray DnsA(const QString& owner, const QString& ipv4) {
    const quint32 a = QHostAddress(ipv4).toIPv4Address();
    QByteArray rdata;
    put16(rdata, quint16(a >> 16));
    put16(rdata, quint16(a & 0xFFFF));
    return record(owner, 1, rdata);
}

QByteArray DnsNs(const QString& owner, const QString& host) {
    return record(owner, 2, encodeName(host));
}

QHash<QString, QString> MailSendServers() {
    QHash<QString, QString> env;
    QString dir = qEnvironmentVariable("ZEL_TEST_MAIL_SEND_DIR");
    if (dir.isEmpty() && qEnvironmentVariableIsSet("ZEL_TEST_MAIL_DIR"))
        dir = qEnvironmentVariable("ZEL_TEST_MAIL_DIR") + QStringLiteral("/send");
    if (dir.isEmpty()) return env;
    QFile f(dir + QStringLiteral("/mail-send.env"));
    if (!f.open(QIODevice::ReadOnly)) return env;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0) env.insert(line.left(eq), line.mid(eq + 1));
    }
    return env;
}

QList<StoredMail> SpoolOf(const QHash<QString, QString>& env, const QString& label) {
    QList<StoredMail> out;
    QDir d(env.value(QStringLiteral("SPOOL")) + u'/' + label);
    for (const QString& name : d.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile j(d.filePath(name));
        QFile e(d.filePath(name.chopped(5) + QStringLiteral(".eml")));
        if (!j.open(QIODevice::ReadOnly) || !e.open(QIODevice::ReadOnly)) continue;
        out += StoredMail{j.readAll(), e.readAll()};
    }
    return out;
}

QList<StoredMail> WaitForSpool(const QHash<QString, QString>& env, const QString& label, int count) {
    QElapsedTimer t;
    t.start();
    QList<StoredMail> got = SpoolOf(env, label);
    while (got.size() < count && t.elapsed() < 5000) {
        QThread::msleep(20);
        got = SpoolOf(env, label);
    }
    return got;
}

QByteArray ParseWithPython(const QByteArray& eml) {
    QTemporaryFile f;
    if (!f.open()) return {};
    f.write(eml);
    f.flush();
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(ZEL_TEST_SOURCE_DIR "/mail/parse_mail.py"), f.fileName()});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
    return p.readAllStandardOutput();
}

} // namespace zel::test
