// Test helpers: programs run as children, the reference service among them, and an HTTPS client that trusts its CA.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>

namespace vennacott::refsvc::test {

// How long one step (a start, a stop, a request) may take. Sign-ins hash a password slowly on purpose, and the
// sanitizer build is slower still.
inline constexpr int kStepTimeoutMs = 60'000;

struct Finished
{
    int status = -1; // -1: did not end by itself
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end, with `input` on its standard input.
Finished runToEnd(const QString &program, const QStringList &arguments, const QByteArray &input = {},
                  const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
inline Finished runService(const QStringList &arguments)
{
    return runToEnd(QStringLiteral(VENNACOTT_REFSVC_BINARY), arguments);
}

// A program that runs until it is told to stop, its output collected as it comes.
class Program
{
public:
    explicit Program(const QString &program, const QProcessEnvironment &environment = {})
    {
        m_process.setProgram(program);
        m_process.setProcessEnvironment(environment); // an empty one: the test's own
    }
    ~Program() { kill(); }
    bool start(const QStringList &arguments)
    {
        m_process.setArguments(arguments);
        m_output.clear();
        m_errors.clear();
        m_process.start();
        return m_process.waitForStarted(kStepTimeoutMs);
    }
    bool stop(); // SIGTERM; true when the program then ends by itself with status 0
    // As a crash or a power cut would.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(kStepTimeoutMs);
    }
    QByteArray output() const { return m_output += m_process.readAllStandardOutput(); }
    QStringList outputLines() const { return QString::fromUtf8(output()).split(u'\n', Qt::SkipEmptyParts); }
    QByteArray errors() const { return m_errors += m_process.readAllStandardError(); }
    int exitCode() const { return m_process.exitCode(); }

protected:
    mutable QProcess m_process; // mutable: reading the output moves it into m_output
    mutable QByteArray m_output;
    mutable QByteArray m_errors;
};

// vennacott-refsvc on a data folder of the test's choosing, with extra command-line options.
class ServiceProcess final : public Program
{
public:
    explicit ServiceProcess(QString dataDir, QStringList options = {})
        : Program(QStringLiteral(VENNACOTT_REFSVC_BINARY))
        , m_dataDir(std::move(dataDir))
        , m_options(std::move(options))
    {}
    // Starts the service and waits until it says it is ready. Port 0 lets it pick a free port.
    bool start(quint16 apiPort = 0, quint16 updatePort = 0);
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
    quint16 m_apiPort = 0;
    quint16 m_updatePort = 0;
};

struct HttpReply
{
    int status = 0; // 0 when no HTTP reply came
    QByteArray body;
    QMap<QByteArray, QByteArray> headers; // names in lower case

    QJsonObject object() const { return QJsonDocument::fromJson(body).object(); }
};

inline QByteArray jsonBody(const QJsonObject &object)
{
    return QJsonDocument(object).toJson();
}
inline QByteArray credentials(const QString &email, const QString &password)
{
    return jsonBody({{"Email", email}, {"Password", password}});
}

// Requests over HTTPS that trust the service's CA, on a connection of their own that stays open while the client lives.
class Client final
{
public:
    explicit Client(const QString &caFile)
        : m_trusted(QSslCertificate::fromPath(caFile))
    {}
    // Starts a request without waiting for it.
    QNetworkReply *start(const QByteArray &method, const QString &url, const QByteArray &body = {},
                         const QByteArray &authorization = {});
    // Waits for the reply, within kStepTimeoutMs.
    static HttpReply finish(QNetworkReply *reply);
    HttpReply send(const QByteArray &method, const QString &url, const QByteArray &body = {},
                   const QByteArray &authorization = {})
    {
        return finish(start(method, url, body, authorization));
    }
    HttpReply get(const QString &url) { return send("GET", url); }
    HttpReply post(const QString &url, const QByteArray &body, const QByteArray &token = {})
    {
        return send("POST", url, body, token.isEmpty() ? QByteArray() : "Bearer " + token);
    }
    // The token, or an empty text.
    QByteArray signIn(const QString &apiUrl, const QString &email, const QString &password)
    {
        return post(apiUrl + "/login", credentials(email, password)).object().value("token").toString().toLatin1();
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
