#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace zel::test {

// A scripted SMTP server on 127.0.0.1, port 0, recording every byte its clients send. It never
// asserts: tests look at what it recorded after stop().
class FakeSmtp {
public:
    QByteArray greeting = "220 fake.test ESMTP";
    QList<QByteArray> ehlo = {"250-fake.test", "250-8BITMIME", "250 HELP"};
    QList<QByteArray> rcptReplies; // used in order; "250 ok" once they run out
    bool closeAfterData = false;   // drop the connection right after "250" to DATA
    bool stall = false;            // greet (unless the greeting is empty) and never answer again

    FakeSmtp() = default;
    ~FakeSmtp();
    FakeSmtp(const FakeSmtp&) = delete;
    FakeSmtp& operator=(const FakeSmtp&) = delete;

    quint16 start();
    void stop();
    QByteArray received() const; // everything of every connection, in order
    int connections() const { return connections_; }
    QList<QByteArray> messages() const; // the bytes between DATA and the final "." of each message

private:
    void serve(int fd);
    int listenFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    QByteArray received_;
    QList<QByteArray> messages_;
    int rcptIndex_ = 0;
};

// A name server on 127.0.0.1 (UDP and TCP on the same port 0) answering from a function of the query.
class FakeDns {
public:
    // query bytes, tcp? -> reply bytes (empty: no answer)
    std::function<QByteArray(const QByteArray& query, bool tcp)> answer;
    ~FakeDns();
    quint16 start();
    void stop();
    int udpQueries() const { return udp_; }
    int tcpQueries() const { return tcp_; }

private:
    int udpFd_ = -1, tcpFd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> udp_{0}, tcp_{0};
};

// Builds a reply to query with the given flags (QR is set) and raw record sections.
QByteArray DnsReplyFor(const QByteArray& query, quint16 flags, const QList<QByteArray>& answers,
                       const QList<QByteArray>& authority = {}, const QList<QByteArray>& additional = {});
// Raw records, owner names written in full.
QByteArray DnsMx(const QString& owner, quint16 preference, const QString& exchange);
QByteArray DnsA(const QString& owner, const QString& ipv4);
QByteArray DnsNs(const QString& owner, const QString& host);
QString DnsQuestionName(const QByteArray& query);
quint16 DnsQuestionType(const QByteArray& query);

// The running mail test servers: NAME=VALUE pairs of $ZEL_TEST_MAIL_SEND_DIR/mail-send.env (else
// $ZEL_TEST_MAIL_DIR/send/mail-send.env). Empty when
// they are not running; under CI that is a failure reported by the caller.
QHash<QString, QString> MailSendServers();
// Skips the current test when the servers are missing, or fails it under CI.
#define ZEL_REQUIRE_MAIL_SERVERS(env)                                                                                  \
    const QHash<QString, QString> env = ::zel::test::MailSendServers();                                                \
    if (env.isEmpty()) {                                                                                               \
        if (qEnvironmentVariableIsSet("CI"))                                                                           \
            FAIL() << "mail test servers are not running (scripts/test.sh starts them)";                               \
        GTEST_SKIP() << "mail test servers are not running (set ZEL_TEST_MAIL_SEND_DIR)";                              \
    }

// Messages stored by the SMTP test server under label ("plain", "direct-127.0.0.3", ...): pairs of
// the envelope JSON and the message bytes, oldest first.
struct StoredMail {
    QByteArray json;
    QByteArray eml;
};
QList<StoredMail> SpoolOf(const QHash<QString, QString>& env, const QString& label);
// Waits until the spool of label holds count messages (the server stores after replying).
QList<StoredMail> WaitForSpool(const QHash<QString, QString>& env, const QString& label, int count);

// Runs Python's email parser over a message; returns its JSON summary (see tests/mail/parse_mail.py).
QByteArray ParseWithPython(const QByteArray& eml);

} // namespace zel::test
