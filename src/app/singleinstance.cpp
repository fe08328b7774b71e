// One window per setup: a second start hands over to the window already running and ends.
#include "singleinstance.h"

#include "console.h"
#include "processlock.h"
#include "setuppaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennacott {
namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");
const QByteArray kShown = QByteArrayLiteral("shown\n");
constexpr qint64 kMaxLine = 64;
// Between attempts to reach a window that holds the lock but does not listen yet.
constexpr std::chrono::milliseconds kRetryInterval{100};

QString socketFolder(const QString &socketPath)
{
    return QFileInfo(socketPath).absolutePath();
}

// A socket away from the settings lives in a folder of its own: created 0700, and used only while it is a
// real folder of this user that nobody else may enter, so no other user can listen or connect in its place.
bool isPrivateFolder(const QString &folder)
{
    QDir().mkpath(QFileInfo(folder).absolutePath());
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700);
    struct stat info = {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & 07777) == 0700;
}

bool mayUseSocketFolder(const QString &socketPath)
{
    const QString folder = socketFolder(socketPath);
    return folder == socketFolder(setup::windowLockPath()) || isPrivateFolder(folder);
}

// A second start's request: connect, check who listens, say "show", wait for "shown". Driven by the socket's
// signals alone, with one deadline over the whole exchange.
class HandOver final : public QObject
{
public:
    HandOver(QString socketPath, std::function<void(bool)> done, QObject *parent)
        : QObject(parent)
        , m_socketPath(std::move(socketPath))
        , m_done(std::move(done))
    {
        m_deadline.setSingleShot(true);
        m_retry.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { finish(false); });
        connect(&m_retry, &QTimer::timeout, this, &HandOver::attempt);
        connect(&m_socket, &QLocalSocket::connected, this, [this] {
            // Never hand over to another user's process, whoever managed to listen there.
            if (!peerIsUser(m_socket.socketDescriptor(), ::getuid()))
                return finish(false);
            m_socket.write(kShow);
        });
        connect(&m_socket, &QLocalSocket::readyRead, this, [this] {
            if (m_socket.canReadLine())
                finish(m_socket.readLine(kMaxLine) == kShown);
            else if (m_socket.bytesAvailable() >= kMaxLine)
                finish(false);
        });
        // Not listening yet, or gone before it answered: try again until the deadline.
        connect(&m_socket, &QLocalSocket::errorOccurred, this, [this] { m_retry.start(kRetryInterval); });
        m_deadline.start(kHandOverDeadline);
        // From the event loop, so that `done` is never called before the caller has returned.
        QMetaObject::invokeMethod(this, &HandOver::attempt, Qt::QueuedConnection);
    }

    // The socket's last signals, as it goes, must not reach the timers that went before it.
    ~HandOver() override { m_socket.disconnect(this); }

private:
    void attempt()
    {
        if (!mayUseSocketFolder(m_socketPath))
            return finish(false);
        m_socket.abort();
        m_socket.connectToServer(m_socketPath);
    }

    void finish(bool shown)
    {
        if (!m_done)
            return;
        m_deadline.stop();
        m_retry.stop();
        m_socket.disconnect(this);
        m_socket.abort();
        const std::function<void(bool)> done = std::exchange(m_done, {});
        deleteLater();
        done(shown);
    }

    const QString m_socketPath;
    std::function<void(bool)> m_done;
    QLocalSocket m_socket;
    QTimer m_deadline;
    QTimer m_retry;
};

} // namespace

bool peerIsUser(qintptr descriptor, uid_t user)
{
    struct ucred credentials = {};
    socklen_t size = sizeof credentials;
    return descriptor >= 0 && ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           size == sizeof credentials && credentials.uid == user;
}

SingleInstance::SingleInstance()
    : m_socketPath(setup::windowSocketPath())
    , m_lock(std::make_unique<ProcessLock>(setup::windowLockPath()))
{}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim()
{
    switch (m_lock->acquire()) {
    case ProcessLock::Outcome::HeldElsewhere:
        return Claim::HeldElsewhere;
    case ProcessLock::Outcome::Unavailable:
        return Claim::Unavailable;
    case ProcessLock::Outcome::Acquired:
        break;
    }
    listen();
    return Claim::Owned;
}

QString SingleInstance::failure() const
{
    return QStringLiteral("vennacott-ddns: cannot lock %1 (%2); this window runs without the one-window check")
        .arg(m_lock->path(), m_lock->failure());
}

void SingleInstance::listen()
{
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Whoever holds the lock owns the socket: one left by a window that crashed is stale.
    if (!mayUseSocketFolder(m_socketPath) ||
        (QLocalServer::removeServer(m_socketPath), !m_server->listen(m_socketPath))) {
        // Still the one window; a later start just cannot reach it.
        console::logLine(QStringLiteral("vennacott-ddns: later starts cannot reach this window at ") + m_socketPath);
        return;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // Another user's process is neither answered nor obeyed.
            if (!peerIsUser(socket->socketDescriptor(), ::getuid())) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine() && socket->bytesAvailable() < kMaxLine)
                    return;
                if (socket->readLine(kMaxLine) == kShow) {
                    socket->write(kShown);
                    Q_EMIT activationRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
}

void SingleInstance::handOver(std::function<void(bool)> done)
{
    new HandOver(m_socketPath, std::move(done), this);
}

void SingleInstance::bringForwardOnRequest(QWidget *window)
{
    connect(this, &SingleInstance::activationRequested, window, [window] {
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window->show();
        window->raise();
        window->activateWindow();
    });
}

} // namespace vennacott
