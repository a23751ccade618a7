#include "mail/ScriptedPop3.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zel::test {

namespace {

bool sendAll(int fd, const QByteArray& data) {
    qsizetype at = 0;
    while (at < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + at, size_t(data.size() - at), MSG_NOSIGNAL);
        if (n <= 0) return false;
        at += n;
    }
    return true;
}

QByteArray stuffed(const QByteArray& raw) {
    QByteArray out;
    for (const QByteArray& line : raw.split('\n')) {
        if (line.startsWith('.')) out += '.';
        out += line + '\n';
    }
    out.chop(1);
    if (!out.endsWith("\r\n")) out += "\r\n";
    return out;
}

} // namespace

ScriptedPop3::ScriptedPop3() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listenFd_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
}

ScriptedPop3::~ScriptedPop3() {
    stop_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    {
        std::lock_guard<std::mutex> l(lock_);
        for (int fd : openFds_)
            ::shutdown(fd, SHUT_RDWR);
    }
    thread_.join();
    ::close(listenFd_);
}

void ScriptedPop3::setMessages(const QList<Message>& messages) {
    std::lock_guard<std::mutex> l(lock_);
    messages_ = messages;
}

QList<ScriptedPop3::Message> ScriptedPop3::messages() {
    std::lock_guard<std::mutex> l(lock_);
    return messages_;
}

std::vector<std::vector<std::string>> ScriptedPop3::sessions() {
    std::lock_guard<std::mutex> l(lock_);
    return sessions_;
}

bool ScriptedPop3::waitForLine(const std::string& prefix, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        {
            std::lock_guard<std::mutex> l(lock_);
            for (const auto& s : sessions_)
                for (const auto& line : s)
                    if (line.rfind(prefix, 0) == 0) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void ScriptedPop3::serve() {
    // One session at a time, as a mailbox lock would have it.
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        size_t index;
        {
            std::lock_guard<std::mutex> l(lock_);
            sessions_.emplace_back();
            index = sessions_.size() - 1;
            openFds_.push_back(fd);
        }
        session(fd, index);
        {
            std::lock_guard<std::mutex> l(lock_);
            std::erase(openFds_, fd);
        }
        ::close(fd);
    }
}

void ScriptedPop3::session(int fd, size_t index) {
    if (greetingError) {
        sendAll(fd, "-ERR go away\r\n");
        return;
    }
    sendAll(fd, "+OK scripted ready <1.2@test>\r\n");
    QByteArray buffer;
    QList<int> deleted;
    bool authed = false;
    char chunk[4096];
    for (;;) {
        qsizetype nl;
        while ((nl = buffer.indexOf("\r\n")) < 0) {
            pollfd p{fd, POLLIN, 0};
            const int r = ::poll(&p, 1, 100);
            if (stop_) return;
            if (r <= 0) continue;
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return;
            buffer.append(chunk, n);
        }
        const QByteArray line = buffer.left(nl);
        buffer.remove(0, nl + 2);
        const QByteArray cmd = line.split(' ').value(0).toUpper();
        const int arg = line.split(' ').value(1).toInt();
        bool stall = false;
        {
            std::lock_guard<std::mutex> l(lock_);
            sessions_[index].push_back(line.toStdString());
            if (!stallOn.empty() && cmd.toStdString() == stallOn && stalled_ < stallSessions) {
                ++stalled_;
                stall = true;
            }
        }
        if (stall) {
            // Keep the connection open and silent until the client goes or the test ends.
            while (!stop_) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 100) > 0 && ::recv(fd, chunk, sizeof chunk, 0) <= 0) return;
            }
            return;
        }
        const QList<Message> msgs = messages();
        auto exists = [&](int n) { return n >= 1 && n <= msgs.size() && !deleted.contains(n); };
        if (cmd == "CAPA") {
            QByteArray caps = "+OK\r\nUSER\r\n";
            if (offerUidl) caps += "UIDL\r\n";
            if (offerStls) caps += "STLS\r\n";
            sendAll(fd, caps + ".\r\n");
        } else if (cmd == "STLS") {
            sendAll(fd, "-ERR no TLS here\r\n");
        } else if (cmd == "USER") {
            sendAll(fd, "+OK\r\n");
        } else if (cmd == "PASS") {
            authed = line.mid(5) == password;
            sendAll(fd, authed ? "+OK logged in\r\n" : "-ERR wrong password\r\n");
        } else if (!authed && cmd != "QUIT") {
            sendAll(fd, "-ERR log in first\r\n");
        } else if (cmd == "STAT") {
            qint64 size = 0;
            for (const Message& m : msgs)
                size += m.raw.size();
            sendAll(fd, "+OK " + QByteArray::number(msgs.size()) + ' ' + QByteArray::number(size) + "\r\n");
        } else if (cmd == "UIDL") {
            if (!offerUidl) {
                sendAll(fd, "-ERR no UIDL\r\n");
                continue;
            }
            QByteArray out = "+OK\r\n";
            for (int i = 0; i < msgs.size(); ++i)
                out += QByteArray::number(i + 1) + ' ' + msgs[i].uid + "\r\n";
            sendAll(fd, out + ".\r\n");
        } else if (cmd == "LIST") {
            QByteArray out = "+OK\r\n";
            for (int i = 0; i < msgs.size(); ++i)
                out += QByteArray::number(i + 1) + ' ' + QByteArray::number(msgs[i].raw.size()) + "\r\n";
            sendAll(fd, out + ".\r\n");
        } else if (cmd == "RETR") {
            if (!exists(arg)) {
                sendAll(fd, "-ERR no such message\r\n");
                continue;
            }
            const QByteArray body = stuffed(msgs[arg - 1].raw);
            sendAll(fd, "+OK\r\n");
            if (dropInRetr == arg) {
                sendAll(fd, body.left(body.size() / 2));
                return;
            }
            if (pauseInRetrMs > 0) {
                sendAll(fd, body.left(body.size() / 2));
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseInRetrMs));
                sendAll(fd, body.mid(body.size() / 2) + ".\r\n");
            } else {
                sendAll(fd, body + ".\r\n");
            }
        } else if (cmd == "DELE") {
            if (errorOnDele == arg) {
                sendAll(fd, "-ERR cannot delete\r\n");
            } else if (exists(arg)) {
                deleted << arg;
                sendAll(fd, "+OK\r\n");
            } else {
                sendAll(fd, "-ERR no such message\r\n");
            }
        } else if (cmd == "QUIT") {
            // Deletions take effect only at QUIT.
            std::lock_guard<std::mutex> l(lock_);
            std::sort(deleted.begin(), deleted.end(), std::greater<int>());
            for (int n : deleted)
                messages_.removeAt(n - 1);
            sendAll(fd, "+OK bye\r\n");
            return;
        } else {
            sendAll(fd, "-ERR unknown command\r\n");
        }
    }
}

} // namespace zel::test
