#include "shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QtEndian>
#include <unistd.h>

namespace zel {

namespace {
constexpr quint32 kMaxPayload = 64 * 1024 * 1024;
}

SingleInstance::SingleInstance(const QString& homeFolder, QObject* parent) : QObject(parent) {
    // The application title, the user and the home folder: two homes are two separate programs.
    const QByteArray home = QDir(homeFolder).absolutePath().toUtf8();
    const QString hash = QString::fromLatin1(QCryptographicHash::hash(home, QCryptographicHash::Sha1).toHex().left(12));
    name_ = QStringLiteral("ZEL-Lite-Edition-%1-%2").arg(::getuid()).arg(hash);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::listen() {
    if (send(kRestoreTag, {}, 1500)) return false;
    // Nobody answered: a socket file left by a crashed instance is stale.
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) return false;
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::takeConnection);
    return true;
}

void SingleInstance::takeConnection() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->bytesAvailable() >= 8) {
                char head[8];
                socket->peek(head, 8);
                const quint32 tag = qFromLittleEndian<quint32>(head);
                const quint32 length = qFromLittleEndian<quint32>(head + 4);
                if (length > kMaxPayload) {
                    socket->abort();
                    return;
                }
                if (socket->bytesAvailable() < qint64(8 + length)) return;
                socket->read(8);
                const QByteArray payload = socket->read(length);
                bool taken = true;
                if (tag == kRestoreTag)
                    emit restoreRequested();
                else if (tag == kHandOverTag)
                    emit handOverReceived(
                        QString::fromUtf16(reinterpret_cast<const char16_t*>(payload.constData()), payload.size() / 2));
                else
                    taken = false;
                socket->write(taken ? "\x01" : "\x00", 1);
                socket->flush();
            }
        });
    }
}

bool SingleInstance::send(quint32 tag, const QByteArray& payload, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(timeoutMs)) return false;
    char head[8];
    qToLittleEndian<quint32>(tag, head);
    qToLittleEndian<quint32>(quint32(payload.size()), head + 4);
    socket.write(head, 8);
    socket.write(payload);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    if (!socket.waitForReadyRead(timeoutMs)) return false;
    return socket.read(1) == QByteArray(1, '\x01');
}

} // namespace zel
