// A TLS listener that bounds what one connection may send and how long it may sit idle.
#include "guardedsslserver.h"

#include <QTcpSocket>
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

GuardedSslServer::GuardedSslServer(Limits limits, RejectionHandler onRejected, QObject *parent)
    : QSslServer(parent)
    , m_limits(limits)
    , m_onRejected(std::move(onRejected))
{}

QTcpSocket *GuardedSslServer::nextPendingConnection()
{
    QTcpSocket *socket = QSslServer::nextPendingConnection();
    if (socket)
        new ConnectionGuard(socket, m_limits, m_onRejected);
    return socket;
}

} // namespace vennacott::refsvc
