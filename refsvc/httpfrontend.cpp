// The two HTTPS origins, backend API and update server, on loopback, wired to the service's rules.
#include "httpfrontend.h"

#include "guardedsslserver.h"
#include "service.h"

#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTcpSocket>

namespace vennacott::refsvc {
namespace {

using Method = QHttpServerRequest::Method;

QString methodName(Method method)
{
    switch (method) {
    case Method::Get:
        return QStringLiteral("GET");
    case Method::Put:
        return QStringLiteral("PUT");
    case Method::Delete:
        return QStringLiteral("DELETE");
    case Method::Post:
        return QStringLiteral("POST");
    case Method::Head:
        return QStringLiteral("HEAD");
    case Method::Options:
        return QStringLiteral("OPTIONS");
    case Method::Patch:
        return QStringLiteral("PATCH");
    case Method::Connect:
        return QStringLiteral("CONNECT");
    case Method::Trace:
        return QStringLiteral("TRACE");
    default:
        return QStringLiteral("UNKNOWN");
    }
}

QHttpServerResponse toResponse(const Reply &reply)
{
    QHttpServerResponse response(reply.contentType, reply.body,
                                 static_cast<QHttpServerResponse::StatusCode>(reply.status));
    for (const auto &[name, value] : reply.headers)
        response.addHeader(name, value);
    // Replies carry tokens and update links: no cache may keep them.
    response.addHeader("Cache-Control", "no-store");
    response.addHeader("X-Content-Type-Options", "nosniff");
    return response;
}

// Endpoints read bodies only up to kMaxBodyBytes; larger ones get 413 before any rule looks at them.
template<typename Handler>
QHttpServerResponse bounded(const QHttpServerRequest &request, Handler handle)
{
    if (request.body().size() > kMaxBodyBytes)
        return toResponse(
            Reply::error(413, QStringLiteral("the request body is larger than %1 bytes").arg(kMaxBodyBytes)));
    return toResponse(handle());
}

// The methods a path of an origin answers to, for 405 replies; empty when no endpoint has the path.
QByteArray allowedMethods(Origin origin, const QString &path)
{
    if (origin == Origin::Api) {
        for (const char *known : {"/login", "/secure/api/save_dns", "/secure/api/get_dns"}) {
            if (path == QLatin1String(known))
                return "POST";
        }
        return {};
    }
    if (path == QLatin1String("/") || path.startsWith(QLatin1String("/new/")) ||
        path.startsWith(QLatin1String("/update/")))
        return "GET";
    return {};
}

} // namespace

HttpFrontend::HttpFrontend(ReferenceService &service, const ServerIdentity &identity, ConnectionLimits limits,
                           QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_tls(QSslConfiguration::defaultConfiguration())
    , m_requestTimeout(limits.requestTimeout)
    , m_connections{limits.maxConnections, limits.perAddress, 0, {}}
{
    m_tls.setLocalCertificate(identity.certificate);
    m_tls.setPrivateKey(identity.privateKey);
    m_tls.setProtocol(QSsl::TlsV1_2OrLater);
    m_tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    addApiRoutes();
    addUpdateRoutes();
    finishSetup(m_api, Origin::Api);
    finishSetup(m_update, Origin::Update);
}

HttpFrontend::~HttpFrontend() = default;

void HttpFrontend::addApiRoutes()
{
    m_api.route("/login", Method::Post, [this](const QHttpServerRequest &request) {
        return bounded(request, [&] { return m_service.login(request.body(), request.remoteAddress()); });
    });
    m_api.route("/secure/api/save_dns", Method::Post, [this](const QHttpServerRequest &request) {
        return bounded(request, [&] { return m_service.saveDns(request.value("Authorization"), request.body()); });
    });
    m_api.route("/secure/api/get_dns", Method::Post, [this](const QHttpServerRequest &request) {
        return bounded(request, [&] { return m_service.getDns(request.value("Authorization")); });
    });
}

void HttpFrontend::addUpdateRoutes()
{
    m_update.route("/", Method::Get, [this] { return toResponse(m_service.statusPage()); });
    m_update.route("/new/<arg>", Method::Get,
                   [this](const QString &name) { return toResponse(m_service.registerHost(name)); });
    m_update.route("/update/<arg>/<arg>", Method::Get,
                   [this](const QString &name, const QString &key, const QHttpServerRequest &request) {
                       return toResponse(m_service.updateHost(name, key, request.remoteAddress()));
                   });
}

void HttpFrontend::finishSetup(QHttpServer &server, Origin origin)
{
    server.afterRequest([origin](QHttpServerResponse &&response, const QHttpServerRequest &request) {
        logRequest(origin, request.remoteAddress(), methodName(request.method()), request.url().path(),
                   static_cast<int>(response.statusCode()));
        return std::move(response);
    });
    server.setMissingHandler([this, origin](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        const Reply reply = unrouted(origin, request);
        logRequest(origin, request.remoteAddress(), methodName(request.method()), request.url().path(), reply.status);
        toResponse(reply).write(std::move(responder));
    });
}

Reply HttpFrontend::unrouted(Origin origin, const QHttpServerRequest &request)
{
    if (request.method() == Method::Unknown)
        return Reply::error(501, QStringLiteral("this request method is not supported"));
    const QString path = request.url().path();
    const QByteArray allowed = allowedMethods(origin, path);
    if (allowed.isEmpty())
        return Reply::error(404, origin == Origin::Api ? QStringLiteral("the backend API has no such path")
                                                       : QStringLiteral("the update server has no such path"));
    if (request.method() != Method::Get || origin != Origin::Update) {
        Reply reply = Reply::error(405, QStringLiteral("use %1 for this path").arg(QLatin1String(allowed)));
        reply.headers.append(qMakePair(QByteArray("Allow"), allowed));
        return reply;
    }
    // A GET the routes did not take: a host name that is empty or holds a "/", or an update link of the
    // wrong shape.
    if (path.startsWith(QLatin1String("/new/")))
        return m_service.registerHost(path.mid(5));
    return Reply::error(404, QStringLiteral("no such host is registered"));
}

bool HttpFrontend::listen(quint16 apiPort, quint16 updatePort, QString *error)
{
    return listenOn(m_api, Origin::Api, apiPort, &m_apiPort, error) &&
           listenOn(m_update, Origin::Update, updatePort, &m_updatePort, error);
}

void HttpFrontend::serve(Origin origin, QTcpServer *server)
{
    (origin == Origin::Api ? m_api : m_update).bind(server);
}

bool HttpFrontend::listenOn(QHttpServer &server, Origin origin, quint16 port, quint16 *bound, QString *error)
{
    const auto make = [this, origin, &server] {
        GuardedSslServer::Limits limits;
        limits.requestTimeout = m_requestTimeout;
        auto *listener = new GuardedSslServer(limits, m_connections, [origin](const QTcpSocket &socket, int status) {
            logRefusedRequest(origin, socket.peerAddress(), status);
        });
        listener->setParent(&server);
        listener->setSslConfiguration(m_tls);
        return listener;
    };
    GuardedSslServer *v4 = make();
    if (!v4->listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(v4->errorString());
        delete v4;
        return false;
    }
    *bound = v4->serverPort();
    server.bind(v4);

    GuardedSslServer *v6 = make();
    if (v6->listen(QHostAddress::LocalHostIPv6, *bound)) {
        server.bind(v6);
    } else {
        m_notes.append(QStringLiteral("not listening on [::1]:%1: %2").arg(*bound).arg(v6->errorString()));
        delete v6;
    }
    return true;
}

} // namespace vennacott::refsvc
