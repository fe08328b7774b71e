// A TLS listener that bounds what one connection may send, how long it may sit idle, and how many
// connections are open at once.
#pragma once

#include <QSslServer>

#include <chrono>
#include <functional>

namespace vennacott::refsvc {

inline constexpr int kDefaultMaxConnections = 512;

// The open connections of all the listeners of one service, against its cap.
struct ConnectionBudget
{
    int cap = kDefaultMaxConnections;
    int open = 0;
    bool reportedFull = false; // the log says once that the cap was reached, until a connection ends
};

// Qt 6.4's HTTP server keeps a request in memory until it is complete, however large, and keeps idle
// connections open for ever. This listener watches each connection it hands out: a request that grows past
// `maxRequestBytes` is answered with 413 and the connection is closed; a connection with no traffic for
// `idleTimeout` is closed. A connection that arrives while the budget is spent is closed at once, before
// any TLS work; those already open go on as before.
class GuardedSslServer final : public QSslServer
{
    Q_OBJECT
public:
    struct Limits
    {
        qint64 maxRequestBytes = 1024 * 1024;
        std::chrono::milliseconds idleTimeout{120'000};
    };
    using RejectionHandler = std::function<void(const QTcpSocket &socket)>;

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
