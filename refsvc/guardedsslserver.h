// A TLS listener that bounds what one connection may send, how long a request may take to arrive, how
// long a connection may sit idle, and how many connections are open at once, in all and per caller address.
#pragma once

#include <QHash>
#include <QSslServer>
#include <QString>

#include <chrono>
#include <functional>

namespace vennacott::refsvc {

inline constexpr int kDefaultMaxConnections = 512;
inline constexpr std::chrono::milliseconds kDefaultRequestTimeout{10'000};

// The share of the connection cap one caller address may hold, unless told otherwise: a quarter.
constexpr int defaultConnectionsPerAddress(int maxConnections)
{
    return maxConnections / 4 > 0 ? maxConnections / 4 : 1;
}

// The open connections of all the listeners of one service, against its caps.
struct ConnectionBudget
{
    int cap = kDefaultMaxConnections;
    int capPerAddress = defaultConnectionsPerAddress(kDefaultMaxConnections);
    int open = 0;
    QHash<QString, int> openPerAddress;
    // The log says once that a cap was reached, until a connection ends.
    bool reportedFull = false;
    bool reportedAddressFull = false;
};

// Qt 6.4's HTTP server keeps a request in memory until it is complete, however large, and keeps idle
// connections open for ever. This listener watches each connection it hands out: a request that grows past
// `maxRequestBytes` is answered with 413 and the connection is closed; a request not whole within
// `requestTimeout` of its first byte is answered with 408 and the connection is closed, however its bytes
// trickle in; a connection with no traffic for `idleTimeout` is closed. A connection that arrives while the
// budget, or its caller address's share of it, is spent is closed at once, before any TLS work; those
// already open go on as before.
class GuardedSslServer final : public QSslServer
{
    Q_OBJECT
public:
    struct Limits
    {
        qint64 maxRequestBytes = 1024 * 1024;
        std::chrono::milliseconds idleTimeout{120'000};
        std::chrono::milliseconds requestTimeout = kDefaultRequestTimeout;
    };
    // Told of each request refused before it was read whole, with the status it was answered.
    using RejectionHandler = std::function<void(const QTcpSocket &socket, int status)>;

    GuardedSslServer(Limits limits, ConnectionBudget &budget, RejectionHandler onRejected, QObject *parent = nullptr);

    QTcpSocket *nextPendingConnection() override;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const Limits m_limits;
    ConnectionBudget &m_budget;
    const RejectionHandler m_onRejected;
};

} // namespace vennacott::refsvc
