#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace zel {

// One running program per user and home folder: the first instance listens on a local socket, a later
// one sends it the restore request (1133) and exits. Messages are framed as a 32-bit little-endian tag,
// a 32-bit little-endian length and the payload; every message is answered with one byte, 1 when taken.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr quint32 kRestoreTag = 1133;
    static constexpr quint32 kHandOverTag = 13004;

    explicit SingleInstance(const QString& homeFolder, QObject* parent = nullptr);
    ~SingleInstance() override;
    QString serverName() const { return name_; }
    // Becomes the first instance; false when another one answers on the socket.
    bool listen();
    // Sends a message to the first instance and waits for its answer; false when none answered.
    bool send(quint32 tag, const QByteArray& payload = {}, int timeoutMs = 3000) const;

signals:
    void restoreRequested();
    // The text of a hand-over (UTF-16 little-endian payload).
    void handOverReceived(const QString& text);

private:
    void takeConnection();
    QString name_;
    QLocalServer* server_ = nullptr;
};

} // namespace zel
