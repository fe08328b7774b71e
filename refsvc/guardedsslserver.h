// A TLS listener that bounds what one connection may send and how long it may sit idle.
#pragma once

#include <QSslServer>

#include <chrono>
#include <functional>

namespace vennacott::refsvc {

// Qt 6.4's HTTP server keeps a request in memory until it is complete, however large, and keeps idle
// connections open for ever. This listener watches each connection it hands out: a request that grows past
// `maxRequestBytes` is answered with 413 and the connection is closed; a connection with no traffic for
// `idleTimeout` is closed.
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

    GuardedSslServer(Limits limits, RejectionHandler onRejected, QObject *parent = nullptr);

    QTcpSocket *nextPendingConnection() override;

private:
    const Limits m_limits;
    const RejectionHandler m_onRejected;
};

} // namespace vennacott::refsvc
