#include "gui/uInstanceChannel.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace egaiss {
namespace {

constexpr int ConnectTimeoutMs = 1000;

}  // namespace

QString InstanceChannelName(const std::string& dataDir) {
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromStdString(dataDir), QCryptographicHash::Sha256);
    return QStringLiteral("VelmoraEgaissAgent-") + QString::fromLatin1(digest.toHex().left(16));
}

bool AskRunningAgentToShow(const QString& name) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(ConnectTimeoutMs)) return false;
    // Being connected is the request; the agent closes the connection when it has shown itself.
    socket.waitForDisconnected(ConnectTimeoutMs);
    return true;
}

bool TInstanceChannel::Listen(const QString& name, std::function<void()> show) {
    QLocalServer::removeServer(name);
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&FServer, &QLocalServer::newConnection, &FServer, [this, show = std::move(show)] {
        while (QLocalSocket* peer = FServer.nextPendingConnection()) {
            show();
            peer->disconnectFromServer();
            peer->deleteLater();
        }
    });
    return FServer.listen(name);
}

}  // namespace egaiss
