// A TLS listener that bounds what one connection may send, how long it may sit idle, and how many
// connections are open at once.
#include "guardedsslserver.h"

#include "console.h"

#include <QSslSocket>
#include <QTimer>

namespace vennacott::refsvc {
namespace {

// After refusing a request the guard still reads (and drops) what the client goes on sending for a while:
// closing a socket with unread data resets the connection, and the client would lose the answer.
constexpr std::chrono::milliseconds kDrainTime{5'000};
constexpr qint64 kMaxDrainBytes = 64 * 1024 * 1024;

QByteArray tooLargeResponse(qint64 limit)
{
    const QByteArray body =
        R"({"code":413,"error":"the request is larger than )" + QByteArray::number(limit) + R"( bytes"})";
    return "HTTP/1.1 413 Payload Too Large\r\n"
           "Content-Type: application/json\r\n"
           "Cache-Control: no-store\r\n"
           "Connection: close\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

class ConnectionGuard final : public QObject
{
public:
    ConnectionGuard(QTcpSocket *socket, GuardedSslServer::Limits limits, GuardedSslServer::RejectionHandler onRejected)
        : QObject(socket)
        , m_socket(socket)
        , m_limits(limits)
        , m_onRejected(std::move(onRejected))
    {
        // Connected before the HTTP server connects its own reader, so this slot sees each chunk first.
        connect(socket, &QIODevice::readyRead, this, &ConnectionGuard::measure);
        connect(socket, &QIODevice::bytesWritten, this, &ConnectionGuard::restartIdleTimer);
        m_idle.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, socket, &QAbstractSocket::disconnectFromHost);
        restartIdleTimer();
    }

private:
    void restartIdleTimer() { m_idle.start(m_limits.idleTimeout); }

    void measure()
    {
        restartIdleTimer();
        // The server reads a request inside a transaction that it commits once the request is complete, so
        // no transaction means a new request begins with these bytes.
        if (!m_socket->isTransactionStarted())
            m_pending = 0;
        m_pending += m_socket->bytesAvailable();
        if (m_pending > m_limits.maxRequestBytes)
            reject();
    }

    void reject()
    {
        // From here on the HTTP server reads nothing more of this connection; the guard drains it.
        QObject::disconnect(m_socket, &QIODevice::readyRead, nullptr, nullptr);
        connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::discard);
        if (m_socket->isTransactionStarted())
            m_socket->commitTransaction();
        m_socket->readAll();
        m_socket->write(tooLargeResponse(m_limits.maxRequestBytes));
        if (m_onRejected)
            m_onRejected(*m_socket);
        QTimer::singleShot(kDrainTime, m_socket, &QAbstractSocket::disconnectFromHost);
    }

    void discard()
    {
        restartIdleTimer();
        m_drained += m_socket->readAll().size();
        if (m_drained > kMaxDrainBytes)
            m_socket->abort();
    }

    QTcpSocket *m_socket;
    const GuardedSslServer::Limits m_limits;
    const GuardedSslServer::RejectionHandler m_onRejected;
    QTimer m_idle;
    qint64 m_pending = 0;
    qint64 m_drained = 0;
};

} // namespace

GuardedSslServer::GuardedSslServer(Limits limits, ConnectionBudget &budget, RejectionHandler onRejected,
                                   QObject *parent)
    : QSslServer(parent)
    , m_limits(limits)
    , m_budget(budget)
    , m_onRejected(std::move(onRejected))
{}

void GuardedSslServer::incomingConnection(qintptr descriptor)
{
    if (m_budget.open >= m_budget.cap) {
        QTcpSocket refused;
        refused.setSocketDescriptor(descriptor);
        refused.abort();
        if (!m_budget.reportedFull) {
            m_budget.reportedFull = true;
            console::logLine(QStringLiteral("vennacott-refsvc: %1 connections are open, the most it accepts; new "
                                            "ones are closed until some end")
                                 .arg(m_budget.cap));
        }
        return;
    }
    QSslServer::incomingConnection(descriptor);
    // QSslServer makes the socket its newest child; it is destroyed when the connection ends, however it ends.
    const QObjectList &made = children();
    auto *socket = made.isEmpty() ? nullptr : qobject_cast<QSslSocket *>(made.constLast());
    if (!socket || socket->socketDescriptor() != descriptor)
        return;
    ++m_budget.open;
    ConnectionBudget *budget = &m_budget;
    // The socket as context: QSslServer cuts every connection from the socket to itself after the handshake.
    connect(socket, &QObject::destroyed, socket, [budget] {
        --budget->open;
        budget->reportedFull = false;
    });
}

QTcpSocket *GuardedSslServer::nextPendingConnection()
{
    QTcpSocket *socket = QSslServer::nextPendingConnection();
    if (socket)
        new ConnectionGuard(socket, m_limits, m_onRejected);
    return socket;
}

} // namespace vennacott::refsvc
