// Test helpers: programs run as children, the reference service among them, and an HTTPS client that trusts its CA.
#include "refsvcharness.h"

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

bool Program::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    if (!QTest::qWaitFor([&] { return m_process.state() == QProcess::NotRunning; }, kStepTimeoutMs))
        kill();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool ServiceProcess::start(quint16 apiPort, quint16 updatePort)
{
    static const QRegularExpression ready(
        QStringLiteral("ready: API https://127\\.0\\.0\\.1:(\\d+), update server https://127\\.0\\.0\\.1:(\\d+)"));
    Program::start(QStringList{"--data-dir", m_dataDir, "--api-port", QString::number(apiPort), "--update-port",
                               QString::number(updatePort)} +
                   m_options);
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

QNetworkReply *Client::start(const QByteArray &method, const QString &url, const QByteArray &body,
                             const QByteArray &authorization)
{
    QNetworkRequest request{QUrl(url)};
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(m_trusted);
    request.setSslConfiguration(tls);
    request.setTransferTimeout(kStepTimeoutMs);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    return m_manager.sendCustomRequest(request, method, body);
}

HttpReply Client::finish(QNetworkReply *reply)
{
    if (!reply->isFinished() && !QSignalSpy(reply, &QNetworkReply::finished).wait(kStepTimeoutMs))
        reply->abort();
    HttpReply result{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(), {}};
    for (const auto &[name, value] : reply->rawHeaderPairs())
        result.headers.insert(name.toLower(), value);
    reply->deleteLater();
    return result;
}

} // namespace vennacott::refsvc::test
