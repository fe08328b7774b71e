// The two HTTPS origins, backend API and update server, on loopback, wired to the service's rules.
#pragma once

#include "certificates.h"
#include "guardedsslserver.h"
#include "requestlog.h"

#include <QHttpServer>
#include <QObject>
#include <QSslConfiguration>
#include <QStringList>

class QTcpServer;

namespace vennacott::refsvc {

class ReferenceService;
struct Reply;

// Both origins together: see GuardedSslServer.
struct ConnectionLimits
{
    int maxConnections = kDefaultMaxConnections;
    int perAddress = defaultConnectionsPerAddress(kDefaultMaxConnections);
    std::chrono::milliseconds requestTimeout = kDefaultRequestTimeout;
};

class HttpFrontend final : public QObject
{
    Q_OBJECT
public:
    HttpFrontend(ReferenceService &service, const ServerIdentity &identity, ConnectionLimits limits,
                 QObject *parent = nullptr);
    ~HttpFrontend() override;

    // Listens on 127.0.0.1 and, where the system has it, on ::1 with the same port. Port 0 picks a free one.
    bool listen(quint16 apiPort, quint16 updatePort, QString *error);
    // Serves the connections `server` hands out as `origin`, with the same routes and without TLS or the
    // listeners' limits: the fuzzer feeds requests through it without a network.
    void serve(Origin origin, QTcpServer *server);
    quint16 apiPort() const { return m_apiPort; }
    quint16 updatePort() const { return m_updatePort; }
    // Things worth telling the person who started the service, such as a missing IPv6 loopback.
    QStringList notes() const { return m_notes; }

private:
    void addApiRoutes();
    void addUpdateRoutes();
    void finishSetup(QHttpServer &server, Origin origin);
    Reply unrouted(Origin origin, const QHttpServerRequest &request);
    bool listenOn(QHttpServer &server, Origin origin, quint16 port, quint16 *bound, QString *error);

    ReferenceService &m_service;
    QSslConfiguration m_tls;
    const std::chrono::milliseconds m_requestTimeout;
    ConnectionBudget m_connections; // before the servers: their sockets give back to it as they go
    QHttpServer m_api;
    QHttpServer m_update;
    quint16 m_apiPort = 0;
    quint16 m_updatePort = 0;
    QStringList m_notes;
};

} // namespace vennacott::refsvc
