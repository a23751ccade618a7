#pragma once

// A POP3 server on a loopback port chosen by the kernel, for the faults real servers do not make on
// demand. It runs on a thread of its own, records every line a client sends (per session), and its
// faults are switched by fields. Failures are reported to the test through the records, never
// asserted on the server thread.
#include <QByteArray>
#include <QList>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zel::test {

class ScriptedPop3 {
public:
    struct Message {
        QByteArray uid;
        QByteArray raw; // lines separated by CR LF, not dot-stuffed
    };
    // Faults; read by the server thread at each command.
    std::atomic<bool> greetingError{false};
    std::atomic<bool> offerStls{false}; // CAPA lists STLS (which is then refused: no TLS here)
    std::atomic<bool> offerUidl{true};
    std::atomic<int> dropInRetr{0};    // RETR of this number sends half the message and closes
    std::atomic<int> errorOnDele{0};   // DELE of this number answers -ERR
    std::atomic<int> pauseInRetrMs{0}; // RETR waits this long halfway through the message
    std::string stallOn;               // a command never answered (the connection stays open)
    std::atomic<int> stallSessions{1}; // how many sessions stall (later ones answer)
    QByteArray password = "secret";

    ScriptedPop3();
    ~ScriptedPop3();
    int port() const { return port_; }
    void setMessages(const QList<Message>& messages);
    QList<Message> messages();
    // Lines each session received, in order.
    std::vector<std::vector<std::string>> sessions();
    // Waits until a client line starting with prefix arrived (any session); false after timeoutMs.
    bool waitForLine(const std::string& prefix, int timeoutMs);

private:
    void serve();
    void session(int fd, size_t index);

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex lock_;
    QList<Message> messages_;
    std::vector<std::vector<std::string>> sessions_;
    std::vector<int> openFds_;
    int stalled_ = 0;
};

} // namespace zel::test
