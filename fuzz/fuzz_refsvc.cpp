// A request to the reference service's HTTP front end on memory connections: no crash, no 5xx for a bad request, every
// error in the documented shape, nothing stored for a refusal. The input reads "<api|update> <method> <path>", header
// lines, a blank line and the body; $TOKEN and $KEY stand for a valid token and the update key of "fuzzhost".
#include "fuzzsupport.h"
#include "guardedsslserver.h"
#include "httpfrontend.h"
#include "service.h"
#include "store.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstring>
#include <memory>

using namespace vennacott;
using namespace vennacott::refsvc;

namespace {

// A connected socket whose peer is 127.0.0.1: reads the request, keeps what is written.
struct MemorySocket final : QTcpSocket
{
    explicit MemorySocket(QByteArray request)
        : request(std::move(request))
    {
        setPeerAddress(QHostAddress::LocalHost), setSocketState(ConnectedState);
        QIODevice::open(ReadWrite | Unbuffered);
    }
    ~MemorySocket() override { setSocketState(UnconnectedState); }
    qint64 bytesAvailable() const override { return QIODevice::bytesAvailable() + request.size() - offset; }
    void disconnectFromHost() override { setSocketState(UnconnectedState); }
    qint64 readData(char *data, qint64 max) override
    {
        const qint64 count = qMin(max, request.size() - offset);
        std::memcpy(data, request.constData() + offset, static_cast<size_t>(count));
        return offset += count, count;
    }
    qint64 writeData(const char *data, qint64 size) override { return written.append(data, size), size; }
    const QByteArray request;
    qint64 offset = 0;
    QByteArray written;
};

// Hands the front end one memory connection per request instead of accepting from the network.
struct MemoryServer final : QTcpServer
{
    QTcpSocket *nextPendingConnection() override { return std::exchange(next, nullptr); }
    // The bytes written back for `request`, which Qt's server answers before this returns.
    QByteArray exchange(const QByteArray &request)
    {
        auto socket = std::make_unique<MemorySocket>(request);
        addPendingConnection(next = socket.get()); // the server takes it with nextPendingConnection()
        emit socket->readyRead();
        const QByteArray reply = socket->written;
        socket.reset(); // before the posted events, which may hold its deleteLater()
        QCoreApplication::sendPostedEvents();
        return reply;
    }
    QTcpSocket *next = nullptr;
};

struct Service
{
    Store store;
    ReferenceService service{store, SignInLimits{}};
    ServerIdentity noTls; // memory connections are plain
    HttpFrontend frontend{service, noTls, ConnectionLimits{}};
    MemoryServer api, update;
    QByteArray token, key;
} *service = nullptr;

// Sends a request written as the input is, and returns the reply's status (0 for none) and body.
std::pair<int, QByteArray> send(QByteArray input)
{
    input.replace("$TOKEN", service->token).replace("$KEY", service->key);
    const qsizetype headersEnd = input.indexOf("\n\n");
    QList<QByteArray> lines = (headersEnd < 0 ? input : input.left(headersEnd)).split('\n');
    const QList<QByteArray> words = lines.takeFirst().split(' ');
    QByteArray request = words.value(1) + ' ' + words.value(2) + " HTTP/1.1\r\n";
    for (const QByteArray &line : lines)
        request += line + "\r\n";
    const QByteArray body = headersEnd < 0 ? QByteArray() : input.mid(headersEnd + 2);
    request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    const QByteArray reply = (words.value(0) == "api" ? service->api : service->update).exchange(request);
    const qsizetype end = reply.indexOf("\r\n\r\n");
    return reply.startsWith("HTTP/1.1 ") && end >= 0 ? std::pair(reply.mid(9, 3).toInt(), reply.mid(end + 4))
                                                     : std::pair(0, QByteArray());
}

// Changes whenever the store commits a change: SQLite's data_version, seen from a connection of our own.
qint64 dataVersion()
{
    QSqlQuery query(QSqlDatabase::database(QStringLiteral("observer")));
    FUZZ_CHECK(query.exec(QStringLiteral("PRAGMA data_version")) && query.next());
    return query.value(0).toLongLong();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::keepPrintedLines();
    new QCoreApplication(*argc, *argv);
    service = new Service;
    const QString database = fuzz::scratchFolder() + QStringLiteral("/refsvc.sqlite3");
    FUZZ_CHECK(service->store.open(database));
    service->frontend.serve(Origin::Api, &service->api), service->frontend.serve(Origin::Update, &service->update);
    QSqlDatabase observer = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("observer"));
    observer.setDatabaseName(database), FUZZ_CHECK(observer.open());
    const auto member = [](const QByteArray &input, const char *name) {
        return QJsonDocument::fromJson(send(input).second).object().value(QLatin1String(name)).toString().toLatin1();
    };
    service->token =
        member("api POST /login\n\n{\"Email\": \"fuzz@example.org\", \"Password\": \"fuzz-password\"}", "token");
    service->key = member("update GET /new/fuzzhost\n\n", "update_link").split('/').constLast();
    FUZZ_CHECK(!service->token.isEmpty() && !service->key.isEmpty());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    fuzz::printedLines().clear(); // the request log
    const qint64 versionBefore = dataVersion();
    const auto [status, body] = send(input);
    // 501 answers a method Qt's server does not know, which is no fault of the request's content.
    static const QList<QByteArray> known = {"GET", "PUT", "DELETE", "POST", "HEAD", "OPTIONS", "PATCH", "CONNECT"};
    FUZZ_CHECK(status < 500 || (status == 501 && !known.contains(input.split('\n').constFirst().split(' ').value(1))));
    const QJsonObject error = QJsonDocument::fromJson(body).object();
    FUZZ_CHECK(status < 400 || (error.value("code").toInt() == status && error.value("error").isString()));
    FUZZ_CHECK((status > 0 && status < 400) || dataVersion() == versionBefore);
    return 0;
}
