#include "gui/uInstanceChannel.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace egaiss {
namespace {

constexpr int ConnectTimeoutMs = 1000;
constexpr char ShowRequest = 'S';
constexpr char ExitRequest = 'X';
// The running agent's answer once it did what was asked. Without it the connection proves nothing:
// an ending agent's socket may still take connections that nobody will serve.
constexpr char DoneReply = '1';

}  // namespace

QString InstanceChannelName(const std::string& dataDir) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(dataDir), QCryptographicHash::Sha256);
    return QStringLiteral("VelmoraEgaissAgent-") + QString::fromLatin1(digest.toHex().left(16));
}

bool TLocalSocketChannel::AskRunningAgentToShow() {
    return Ask(ShowRequest);
}

bool TLocalSocketChannel::AskRunningAgentToExit() {
    return Ask(ExitRequest);
}

bool TLocalSocketChannel::Ask(char request) {
    QLocalSocket socket;
    socket.connectToServer(FName);
    if (!socket.waitForConnected(ConnectTimeoutMs)) return false;
    socket.putChar(request);
    char reply = 0;
    return socket.waitForBytesWritten(ConnectTimeoutMs) && socket.waitForReadyRead(ConnectTimeoutMs) &&
           socket.getChar(&reply) && reply == DoneReply;
}

bool TLocalSocketChannel::Listen(std::function<void()> show, std::function<void()> exit) {
    FShow = std::move(show);
    FExit = std::move(exit);
    QLocalServer::removeServer(FName);
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&FServer, &QLocalServer::newConnection, &FServer, [this] {
        while (QLocalSocket* peer = FServer.nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QObject::connect(peer, &QLocalSocket::readyRead, peer, [this, peer] {
                char request = 0;
                if (!peer->getChar(&request)) return;
                // A copy: the handler may close the channel.
                const std::function<void()> handler = request == ExitRequest ? FExit : FShow;
                if ((request == ShowRequest || request == ExitRequest) && handler) {
                    handler();
                    peer->putChar(DoneReply);
                }
                peer->disconnectFromServer();
            });
        }
    });
    return FServer.listen(FName);
}

void TLocalSocketChannel::Close() {
    FServer.close();
    FShow = nullptr;
    FExit = nullptr;
}

}  // namespace egaiss
