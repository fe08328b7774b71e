// A scriptable HTTPS (or plain HTTP) server on loopback that records the raw bytes of every request.
#include "testserver.h"

#include <QFile>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

namespace vennacott::test {
namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("test server: cannot read %s", qPrintable(path));
    return file.readAll();
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

int RecordedRequest::headerCount(const QByteArray &name) const
{
    int count = 0;
    for (const auto &header : headers)
        count += header.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
    return count;
}

ScriptedResponse ScriptedResponse::json(const QByteArray &body, int status)
{
    ScriptedResponse response;
    response.status = status;
    response.body = body;
    response.headers = {{"Content-Type", "application/json"}};
    return response;
}

ScriptedResponse ScriptedResponse::with(Action action)
{
    ScriptedResponse response;
    response.action = action;
    return response;
}

struct TestServer::Connection
{
    QPointer<QTcpSocket> socket;
    QByteArray buffer;
    int id = 0;
    bool busy = false; // a response is pending; further requests wait
};

QString TestServer::certificateDirectory()
{
    return QStringLiteral(VENNACOTT_TEST_CERT_DIR);
}

TestServer::TestServer(Identity identity, QObject *parent)
    : QObject(parent)
    , m_identity(identity)
    , m_handler([](const RecordedRequest &) { return ScriptedResponse::json("{}"); })
{
    if (identity == Identity::PlainHttp) {
        m_server = std::make_unique<QTcpServer>();
        connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection())
                accept(socket);
        });
    } else {
        auto server = std::make_unique<QSslServer>();
        const QString dir = certificateDirectory();
        const QString name = identity == Identity::Trusted ? QStringLiteral("server") : QStringLiteral("rogue");
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(readFile(dir + QLatin1Char('/') + name + QStringLiteral(".pem"))));
        tls.setPrivateKey(QSslKey(readFile(dir + QLatin1Char('/') + name + QStringLiteral(".key")), QSsl::Ec));
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        server->setSslConfiguration(tls);
        // Handshakes are counted by the connections that become encrypted.
        connect(server.get(), &QSslServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection())
                accept(socket);
        });
        m_server = std::move(server);
    }
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        qFatal("test server: cannot listen on 127.0.0.1");
}

TestServer::~TestServer()
{
    closeAllConnections();
}

quint16 TestServer::port() const
{
    return m_server->serverPort();
}

QString TestServer::baseUrl() const
{
    const QString scheme = m_identity == Identity::PlainHttp ? QStringLiteral("http") : QStringLiteral("https");
    return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port());
}

void TestServer::setHandler(std::function<ScriptedResponse(const RecordedRequest &)> handler)
{
    m_handler = std::move(handler);
}

void TestServer::respondWith(const ScriptedResponse &response)
{
    m_handler = [response](const RecordedRequest &) { return response; };
}

int TestServer::openConnectionCount() const
{
    int open = 0;
    for (const auto &connection : m_open)
        open += connection->socket && connection->socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return open;
}

void TestServer::closeAllConnections()
{
    const auto open = m_open;
    for (const auto &connection : open) {
        if (connection->socket)
            connection->socket->abort();
    }
    m_open.clear();
}

void TestServer::accept(QTcpSocket *socket)
{
    auto connection = std::make_shared<Connection>();
    connection->socket = socket;
    connection->id = ++m_connections;
    m_open.append(connection);
    socket->setParent(this);
    std::weak_ptr<Connection> weak = connection;
    connect(socket, &QTcpSocket::readyRead, this, [this, weak] {
        if (const auto alive = weak.lock()) {
            alive->buffer += alive->socket->readAll();
            process(*alive);
        }
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void TestServer::process(Connection &connection)
{
    while (!connection.busy) {
        const qsizetype headerEnd = connection.buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        RecordedRequest request;
        const QList<QByteArray> lines = connection.buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        qsizetype contentLength = 0;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed();
            const QByteArray value = line.mid(colon + 1).trimmed();
            request.headers.append({name, value});
            if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
                contentLength = value.toLongLong();
        }
        const qsizetype total = headerEnd + 4 + contentLength;
        if (connection.buffer.size() < total)
            return;
        request.raw = connection.buffer.left(total);
        request.body = connection.buffer.mid(headerEnd + 4, contentLength);
        request.connection = connection.id;
        connection.buffer.remove(0, total);

        m_requests.append(request);
        const ScriptedResponse response = m_handler(request);
        Q_EMIT requestReceived();
        connection.busy = response.action == ScriptedResponse::Action::Stall || response.delay.count() > 0;
        if (response.action == ScriptedResponse::Action::Stall)
            return;
        if (response.delay.count() > 0) {
            QTimer::singleShot(response.delay, this, [this, socket = connection.socket, response] {
                answer(socket, response);
                for (const auto &open : m_open) {
                    if (open->socket == socket) {
                        open->busy = false;
                        process(*open);
                    }
                }
            });
            return;
        }
        answer(connection.socket, response);
    }
}

void TestServer::answer(QPointer<QTcpSocket> socket, const ScriptedResponse &response)
{
    if (!socket)
        return;
    using Action = ScriptedResponse::Action;
    if (response.action == Action::Drop) {
        socket->abort();
        return;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    bool hasLength = false;
    for (const auto &[name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
        hasLength = hasLength || name.compare("Content-Length", Qt::CaseInsensitive) == 0;
    }
    if (response.action == Action::StreamForever) {
        head += "Transfer-Encoding: chunked\r\n\r\n";
        socket->write(head);
        // A 64 KiB chunk whenever the client has taken the last one, until it hangs up.
        const QByteArray chunk = QByteArray::number(64 * 1024, 16) + "\r\n" + QByteArray(64 * 1024, 'x') + "\r\n";
        // A TLS socket hands its encrypted bytes to a buffer of its own, which bytesToWrite() does not count.
        auto feed = [socket, chunk] {
            if (!socket)
                return;
            const auto *tls = qobject_cast<QSslSocket *>(socket.data());
            const qint64 pending = socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
            if (pending < 256 * 1024)
                socket->write(chunk);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, feed);
        if (auto *tls = qobject_cast<QSslSocket *>(socket.data()))
            connect(tls, &QSslSocket::encryptedBytesWritten, socket, feed);
        feed();
        return;
    }
    if (!hasLength)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (response.closeAfter)
        head += "Connection: close\r\n";
    head += "\r\n";
    if (response.action == Action::DropMidBody) {
        socket->write(head + response.body.left(response.body.size() / 2));
        socket->flush();
        QTimer::singleShot(20, socket, [socket] {
            if (socket)
                socket->abort();
        });
        return;
    }
    socket->write(head + response.body);
    if (response.closeAfter)
        socket->disconnectFromHost();
}

} // namespace vennacott::test
