#include "mail/TDnsQuery.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHostInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QUrl>
#include <algorithm>

namespace zel {

namespace {

constexpr int kSlice = 100;

void put16(QByteArray& b, quint16 v) {
    b += char(v >> 8);
    b += char(v & 0xFF);
}

quint16 get16(const QByteArray& b, qsizetype at) {
    return quint16((quint8(b[at]) << 8) | quint8(b[at + 1]));
}

quint32 get32(const QByteArray& b, qsizetype at) {
    return (quint32(get16(b, at)) << 16) | get16(b, at + 2);
}

// Reads a possibly compressed name at pos; pos moves past it in the original place.
bool readName(const QByteArray& m, qsizetype& pos, QString& name) {
    QStringList labels;
    qsizetype at = pos;
    bool jumped = false;
    int jumps = 0;
    qsizetype total = 0;
    for (;;) {
        if (at >= m.size()) return false;
        const quint8 len = quint8(m[at]);
        if ((len & 0xC0) == 0xC0) {
            if (at + 1 >= m.size() || ++jumps > 64) return false;
            const qsizetype target = ((len & 0x3F) << 8) | quint8(m[at + 1]);
            if (!jumped) pos = at + 2;
            jumped = true;
            at = target;
            continue;
        }
        if (len & 0xC0) return false;
        if (len == 0) {
            if (!jumped) pos = at + 1;
            break;
        }
        if (at + 1 + len > m.size()) return false;
        total += len + 1;
        if (total > 255) return false;
        labels += QString::fromLatin1(m.mid(at + 1, len)).toLower();
        at += 1 + len;
    }
    name = labels.join(u'.');
    return true;
}

bool readRecords(const QByteArray& m, qsizetype& pos, int count, QList<DnsRecord>& out) {
    for (int i = 0; i < count; ++i) {
        DnsRecord r;
        if (!readName(m, pos, r.name)) return false;
        if (pos + 10 > m.size()) return false;
        r.type = get16(m, pos);
        r.klass = get16(m, pos + 2);
        r.ttl = get32(m, pos + 4);
        const quint16 rdlen = get16(m, pos + 8);
        pos += 10;
        if (pos + rdlen > m.size()) return false;
        const qsizetype rdata = pos;
        switch (r.type) {
        case dnsA:
            if (rdlen != 4) return false;
            r.address = QHostAddress(get32(m, rdata));
            break;
        case dnsAAAA: {
            if (rdlen != 16) return false;
            Q_IPV6ADDR a;
            for (int k = 0; k < 16; ++k)
                a[k] = quint8(m[rdata + k]);
            r.address = QHostAddress(a);
            break;
        }
        case dnsMX: {
            if (rdlen < 3) return false;
            r.preference = get16(m, rdata);
            qsizetype p = rdata + 2;
            if (!readName(m, p, r.host)) return false;
            break;
        }
        case dnsNS:
        case dnsPTR:
        case dnsCNAME: {
            qsizetype p = rdata;
            if (!readName(m, p, r.host)) return false;
            break;
        }
        default:
            break;
        }
        pos = rdata + rdlen;
        out += r;
    }
    return true;
}

QString normalName(const QString& name) {
    QString n = name.trimmed().toLower();
    while (n.endsWith(u'.'))
        n.chop(1);
    return n;
}

// The reply answers our question: same id, a response, the same name and type.
bool answersQuestion(const QByteArray& m, quint16 id, const QString& name, quint16 type) {
    if (m.size() < 12 || get16(m, 0) != id || !(quint8(m[2]) & 0x80)) return false;
    if (get16(m, 4) != 1) return false;
    qsizetype pos = 12;
    QString qname;
    if (!readName(m, pos, qname) || pos + 4 > m.size()) return false;
    return qname == normalName(name) && get16(m, pos) == type;
}

} // namespace

QByteArray BuildDnsQuery(quint16 id, const QString& name, quint16 type) {
    QByteArray m;
    put16(m, id);
    put16(m, 0x0100); // recursion desired
    put16(m, 1);
    put16(m, 0);
    put16(m, 0);
    put16(m, 0);
    const QString n = normalName(name);
    if (n.isEmpty()) return {};
    // Non-ASCII names go as their ACE form.
    const QByteArray ace = QUrl::toAce(n);
    if (ace.isEmpty() || ace.size() > 253) return {};
    for (const QByteArray& label : ace.split('.')) {
        if (label.isEmpty() || label.size() > 63) return {};
        m += char(label.size());
        m += label;
    }
    m += char(0);
    put16(m, type);
    put16(m, 1); // IN
    return m;
}

bool ParseDnsReply(const QByteArray& m, DnsReply& reply, QString* error) {
    reply = DnsReply();
    auto bad = [&](const char* why) {
        if (error) *error = QString::fromLatin1(why);
        return false;
    };
    if (m.size() < 12) return bad("DNS reply too short");
    reply.id = get16(m, 0);
    const quint16 flags = get16(m, 2);
    reply.truncated = flags & 0x0200;
    reply.rcode = flags & 0x000F;
    const int qd = get16(m, 4), an = get16(m, 6), ns = get16(m, 8), ar = get16(m, 10);
    qsizetype pos = 12;
    for (int i = 0; i < qd; ++i) {
        QString ignored;
        if (!readName(m, pos, ignored) || pos + 4 > m.size()) return bad("malformed DNS question");
        pos += 4;
    }
    // A truncated reply may end anywhere; what was read is kept.
    if (!readRecords(m, pos, an, reply.answer)) return reply.truncated || bad("malformed DNS answer");
    if (!readRecords(m, pos, ns, reply.authority)) return reply.truncated || bad("malformed DNS authority");
    if (!readRecords(m, pos, ar, reply.additional)) return reply.truncated || bad("malformed DNS additional");
    return true;
}

DnsServer ParseDnsServer(const QString& text) {
    DnsServer s;
    const QString t = text.trimmed();
    if (t.startsWith(u'[')) {
        const qsizetype close = t.indexOf(u']');
        s.host = t.mid(1, close - 1);
        if (close > 0 && t.mid(close + 1).startsWith(u':')) s.port = quint16(t.mid(close + 2).toUInt());
    } else if (t.count(u':') == 1) {
        s.host = t.section(u':', 0, 0);
        s.port = quint16(t.section(u':', 1).toUInt());
    } else {
        s.host = t;
    }
    if (s.port == 0) s.port = 53;
    return s;
}

QList<DnsServer> FindDnsServer(const QString& resolvConf) {
    QList<DnsServer> out;
    QFile f(resolvConf);
    if (!f.open(QIODevice::ReadOnly)) return out;
    while (!f.atEnd()) {
        const QString line = QString::fromLatin1(f.readLine()).trimmed();
        if (line.startsWith(u'#') || line.startsWith(u';')) continue;
        const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (words.size() >= 2 && words[0] == QStringLiteral("nameserver")) {
            QHostAddress a;
            // A scope suffix ("fe80::1%eth0") is kept by QHostAddress.
            if (a.setAddress(words[1])) out += DnsServer{words[1], 53};
        }
    }
    return out;
}

bool TDnsQuery::query(const QString& name, quint16 type, DnsReply& reply, QString* error) {
    if (Servers.isEmpty()) {
        if (error) *error = QStringLiteral("no name server configured");
        return false;
    }
    const quint16 id = quint16(QRandomGenerator::system()->generate());
    const QByteArray message = BuildDnsQuery(id, name, type);
    if (message.isEmpty()) {
        if (error) *error = QStringLiteral("not a domain name: %1").arg(name);
        return false;
    }
    const int perServer = qMax(1000, Timeout * 1000 / int(Servers.size()));
    QString last;
    for (const DnsServer& s : Servers) {
        if (cancelled()) break;
        if (askOne(s, message, id, name, type, perServer, reply, &last)) return true;
    }
    if (error) *error = cancelled() ? QStringLiteral("cancelled") : last;
    return false;
}

bool TDnsQuery::askOne(const DnsServer& server, const QByteArray& message, quint16 id, const QString& name,
                       quint16 type, int timeoutMs, DnsReply& reply, QString* error) {
    QHostAddress address;
    if (!address.setAddress(server.host)) {
        const QHostInfo info = QHostInfo::fromName(server.host);
        if (info.addresses().isEmpty()) {
            if (error) *error = QStringLiteral("name server %1 not found").arg(server.host);
            return false;
        }
        address = info.addresses().first();
    }
    QUdpSocket udp;
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    if (!udp.bind(v6 ? QHostAddress(QHostAddress::AnyIPv6) : QHostAddress(QHostAddress::AnyIPv4), 0)) {
        if (error) *error = udp.errorString();
        return false;
    }
    if (udp.writeDatagram(message, address, server.port) != message.size()) {
        if (error) *error = udp.errorString();
        return false;
    }
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs && !cancelled()) {
        if (!udp.hasPendingDatagrams() && !udp.waitForReadyRead(kSlice)) continue;
        while (udp.hasPendingDatagrams()) {
            QByteArray data(qMax<qint64>(udp.pendingDatagramSize(), 0), Qt::Uninitialized);
            QHostAddress from;
            quint16 fromPort = 0;
            const qint64 got = udp.readDatagram(data.data(), data.size(), &from, &fromPort);
            if (got < 0) continue;
            data.truncate(got);
            // Only the server asked, with our id and question, may answer.
            if (fromPort != server.port || !from.isEqual(address, QHostAddress::TolerantConversion)) continue;
            if (!answersQuestion(data, id, name, type)) continue;
            if (!ParseDnsReply(data, reply, error)) return false;
            if (reply.truncated) return askTcp(address, server.port, message, id, timeoutMs, reply, error);
            return true;
        }
    }
    if (error)
        *error = cancelled() ? QStringLiteral("cancelled")
                             : QStringLiteral("no answer from name server %1:%2").arg(server.host).arg(server.port);
    return false;
}

