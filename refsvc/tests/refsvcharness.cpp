// Test helpers: programs run as children, the reference service among them, and HTTPS clients that trust its CA.
#include "refsvcharness.h"

#include <QDir>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>

#include <csignal>

namespace vennacott::refsvc::test {

Finished runToEnd(const QString &program, const QStringList &arguments, const QByteArray &input,
                  const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    // Events keep flowing meanwhile, so a service's log is read.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kStepTimeoutMs))
        process.kill();
    process.waitForFinished(kStepTimeoutMs);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

Program::Program(const QString &program, const QProcessEnvironment &environment)
{
    m_process.setProgram(program);
    m_process.setProcessEnvironment(environment);
}

bool Program::start(const QStringList &arguments)
{
    m_process.setArguments(arguments);
    m_output.clear();
    m_errors.clear();
    m_process.start();
    return m_process.waitForStarted(kStepTimeoutMs);
}

bool Program::stop()
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

void Program::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(kStepTimeoutMs);
}

QByteArray Program::output() const
{
    return m_output += m_process.readAllStandardOutput();
}

QByteArray Program::errors() const
{
    return m_errors += m_process.readAllStandardError();
}

ServiceProcess::ServiceProcess(QString dataDir, QStringList options)
    : Program(QStringLiteral(VENNACOTT_REFSVC_BINARY))
    , m_dataDir(std::move(dataDir))
    , m_options(std::move(options))
{}

bool ServiceProcess::start(quint16 apiPort, quint16 updatePort)
{
    if (!Program::start(QStringList{"--data-dir", m_dataDir, "--api-port", QString::number(apiPort), "--update-port",
                                    QString::number(updatePort)} +
                        m_options))
        return false;
    // Ready is the service's own word, printed once both origins listen.
    static const QRegularExpression ready(
        QStringLiteral("ready: API https://127\\.0\\.0\\.1:(\\d+), update server https://127\\.0\\.0\\.1:(\\d+)"));
    QRegularExpressionMatch match;
    (void)QTest::qWaitFor(
        [&] {
            match = ready.match(QString::fromUtf8(output()));
            return match.hasMatch() || m_process.state() == QProcess::NotRunning;
        },
        kStepTimeoutMs);
    m_apiPort = match.captured(1).toUShort();
    m_updatePort = match.captured(2).toUShort();
    return match.hasMatch();
}

int ServiceProcess::recordedUpdates(const QString &host) const
{
    const QString line = QStringLiteral(" update 127.0.0.1 GET /update/%1/<key> 200\n").arg(host);
    return static_cast<int>(QString::fromUtf8(output()).count(line));
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

QByteArray jsonBody(std::initializer_list<std::pair<const char *, QString>> members)
{
    QJsonObject object;
    for (const auto &[name, value] : members)
        object.insert(QLatin1String(name), value);
    return QJsonDocument(object).toJson();
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
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    return request;
}

HttpReply Client::send(const QByteArray &method, const QString &url, const QByteArray &body,
                       const QByteArray &authorization)
{
    QNetworkRequest r = request(url);
    if (!authorization.isEmpty())
        r.setRawHeader("Authorization", authorization);
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
    return post(apiUrl + QStringLiteral("/login"), credentials(email, password))
        .object()
        .value(QStringLiteral("token"))
        .toString()
        .toLatin1();
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

int RawConnection::send(const QByteArray &method, const QString &path, const QByteArray &body)
{
    if (!waitEncrypted())
        return 0;
    m_socket.write(method + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray head;
    (void)QTest::qWaitFor(
        [&] {
            head += m_socket.readAll();
            return head.contains("\r\n\r\n") || m_socket.state() == QAbstractSocket::UnconnectedState;
        },
        kStepTimeoutMs);
    return head.startsWith("HTTP/1.1 ") ? head.mid(9, 3).toInt() : 0;
}

bool EndToEnd::start(const QString &caDir, quint16 apiPort, quint16 updatePort)
{
    const QDir dir(m_dir.path());
    for (const char *folder : {"service", "config", "state", "data", "runtime"}) {
        if (!dir.mkpath(QLatin1String(folder)))
            return false;
        QFile::setPermissions(dir.filePath(QLatin1String(folder)),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    // The client trusts the CA it was built with, so this service signs with that CA.
    for (const char *file : {"/ca.pem", "/ca.key"}) {
        if (!QFile::copy(caDir + QLatin1String(file), dir.filePath(QStringLiteral("service")) + QLatin1String(file)))
            return false;
    }
    m_service = std::make_unique<ServiceProcess>(dir.filePath(QStringLiteral("service")));
    return m_service->start(apiPort, updatePort);
}

QProcessEnvironment EndToEnd::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char *folder : {"CONFIG", "STATE", "DATA"})
        environment.insert(QStringLiteral("XDG_%1_HOME").arg(QLatin1String(folder)),
                           m_dir.filePath(QString::fromLatin1(folder).toLower()));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    return environment;
}

bool EndToEnd::waitForTwoUpdates(const QString &host, const Program &client)
{
    static const QRegularExpression reply(
        QStringLiteral("(^|\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 \\{[^\n]*\"ip\":\"127\\.0\\.0\\.1\""));
    // The first update comes at most 10 seconds after the start and the next 10 seconds later; this allows
    // for a slow machine.
    return QTest::qWaitFor(
        [&] { return m_service->recordedUpdates(host) >= 2 && QString::fromUtf8(client.output()).count(reply) >= 2; },
        120'000);
}

} // namespace vennacott::refsvc::test
