// Connections that are only memory, for feeding requests to a Qt HTTP server without a network.
#pragma once

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstring>
#include <memory>

namespace vennacott::fuzz {

// A connected socket whose peer is 127.0.0.1: reads the request, keeps what is written.
class MemorySocket final : public QTcpSocket
{
public:
    explicit MemorySocket(QByteArray request)
        : m_request(std::move(request))
    {
        setPeerAddress(QHostAddress::LocalHost);
        setSocketState(ConnectedState);
        QIODevice::open(ReadWrite | Unbuffered);
    }
    ~MemorySocket() override { setSocketState(UnconnectedState); }
    qint64 bytesAvailable() const override { return QIODevice::bytesAvailable() + m_request.size() - m_read; }
    void disconnectFromHost() override { setSocketState(UnconnectedState); }
    QByteArray written;

protected:
    qint64 readData(char *data, qint64 max) override
    {
        const qint64 count = qMin(max, m_request.size() - m_read);
        std::memcpy(data, m_request.constData() + m_read, static_cast<size_t>(count));
        m_read += count;
        return count;
    }
    qint64 writeData(const char *data, qint64 size) override { return written.append(data, size), size; }

private:
    const QByteArray m_request;
    qint64 m_read = 0;
};

// Hands a server bound to it one memory connection per request instead of accepting from the network.
class MemoryServer final : public QTcpServer
{
public:
    QTcpSocket *nextPendingConnection() override { return std::exchange(m_next, nullptr); }

    // The bytes written back for `request`, which Qt's server answers before this returns.
    QByteArray exchange(const QByteArray &request)
    {
        auto socket = std::make_unique<MemorySocket>(request);
        m_next = socket.get();
        addPendingConnection(socket.get()); // the server takes it with nextPendingConnection()
        emit socket->readyRead();
        const QByteArray reply = socket->written;
        socket.reset();
        QCoreApplication::sendPostedEvents();
        return reply;
    }

private:
    QTcpSocket *m_next = nullptr;
};

} // namespace vennacott::fuzz