bool TDnsQuery::askTcp(const QHostAddress& address, quint16 port, const QByteArray& message, quint16 id, int timeoutMs,
                       DnsReply& reply, QString* error) {
    QTcpSocket tcp;
    tcp.connectToHost(address, port);
    QElapsedTimer t;
    t.start();
    auto timedOut = [&] { return cancelled() || t.elapsed() >= timeoutMs; };
    while (tcp.state() != QAbstractSocket::ConnectedState) {
        if (timedOut() || tcp.state() == QAbstractSocket::UnconnectedState) {
            if (error) *error = QStringLiteral("name server %1 refused TCP").arg(address.toString());
            return false;
        }
        tcp.waitForConnected(kSlice);
    }
    QByteArray framed;
    put16(framed, quint16(message.size()));
    framed += message;
    tcp.write(framed);
    QByteArray in;
    while (!timedOut()) {
        if (tcp.bytesAvailable() > 0 || tcp.waitForReadyRead(kSlice)) in += tcp.readAll();
        if (in.size() >= 2 && in.size() >= 2 + get16(in, 0)) {
            const QByteArray data = in.mid(2, get16(in, 0));
            if (data.size() < 2 || get16(data, 0) != id) break;
            if (!ParseDnsReply(data, reply, error)) return false;
            return true;
        }
        if (tcp.state() != QAbstractSocket::ConnectedState && tcp.bytesAvailable() == 0) break;
    }
    if (error) *error = QStringLiteral("no TCP answer from name server %1").arg(address.toString());
    return false;
}

