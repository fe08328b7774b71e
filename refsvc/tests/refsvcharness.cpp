// Test helpers: the reference service as a child process, and an HTTPS client that trusts its CA.
#include "refsvcharness.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>

#include <csignal>

namespace vennacott::refsvc::test {

ServiceProcess::ServiceProcess(QString dataDir, QStringList options)
    : m_dataDir(std::move(dataDir))
    , m_options(std::move(options))
{
    m_process.setProgram(QStringLiteral(VENNACOTT_REFSVC_BINARY));
}

bool ServiceProcess::start(quint16 apiPort, quint16 updatePort)
{
    m_process.setArguments(QStringList{"--data-dir", m_dataDir, "--api-port", QString::number(apiPort), "--update-port",
                                       QString::number(updatePort)} +
                           m_options);
    m_output.clear();
    m_errors.clear();
    m_process.start();
    // Ready is the service's own word, printed once both origins listen.
    static const QRegularExpression ready(
        QStringLiteral("ready: API https://127\\.0\\.0\\.1:(\\d+), update server https://127\\.0\\.0\\.1:(\\d+)"));
    QRegularExpressionMatch match;
    const bool settled = QTest::qWaitFor(
        [&] {
            match = ready.match(QString::fromUtf8(collectOutput()));
            return match.hasMatch() || m_process.state() == QProcess::NotRunning;
        },
        kStepTimeoutMs);
    m_apiPort = match.captured(1).toUShort();
    m_updatePort = match.captured(2).toUShort();
    return settled && match.hasMatch();
}

bool ServiceProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    if (!QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, kStepTimeoutMs)) {
        kill();
        return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

void ServiceProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(kStepTimeoutMs);
}

std::unique_ptr<QProcess> ServiceProcess::runToEnd(const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral(VENNACOTT_REFSVC_BINARY), arguments);
    if (!QTest::qWaitFor([&] { return process->state() == QProcess::NotRunning; }, kStepTimeoutMs))
        process->kill();
    process->waitForFinished(kStepTimeoutMs);
    return process;
}

QStringList ServiceProcess::outputLines() const
{
    return QString::fromUtf8(collectOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray ServiceProcess::errors() const
{
    m_errors += m_process.readAllStandardError();
    return m_errors;
}

QByteArray ServiceProcess::collectOutput() const
{
    m_output += m_process.readAllStandardOutput();
    return m_output;
}

QJsonObject HttpReply::object() const
{
    return QJsonDocument::fromJson(body).object();
}

QByteArray HttpReply::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

Client::Client(const QString &caFile)
    : m_trusted(QSslCertificate::fromPath(caFile))
{}

QNetworkRequest Client::request(const QString &url) const
{
    QNetworkRequest request{QUrl(url)};
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(m_trusted);
    request.setSslConfiguration(tls);
    request.setTransferTimeout(kStepTimeoutMs);
    return request;
}

HttpReply Client::post(const QString &url, const QByteArray &body, const QByteArray &token)
{
    Headers headers{{"Content-Type", "application/json"}};
    if (!token.isEmpty())
        headers.append({"Authorization", "Bearer " + token});
    return send("POST", url, body, headers);
}

HttpReply Client::send(const QByteArray &method, const QString &url, const QByteArray &body, const Headers &headers)
{
    QNetworkRequest r = request(url);
    for (const auto &[name, value] : headers)
        r.setRawHeader(name, value);
    return finish(m_manager.sendCustomRequest(r, method, body));
}

QNetworkReply *Client::startOwnConnection(const QByteArray &method, const QString &url, const QByteArray &body)
{
    // Qt shares a connection between the requests of one manager; a manager of its own gets a new one.
    auto *manager = new QNetworkAccessManager(&m_manager);
    return manager->sendCustomRequest(request(url), method, body);
}

HttpReply Client::finish(QNetworkReply *reply)
{
    if (!reply->isFinished() && !QSignalSpy(reply, &QNetworkReply::finished).wait(kStepTimeoutMs))
        reply->abort();
    HttpReply result{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
                     reply->rawHeaderPairs()};
    reply->deleteLater();
    return result;
}

QByteArray Client::signIn(const QString &apiUrl, const QString &email, const QString &password)
{
    const HttpReply reply =
        post(apiUrl + QStringLiteral("/login"), jsonBody({{"Email", email}, {"Password", password}}));
    return reply.object().value(QStringLiteral("token")).toString().toLatin1();
}

QString Client::registerHost(const QString &updateUrl, const QString &name)
{
    return get(updateUrl + QStringLiteral("/new/") + name).object().value(QStringLiteral("update_link")).toString();
}

RawConnection::RawConnection(const QString &caFile, quint16 port, const QHostAddress &from)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(caFile));
    m_socket.setSslConfiguration(tls);
    m_socket.bind(from);
    m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
}

bool RawConnection::waitEncrypted()
{
    (void)QTest::qWaitFor(
        [&] { return m_socket.isEncrypted() || m_socket.state() == QAbstractSocket::UnconnectedState; },
        kStepTimeoutMs);
    return m_socket.isEncrypted();
}

HttpReply RawConnection::send(const QByteArray &method, const QString &path, const QByteArray &body)
{
    if (!waitEncrypted())
        return {};
    m_socket.write(method + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray data;
    HttpReply reply;
    qsizetype headerEnd = -1;
    qsizetype length = 0;
    (void)QTest::qWaitFor(
        [&] {
            data += m_socket.readAll();
            if (headerEnd < 0 && (headerEnd = data.indexOf("\r\n\r\n")) >= 0) {
                const QList<QByteArray> lines = data.left(headerEnd).split('\n');
                reply.status = lines.first().split(' ').value(1).toInt();
                for (const QByteArray &line : lines.mid(1)) {
                    const qsizetype colon = line.indexOf(':');
                    reply.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
                }
                length = reply.header("Content-Length").toLongLong();
            }
            return (headerEnd >= 0 && data.size() >= headerEnd + 4 + length) ||
                   m_socket.state() == QAbstractSocket::UnconnectedState;
        },
        kStepTimeoutMs);
    reply.body = data.mid(headerEnd + 4, length);
    return reply;
}

QByteArray jsonBody(std::initializer_list<std::pair<const char *, QString>> members)
{
    QJsonObject object;
    for (const auto &[name, value] : members)
        object.insert(QLatin1String(name), value);
    return QJsonDocument(object).toJson();
}

} // namespace vennacott::refsvc::test
