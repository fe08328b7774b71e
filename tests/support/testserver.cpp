// A scriptable HTTPS (or plain HTTP) server on loopback that records every request as received.
#include "testserver.h"

#include <QFile>
#include <QPointer>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

namespace vennacott::test {

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

ScriptedResponse ScriptedResponse::json(const QByteArray &body, int status)
{
    return {Action::Respond, status, {{"Content-Type", "application/json"}}, body, {}, {}, {}};
}

struct TestServer::Connection
{
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    bool busy = false; // a response is pending; further requests wait
};

TestServer::TestServer(Identity identity)
    : m_identity(identity)
    , m_handler([](const RecordedRequest &) { return ScriptedResponse::json("{}"); })
{
    if (identity == Identity::PlainHttp) {
        m_server = std::make_unique<QTcpServer>();
    } else {
        auto server = std::make_unique<QSslServer>();
        const QString base = QStringLiteral(VENNACOTT_TEST_CERT_DIR) +
                             (identity == Identity::Trusted ? QStringLiteral("/server") : QStringLiteral("/rogue"));
        QFile key(base + QStringLiteral(".key"));
        if (!key.open(QIODevice::ReadOnly))
            qFatal("test server: cannot read %s", qPrintable(key.fileName()));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate::fromPath(base + QStringLiteral(".pem")).value(0));
        tls.setPrivateKey(QSslKey(&key, QSsl::Ec));
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        server->setSslConfiguration(tls);
        m_server = std::move(server);
    }
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            auto connection = std::make_shared<Connection>(Connection{socket, {}, false});
            m_open.append(connection);
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, weak = std::weak_ptr(connection)] {
                if (const auto alive = weak.lock()) {
                    alive->buffer += alive->socket->readAll();
                    process(alive);
                }
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("test server: cannot listen on 127.0.0.1");
}

TestServer::~TestServer()
{
    for (const auto &connection : std::as_const(m_open)) {
        if (connection->socket)
            connection->socket->abort();
    }
}

QString TestServer::baseUrl() const
{
    const QString scheme = m_identity == Identity::PlainHttp ? QStringLiteral("http") : QStringLiteral("https");
    return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(m_server->serverPort());
}

void TestServer::process(const std::shared_ptr<Connection> &connection)
{
    while (!connection->busy) {
        const qsizetype headerEnd = connection->buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        RecordedRequest request;
        const QList<QByteArray> lines = connection->buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        for (const QByteArray &line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        const qsizetype total = headerEnd + 4 + request.header("Content-Length").toLongLong();
        if (connection->buffer.size() < total)
            return;
        request.body = connection->buffer.mid(headerEnd + 4, total - headerEnd - 4);
        connection->buffer.remove(0, total);

        m_requests.append(request);
        const ScriptedResponse response = m_handler(request);
        Q_EMIT requestReceived();
        using Action = ScriptedResponse::Action;
        connection->busy = response.action == Action::Stall || response.delay.count() > 0;
        if (response.action == Action::Stall)
            return;
        if (response.delay.count() > 0) {
            QTimer::singleShot(response.delay, this, [this, connection, response] {
                answer(connection->socket, response);
                connection->busy = false;
                process(connection);
            });
            return;
        }
        answer(connection->socket, response);
    }
}

void TestServer::answer(QTcpSocket *socket, const ScriptedResponse &response)
{
    using Action = ScriptedResponse::Action;
    if (!socket)
        return;
    // Clients read the status code, never the reason phrase.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.action == Action::Endless) {
        const QByteArray unit = response.endless;
        socket->write(head + response.body);
        if (response.pace.count() > 0) {
            auto *timer = new QTimer(socket);
            connect(timer, &QTimer::timeout, socket, [socket, unit] { socket->write(unit); });
            timer->start(response.pace);
            return;
        }
        // Another unit whenever the client has taken the last ones, until it hangs up. A TLS socket hands
        // its encrypted bytes to a buffer of its own, which bytesToWrite() does not count.
        auto feed = [socket = QPointer(socket), unit] {
            const auto *tls = qobject_cast<QSslSocket *>(socket.data());
            if (socket && socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0) < 256 * 1024)
                socket->write(unit);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, feed);
        if (auto *tls = qobject_cast<QSslSocket *>(socket))
            connect(tls, &QSslSocket::encryptedBytesWritten, socket, feed);
        feed();
        return;
    }
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n\r\n";
    if (response.action == Action::DropMidBody) {
        socket->write(head + response.body.left(response.body.size() / 2));
        socket->flush();
        QTimer::singleShot(20, socket, &QTcpSocket::abort);
        return;
    }
    socket->write(head + response.body);
}

} // namespace vennacott::test
