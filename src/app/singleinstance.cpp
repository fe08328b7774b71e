// One window per setup: a second start hands over to the window already running and ends.
#include "singleinstance.h"

#include "processlock.h"
#include "setuppaths.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace vennacott {
namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");
const QByteArray kShown = QByteArrayLiteral("shown\n");

} // namespace

SingleInstance::SingleInstance()
    : m_lock(std::make_unique<ProcessLock>(setup::windowLockPath()))
{}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    if (!m_lock->tryLock())
        return false;
    // Whoever holds the lock owns the socket: one left by a window that crashed is stale.
    const QString path = setup::windowSocketPath();
    QLocalServer::removeServer(path);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(path))
        return true; // still the one window; a later start just cannot reach it
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine(64) == kShow) {
                    socket->write(kShown);
                    Q_EMIT activationRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}

bool SingleInstance::handOver()
{
    // The window may hold the lock for a moment before it listens: try for up to five seconds.
    for (int attempt = 0; attempt < 50; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(setup::windowSocketPath());
        if (socket.waitForConnected(100)) {
            socket.write(kShow);
            return socket.waitForBytesWritten(2000) && socket.waitForReadyRead(2000) && socket.readLine(64) == kShown;
        }
        QThread::msleep(100);
    }
    return false;
}

} // namespace vennacott