MailHostStatus LookUpMailHosts(TDnsQuery& dns, const QString& domainText, QList<MailHost>& hosts, QString* error) {
    hosts.clear();
    const QString domain = normalName(domainText);
    auto cancelled = [&] { return dns.Cancel && dns.Cancel->load(); };
    DnsReply reply;
    if (!dns.query(domain, dnsMX, reply, error))
        return cancelled() ? MailHostStatus::Cancelled : MailHostStatus::Failed;
    if (reply.rcode == 3) {
        if (error) *error = QStringLiteral("domain %1 does not exist").arg(domain);
        return MailHostStatus::NoHosts;
    }
    if (reply.rcode != 0) {
        if (error) *error = QStringLiteral("name server failure %1 for %2").arg(reply.rcode).arg(domain);
        return MailHostStatus::Failed;
    }
    QList<DnsRecord> mx;
    for (const DnsRecord& r : reply.answer)
        if (r.type == dnsMX) mx += r;
    std::stable_sort(mx.begin(), mx.end(),
                     [](const DnsRecord& a, const DnsRecord& b) { return a.preference < b.preference; });
    // Addresses of a host: from the additional section when given, else asked for.
    auto addressesOf = [&](const QString& host, const QList<DnsRecord>& known) {
        QList<QHostAddress> out;
        for (const DnsRecord& r : known)
            if ((r.type == dnsA || r.type == dnsAAAA) && r.name == host) out += r.address;
        if (!out.isEmpty()) return out;
        for (const quint16 type : {quint16(dnsA), quint16(dnsAAAA)}) {
            DnsReply ar;
            if (!dns.query(host, type, ar, nullptr) || ar.rcode != 0) continue;
            for (const DnsRecord& r : ar.answer)
                if (r.type == type) out += r.address;
        }
        return out;
    };
    if (mx.isEmpty()) {
        // No MX: the domain itself takes mail at its addresses (RFC 5321, 5.1).
        const QList<QHostAddress> own = addressesOf(domain, reply.additional);
        if (cancelled()) return MailHostStatus::Cancelled;
        if (own.isEmpty()) {
            if (error) *error = QStringLiteral("domain %1 has no mail exchanger and no address").arg(domain);
            return MailHostStatus::NoHosts;
        }
        hosts += MailHost{domain, 0, own};
        return MailHostStatus::Found;
    }
    if (mx.size() == 1 && mx[0].host.isEmpty()) {
        if (error) *error = QStringLiteral("domain %1 accepts no mail").arg(domain);
        return MailHostStatus::NoHosts;
    }
    for (const DnsRecord& r : mx) {
        if (r.host.isEmpty()) continue;
        if (cancelled()) return MailHostStatus::Cancelled;
        const QList<QHostAddress> addrs = addressesOf(r.host, reply.additional);
        if (!addrs.isEmpty()) hosts += MailHost{r.host, r.preference, addrs};
    }
    if (hosts.isEmpty()) {
        if (error) *error = QStringLiteral("no address for the mail exchangers of %1").arg(domain);
        return MailHostStatus::Failed;
    }
    return MailHostStatus::Found;
}

} // namespace zel
