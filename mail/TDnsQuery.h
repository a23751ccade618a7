#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <atomic>

namespace zel {

// Record types the mail code asks for.
enum DnsType : quint16 { dnsA = 1, dnsNS = 2, dnsCNAME = 5, dnsPTR = 12, dnsMX = 15, dnsAAAA = 28 };

struct DnsRecord {
    QString name; // owner, lower case, without the final "."
    quint16 type = 0;
    quint16 klass = 0;
    quint32 ttl = 0;
    quint16 preference = 0; // MX
    QString host;           // MX exchange, NS/PTR/CNAME target
    QHostAddress address;   // A, AAAA
};

struct DnsReply {
    quint16 id = 0;
    int rcode = 0;
    bool truncated = false;
    QList<DnsRecord> answer, authority, additional;
};

struct DnsServer {
    QString host;
    quint16 port = 53;
};

// A query message: recursion desired, one question of class IN. Empty for a name that cannot be sent.
QByteArray BuildDnsQuery(quint16 id, const QString& name, quint16 type);
// Parses a reply; false (with error) for a message that is cut short or malformed.
bool ParseDnsReply(const QByteArray& message, DnsReply& reply, QString* error = nullptr);

// An RFC 1035 client: UDP, and TCP when the reply is truncated. The servers are asked in turn until
// one answers; every wait ends within 100 ms of *Cancel turning true.
class TDnsQuery {
public:
    QList<DnsServer> Servers;
    int Timeout = 60; // seconds for one query over all servers
    const std::atomic<bool>* Cancel = nullptr;

    // False when no server answered (error says why); a reply with an error rcode is still true.
    bool query(const QString& name, quint16 type, DnsReply& reply, QString* error = nullptr);

private:
    bool askOne(const DnsServer& server, const QByteArray& message, quint16 id, const QString& name, quint16 type,
                int timeoutMs, DnsReply& reply, QString* error);
    bool askTcp(const QHostAddress& address, quint16 port, const QByteArray& message, quint16 id, int timeoutMs,
                DnsReply& reply, QString* error);
    bool cancelled() const { return Cancel && Cancel->load(); }
};

// Name servers of /etc/resolv.conf ("nameserver" lines, in order).
QList<DnsServer> FindDnsServer(const QString& resolvConf = QStringLiteral("/etc/resolv.conf"));
// "HOST", "HOST:PORT", "[V6]:PORT" -> a server; port 53 when none is given.
DnsServer ParseDnsServer(const QString& text);

// One candidate for delivery: the host name with its addresses.
struct MailHost {
    QString name;
    quint16 preference = 0;
    QList<QHostAddress> addresses;
};

enum class MailHostStatus {
    Found,   // hosts holds the candidates, by preference
    NoHosts, // the domain does not exist or takes no mail
    Failed,  // no answer or a server failure: worth trying again later
    Cancelled
};

// Mail exchangers of a domain by preference, each with its addresses; without MX records the domain's
// own A/AAAA addresses. NS and PTR records never become candidates.
MailHostStatus LookUpMailHosts(TDnsQuery& dns, const QString& domain, QList<MailHost>& hosts, QString* error = nullptr);

} // namespace zel
