// Test helpers: programs run as children, the reference service among them, and an HTTPS client that trusts its CA.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTest>

#include <csignal>

namespace vennacott::refsvc::test {

// How long one step (a start, a stop, a request) may take: sign-ins hash slowly on purpose, sanitizers slow more.
inline constexpr int kStepTimeoutMs = 60'000;

struct Finished
{
    int status = -1; // -1: did not end by itself
    QByteArray out, err;
};

// Runs a program to its end, with `input` on its standard input; events keep flowing meanwhile.
inline Finished runToEnd(const QString &program, const QStringList &arguments, const QByteArray &input = {},
                         const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input), process.closeWriteChannel();
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kStepTimeoutMs))
        process.kill();
    process.waitForFinished(kStepTimeoutMs);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

// A program that runs until it is told to stop, its output collected as it comes.
class Program
{
public:
    explicit Program(const QString &program, const QProcessEnvironment &environment = {}) // empty: the test's own
    {
        m_process.setProgram(program), m_process.setProcessEnvironment(environment);
    }
    ~Program() { kill(); }
    bool start(const QStringList &arguments)
    {
        m_process.setArguments(arguments), m_output.clear(), m_errors.clear(), m_process.start();
        return m_process.waitForStarted(kStepTimeoutMs);
    }
    // SIGTERM; true when the program then ends by itself with status 0.
    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        if (!QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, kStepTimeoutMs))
            kill();
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    void kill() { m_process.kill(), m_process.waitForFinished(kStepTimeoutMs); } // as a crash would
    QByteArray output() const { return m_output += m_process.readAllStandardOutput(); }
    QByteArray errors() const { return m_errors += m_process.readAllStandardError(); }

protected:
    mutable QProcess m_process; // mutable: reading the output moves it into m_output
    mutable QByteArray m_output, m_errors;
};

// vennacott-refsvc on a data folder of the test's choosing, with extra command-line options.
class ServiceProcess final : public Program
{
public:
    explicit ServiceProcess(QString dataDir, QStringList options = {})
        : Program(VENNACOTT_REFSVC_BINARY)
        , m_dataDir(std::move(dataDir))
        , m_options(std::move(options))
    {}
    // Starts the service and waits until it says it is ready (port 0: a free one).
    bool start(quint16 apiPort = 0, quint16 updatePort = 0)
    {
        static const QRegularExpression ready(
            QStringLiteral("ready: API https://127\\.0\\.0\\.1:(\\d+), update server https://127\\.0\\.0\\.1:(\\d+)"));
        Program::start(QStringList{"--data-dir", m_dataDir, "--api-port", QString::number(apiPort), "--update-port",
                                   QString::number(updatePort)} +
                       m_options);
        QRegularExpressionMatch match;
        const auto ended = [&] {
            return (match = ready.match(QString::fromUtf8(output()))).hasMatch() ||
                   m_process.state() == QProcess::NotRunning;
        };
        (void)QTest::qWaitFor(ended, kStepTimeoutMs);
        m_apiPort = match.captured(1).toUShort(), m_updatePort = match.captured(2).toUShort();
        return match.hasMatch();
    }
    QString apiUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_apiPort); }
    QString updateUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_updatePort); }
    quint16 apiPort() const { return m_apiPort; }
    quint16 updatePort() const { return m_updatePort; }
    QString caFile() const { return m_dataDir + QStringLiteral("/ca.pem"); }
    // Updates of `host` the service accepted, by its log.
    int recordedUpdates(const QString &host) const
    {
        return QString::fromUtf8(output()).count(
            QStringLiteral(" update 127.0.0.1 GET /update/%1/<key> 200\n").arg(host));
    }

private:
    QString m_dataDir;
    QStringList m_options;
    quint16 m_apiPort = 0, m_updatePort = 0;
};

struct HttpReply
{
    int status = 0; // 0 when no HTTP reply came
    QByteArray body;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
};

inline QByteArray credentials(const QString &email, const QString &password)
{
    return QJsonDocument(QJsonObject{{"Email", email}, {"Password", password}}).toJson();
}

// Requests over HTTPS that trust the service's CA, on a connection of their own that stays open while the client lives.
class Client final
{
public:
    explicit Client(const QString &caFile)
        : m_trusted(QSslCertificate::fromPath(caFile))
    {}
    // Waits for the reply, within kStepTimeoutMs.
    HttpReply send(const QByteArray &method, const QString &url, const QByteArray &body = {},
                   const QByteArray &authorization = {})
    {
        QNetworkRequest request{QUrl(url)};
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(m_trusted);
        request.setSslConfiguration(tls), request.setTransferTimeout(kStepTimeoutMs);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        if (!authorization.isEmpty())
            request.setRawHeader("Authorization", authorization);
        QNetworkReply *reply = m_manager.sendCustomRequest(request, method, body);
        if (!reply->isFinished() && !QSignalSpy(reply, &QNetworkReply::finished).wait(kStepTimeoutMs))
            reply->abort();
        HttpReply result{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(), {}};
        for (const auto &[name, value] : reply->rawHeaderPairs())
            result.headers.insert(name.toLower(), value);
        reply->deleteLater();
        return result;
    }
    HttpReply get(const QString &url) { return send("GET", url); }
    HttpReply post(const QString &url, const QByteArray &body, const QByteArray &token = {})
    {
        return send("POST", url, body, token.isEmpty() ? QByteArray() : "Bearer " + token);
    }
    // The update link, or an empty text.
    QString registerHost(const QString &updateUrl, const QString &name)
    {
        return get(updateUrl + "/new/" + name).object().value("update_link").toString();
    }

private:
    QList<QSslCertificate> m_trusted;
    QNetworkAccessManager m_manager;
};

} // namespace vennacott::refsvc::test
