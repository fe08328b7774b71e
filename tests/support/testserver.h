// A scriptable HTTPS (or plain HTTP) server on loopback that records every request as received.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>

#include <chrono>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;

namespace vennacott::test {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

struct RecordedRequest
{
    QByteArray method, target;
    HeaderList headers; // in the order received, values without surrounding blanks
    QByteArray body;

    // The value of the first header named `name` (case-insensitive), or a null array.
    QByteArray header(const QByteArray &name) const;
};

struct ScriptedResponse
{
    enum class Action {
        Respond,     // status line, headers, body
        Stall,       // read the request, never answer
        DropMidBody, // send the headers and half the body, then close
        Endless      // status line, headers and `body` as they stand, then `endless` until the client gives up
    };
    Action action = Action::Respond;
    int status = 200;
    HeaderList headers; // sent after the status line; Content-Length is added (but for Endless)
    QByteArray body;
    std::chrono::milliseconds delay{0}; // before answering; later requests on the connection wait
    QByteArray endless;                 // repeated as fast as the client reads, or once per `pace`
    std::chrono::milliseconds pace{0};

    static ScriptedResponse json(const QByteArray &body, int status = 200);
};

class TestServer final : public QObject
{
    Q_OBJECT
public:
    enum class Identity { Trusted, Rogue, PlainHttp };

    explicit TestServer(Identity identity = Identity::Trusted);
    ~TestServer() override;

    QString baseUrl() const; // scheme, 127.0.0.1 and the port, no trailing slash

    void setHandler(std::function<ScriptedResponse(const RecordedRequest &)> handler)
    {
        m_handler = std::move(handler);
    }
    void respondWith(const ScriptedResponse &response)
    {
        m_handler = [response](const RecordedRequest &) { return response; };
    }

    QList<RecordedRequest> requests() const { return m_requests; }
    int requestCount() const { return m_requests.size(); }

Q_SIGNALS:
    void requestReceived();

private:
    struct Connection;
    void process(const std::shared_ptr<Connection> &connection);
    static void answer(QTcpSocket *socket, const ScriptedResponse &response);

    Identity m_identity;
    std::unique_ptr<QTcpServer> m_server;
    std::function<ScriptedResponse(const RecordedRequest &)> m_handler;
    QList<RecordedRequest> m_requests;
    QList<std::shared_ptr<Connection>> m_open;
};

} // namespace vennacott::test
