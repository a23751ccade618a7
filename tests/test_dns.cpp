// The DNS client and the choice of mail exchangers, against scripted name servers and dnsmasq.
#include <QTemporaryFile>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>

#include "mail/MailSend.h"
#include "mail/TDnsQuery.h"
#include "platform/Paths.h"
#include "support/MailFakes.h"
#include <QTemporaryDir>

using namespace zel;
using namespace zel::test;

namespace {

TDnsQuery queryOn(quint16 port, int timeout = 5) {
    TDnsQuery q;
    q.Servers = {DnsServer{QStringLiteral("127.0.0.1"), port}};
    q.Timeout = timeout;
    return q;
}

QStringList names(const QList<MailHost>& hosts) {
    QStringList out;
    for (const MailHost& h : hosts)
        out += h.name + u'=' + (h.addresses.isEmpty() ? QString() : h.addresses.first().toString());
    return out;
}

TEST(FindDnsServer, ReadsNameServersInOrder) {
    QTemporaryFile f;
    ASSERT_TRUE(f.open());
    f.write("# comment\nsearch example.test\nnameserver 10.0.0.1\n; nameserver 10.0.0.9\n"
            "nameserver   fe80::1\nnameserver not-an-address\nnameserver 10.0.0.2 # trailing\n");
    f.flush();
    const QList<DnsServer> s = FindDnsServer(f.fileName());
    ASSERT_EQ(s.size(), 3);
    EXPECT_EQ(s[0].host, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(s[1].host, QStringLiteral("fe80::1"));
    EXPECT_EQ(s[2].host, QStringLiteral("10.0.0.2"));
    EXPECT_EQ(s[2].port, 53);
    EXPECT_TRUE(FindDnsServer(QStringLiteral("/nonexistent/resolv.conf")).isEmpty());
}

TEST(FindDnsServer, ParsesHostAndPort) {
    EXPECT_EQ(ParseDnsServer(QStringLiteral("127.0.0.2:5353")).port, 5353);
    EXPECT_EQ(ParseDnsServer(QStringLiteral("127.0.0.2")).port, 53);
    EXPECT_EQ(ParseDnsServer(QStringLiteral("[::1]:5300")).host, QStringLiteral("::1"));
    EXPECT_EQ(ParseDnsServer(QStringLiteral("[::1]:5300")).port, 5300);
    EXPECT_EQ(ParseDnsServer(QStringLiteral("::1")).host, QStringLiteral("::1"));
}

TEST(DirectSettings, StoredInMailIniAndOverriddenByTheEnvironment) {
    QTemporaryDir home;
    setHomeFolder(home.path());
    for (const char* v : {"ZEL_DNS_SERVER", "ZEL_SMTP_DIRECT_PORT", "ZEL_SMTP_CA_FILE", "ZEL_MAIL_TIMEOUT"})
        qunsetenv(v);
    DirectSettings d = LoadDirectSettings();
    EXPECT_TRUE(d.nameServers.isEmpty());
    EXPECT_EQ(d.port, 25);
    EXPECT_EQ(d.timeout, 60);
    d.nameServers = {DnsServer{QStringLiteral("127.0.0.2"), 5353}, DnsServer{QStringLiteral("::1"), 53}};
    d.port = 2525;
    d.caFile = QStringLiteral("/etc/ca.pem");
    d.timeout = 15;
    ASSERT_TRUE(SaveDirectSettings(d));
    DirectSettings back = LoadDirectSettings();
    ASSERT_EQ(back.nameServers.size(), 2);
    EXPECT_EQ(back.nameServers[0].port, 5353);
    EXPECT_EQ(back.nameServers[1].host, QStringLiteral("::1"));
    EXPECT_EQ(back.port, 2525);
    EXPECT_EQ(back.caFile, QStringLiteral("/etc/ca.pem"));
    EXPECT_EQ(back.timeout, 15);
    qputenv("ZEL_DNS_SERVER", "127.0.0.9:1053");
    qputenv("ZEL_SMTP_DIRECT_PORT", "2626");
    back = LoadDirectSettings();
    qunsetenv("ZEL_DNS_SERVER");
    qunsetenv("ZEL_SMTP_DIRECT_PORT");
    ASSERT_EQ(back.nameServers.size(), 1);
    EXPECT_EQ(back.nameServers[0].host, QStringLiteral("127.0.0.9"));
    EXPECT_EQ(back.nameServers[0].port, 1053);
    EXPECT_EQ(back.port, 2626);
}

TEST(LookUpMailHosts, ByPreferenceWithAddressesFromTheReplyOrAskedFor) {
    FakeDns dns;
    dns.answer = [](const QByteArray& q, bool) {
        const QString name = DnsQuestionName(q);
        if (DnsQuestionType(q) == 15)
            return DnsReplyFor(
                q, 0, {DnsMx(name, 20, QStringLiteral("mx20.t.test")), DnsMx(name, 10, QStringLiteral("mx10.t.test"))},
                {}, {DnsA(QStringLiteral("mx20.t.test"), QStringLiteral("127.0.0.20"))});
        if (name == QStringLiteral("mx10.t.test") && DnsQuestionType(q) == 1)
            return DnsReplyFor(q, 0, {DnsA(name, QStringLiteral("127.0.0.10"))});
        return DnsReplyFor(q, 0, {});
    };
    TDnsQuery q = queryOn(dns.start());
    QList<MailHost> hosts;
    ASSERT_EQ(LookUpMailHosts(q, QStringLiteral("T.Test."), hosts), MailHostStatus::Found);
    EXPECT_EQ(names(hosts),
              (QStringList{QStringLiteral("mx10.t.test=127.0.0.10"), QStringLiteral("mx20.t.test=127.0.0.20")}));
}

TEST(LookUpMailHosts, NameServersInTheAuthoritySectionAreNeverCandidates) {
    FakeDns dns;
    dns.answer = [](const QByteArray& q, bool) {
        // No MX and no address, only a referral to a name server with its address.
        return DnsReplyFor(q, 0, {}, {DnsNs(DnsQuestionName(q), QStringLiteral("ns1.evil.test"))},
                           {DnsA(QStringLiteral("ns1.evil.test"), QStringLiteral("127.0.0.9"))});
    };
    TDnsQuery q = queryOn(dns.start());
    QList<MailHost> hosts;
    EXPECT_EQ(LookUpMailHosts(q, QStringLiteral("t.test"), hosts), MailHostStatus::NoHosts);
    EXPECT_TRUE(hosts.isEmpty());
}

TEST(LookUpMailHosts, TruncatedReplyIsAskedAgainOverTcp) {
    FakeDns dns;
    dns.answer = [](const QByteArray& q, bool tcp) {
        const QString name = DnsQuestionName(q);
        if (!tcp) return DnsReplyFor(q, 0x0200, {}); // TC set, nothing in it
        return DnsReplyFor(q, 0, {DnsMx(name, 5, QStringLiteral("big.t.test"))}, {},
                           {DnsA(QStringLiteral("big.t.test"), QStringLiteral("127.0.0.7"))});
    };
    TDnsQuery q = queryOn(dns.start());
    QList<MailHost> hosts;
    ASSERT_EQ(LookUpMailHosts(q, QStringLiteral("t.test"), hosts), MailHostStatus::Found);
    EXPECT_EQ(names(hosts), QStringList{QStringLiteral("big.t.test=127.0.0.7")});
    EXPECT_EQ(dns.tcpQueries(), 1);
}

TEST(LookUpMailHosts, ErrorsRepliesForOtherQueriesAndSilence) {
    // NXDOMAIN: the domain takes no mail; SERVFAIL: try again later.
    for (const auto& [rcode, expected] :
         {std::pair{3, MailHostStatus::NoHosts}, std::pair{2, MailHostStatus::Failed}}) {
        FakeDns dns;
        const quint16 flags = quint16(rcode);
        dns.answer = [flags](const QByteArray& q, bool) { return DnsReplyFor(q, flags, {}); };
        TDnsQuery q = queryOn(dns.start());
        QList<MailHost> hosts;
        EXPECT_EQ(LookUpMailHosts(q, QStringLiteral("t.test"), hosts), expected) << rcode;
    }
    // A reply with another id is not ours: the query times out.
    FakeDns spoof;
    spoof.answer = [](const QByteArray& q, bool) {
        QByteArray r = DnsReplyFor(q, 0, {DnsMx(DnsQuestionName(q), 1, QStringLiteral("evil.test"))});
        r[0] = char(r[0] ^ 0x55);
        return r;
    };
    TDnsQuery sq = queryOn(spoof.start(), 1);
    QList<MailHost> hosts;
    EXPECT_EQ(LookUpMailHosts(sq, QStringLiteral("t.test"), hosts), MailHostStatus::Failed);
    // A silent server and a cancel: the wait ends without the minute's timeout.
    FakeDns silent;
    TDnsQuery cq = queryOn(silent.start(), 60);
    std::atomic<bool> cancel{false};
    cq.Cancel = &cancel;
    std::thread t([&] {
        QThread::msleep(200);
        cancel = true;
    });
    EXPECT_EQ(LookUpMailHosts(cq, QStringLiteral("t.test"), hosts), MailHostStatus::Cancelled);
    t.join();
}

TEST(LookUpMailHosts, NextServerWhenTheFirstIsSilent) {
    FakeDns silent, good;
    good.answer = [](const QByteArray& q, bool) {
        return DnsReplyFor(q, 0, {DnsMx(DnsQuestionName(q), 1, QStringLiteral("mx.t.test"))}, {},
                           {DnsA(QStringLiteral("mx.t.test"), QStringLiteral("127.0.0.8"))});
    };
    TDnsQuery q;
    q.Servers = {DnsServer{QStringLiteral("127.0.0.1"), silent.start()},
                 DnsServer{QStringLiteral("127.0.0.1"), good.start()}};
    q.Timeout = 2;
    QList<MailHost> hosts;
    ASSERT_EQ(LookUpMailHosts(q, QStringLiteral("t.test"), hosts), MailHostStatus::Found);
    EXPECT_EQ(names(hosts), QStringList{QStringLiteral("mx.t.test=127.0.0.8")});
}

TEST(LookUpMailHostsReal, Dnsmasq) {
    ZEL_REQUIRE_MAIL_SERVERS(env);
    TDnsQuery q;
    q.Servers = {ParseDnsServer(env.value(QStringLiteral("DNS_SERVER")))};
    q.Timeout = 5;
    QList<MailHost> hosts;
    // Listed 20 before 10, tried 10 first.
    ASSERT_EQ(LookUpMailHosts(q, QStringLiteral("example.test"), hosts), MailHostStatus::Found);
    EXPECT_EQ(names(hosts), (QStringList{QStringLiteral("mx10.example.test=127.0.0.3"),
                                         QStringLiteral("mx20.example.test=127.0.0.4")}));
    ASSERT_EQ(LookUpMailHosts(q, QStringLiteral("aonly.test"), hosts), MailHostStatus::Found);
    EXPECT_EQ(names(hosts), QStringList{QStringLiteral("aonly.test=127.0.0.2")});
    EXPECT_EQ(LookUpMailHosts(q, QStringLiteral("nosuch.test"), hosts), MailHostStatus::NoHosts);
}

} // namespace
