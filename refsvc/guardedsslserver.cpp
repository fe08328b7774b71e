// A TLS listener that bounds what one connection may send, how long it may sit idle, and how many
// connections are open at once.
#include "guardedsslserver.h"

#include "console.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTimer>

#include <sys/socket.h>

namespace vennacott::refsvc {
namespace {

// After refusing a request the guard still reads (and drops) what the client goes on sending for a while:
// closing a socket with unread data resets the connection, and the client would lose the answer.
constexpr std::chrono::milliseconds kDrainTime{5'000};
constexpr qint64 kMaxDrainBytes = 64 * 1024 * 1024;

QByteArray refusal(int status, const QByteArray &reason, const QByteArray &error)
{
    const QByteArray body = R"({"code":)" + QByteArray::number(status) + R"(,"error":")" + error + R"("})";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
           "\r\n"
           "Content-Type: application/json\r\n"
           "Cache-Control: no-store\r\n"
           "Connection: close\r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// The caller's address as the budget counts it: an IPv4 address in IPv6 form counts as itself.
QString addressKey(qintptr descriptor)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(static_cast<int>(descriptor), reinterpret_cast<sockaddr *>(&storage), &length) != 0)
        return {};
    const QHostAddress address(reinterpret_cast<const sockaddr *>(&storage));
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : address.toString();
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
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, &ConnectionGuard::expire);
        restartIdleTimer();
    }

private:
    void restartIdleTimer() { m_idle.start(m_limits.idleTimeout); }

    void measure()
    {
        restartIdleTimer();
        // The server reads a request inside a transaction that it commits once the request is complete, so
        // no transaction means a new request begins with these bytes.
        if (!m_socket->isTransactionStarted()) {
            m_pending = 0;
            m_deadline.start(m_limits.requestTimeout);
        }
        m_pending += m_socket->bytesAvailable();
        if (m_pending > m_limits.maxRequestBytes)
            reject(413, "Payload Too Large",
                   "the request is larger than " + QByteArray::number(m_limits.maxRequestBytes) + " bytes");
    }

    // The deadline of the request begun last: an open transaction means it is not whole yet.
    void expire()
    {
        if (m_socket->isTransactionStarted())
            reject(408, "Request Timeout",
                   "the request did not arrive whole within " +
                       QByteArray::number(static_cast<double>(m_limits.requestTimeout.count()) / 1000) + " seconds");
    }

    void reject(int status, const QByteArray &reason, const QByteArray &error)
    {
        m_deadline.stop();
        // From here on the HTTP server reads nothing more of this connection; the guard drains it.
        QObject::disconnect(m_socket, &QIODevice::readyRead, nullptr, nullptr);
        connect(m_socket, &QIODevice::readyRead, this, &ConnectionGuard::discard);
        if (m_socket->isTransactionStarted())
            m_socket->commitTransaction();
        m_socket->readAll();
        m_socket->write(refusal(status, reason, error));
        if (m_onRejected)
            m_onRejected(*m_socket, status);
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
    QTimer m_deadline;
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
    const QString address = addressKey(descriptor);
    const bool full = m_budget.open >= m_budget.cap;
    if (full || m_budget.openPerAddress.value(address) >= m_budget.capPerAddress) {
        QTcpSocket refused;
        refused.setSocketDescriptor(descriptor);
        refused.abort();
        bool &reported = full ? m_budget.reportedFull : m_budget.reportedAddressFull;
        if (!reported) {
            reported = true;
            console::logLine(full ? QStringLiteral("vennacott-refsvc: %1 connections are open, the most it accepts; "
                                                   "new ones are closed until some end")
                                        .arg(m_budget.cap)
                                  : QStringLiteral("vennacott-refsvc: %1 connections are open from %2, the most one "
                                                   "address may hold; new ones from there are closed until some end")
                                        .arg(m_budget.capPerAddress)
                                        .arg(address));
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
    ++m_budget.openPerAddress[address];
    ConnectionBudget *budget = &m_budget;
    // The socket as context: QSslServer cuts every connection from the socket to itself after the handshake.
    connect(socket, &QObject::destroyed, socket, [budget, address] {
        --budget->open;
        if (--budget->openPerAddress[address] <= 0)
            budget->openPerAddress.remove(address);
        budget->reportedFull = false;
        budget->reportedAddressFull = false;
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
