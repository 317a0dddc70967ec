#include "gui/uInstanceChannel.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace egaiss {
namespace {

constexpr int ConnectTimeoutMs = 1000;
// The running agent's answer once its window is shown. Without it the connection proves nothing: an
// ending agent's socket may still take connections that nobody will serve.
constexpr char ShownReply = '1';

}  // namespace

QString InstanceChannelName(const std::string& dataDir) {
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(dataDir), QCryptographicHash::Sha256);
    return QStringLiteral("VelmoraEgaissAgent-") + QString::fromLatin1(digest.toHex().left(16));
}

bool TLocalSocketChannel::AskRunningAgentToShow() {
    QLocalSocket socket;
    socket.connectToServer(FName);
    if (!socket.waitForConnected(ConnectTimeoutMs)) return false;
    // Being connected is the request.
    char reply = 0;
    return socket.waitForReadyRead(ConnectTimeoutMs) && socket.getChar(&reply) && reply == ShownReply;
}

bool TLocalSocketChannel::Listen(std::function<void()> show) {
    QLocalServer::removeServer(FName);
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&FServer, &QLocalServer::newConnection, &FServer, [this, show = std::move(show)] {
        while (QLocalSocket* peer = FServer.nextPendingConnection()) {
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            show();
            peer->putChar(ShownReply);
            peer->disconnectFromServer();
        }
    });
    return FServer.listen(FName);
}

void TLocalSocketChannel::Close() {
    FServer.close();
}

}  // namespace egaiss
