// Test helpers: programs run as children, the reference service among them, and HTTPS clients that trust its CA.
#pragma once

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>

#include <memory>

namespace vennacott::refsvc::test {

// How long one step (a start, a stop, a request) may take before the test gives up. Sign-ins hash a
// password on purpose slowly, and the sanitizer build is slower still.
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

// A program that runs until it is told to stop; its output is collected as it comes.
class Program
{
public:
    explicit Program(const QString &program,
                     const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    ~Program() { kill(); }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    bool start(const QStringList &arguments);
    // Sends SIGTERM and waits; true when the program ended by itself with status 0.
    bool stop();
    // Ends the program the hard way, as a crash or a power cut would.
    void kill();
    QByteArray output() const;
    QStringList outputLines() const { return QString::fromUtf8(output()).split(u'\n', Qt::SkipEmptyParts); }
    QByteArray errors() const;
    int exitCode() const { return m_process.exitCode(); }
    qint64 processId() const { return m_process.processId(); }

protected:
    mutable QProcess m_process; // mutable: reading the output moves it into m_output
    mutable QByteArray m_output;
    mutable QByteArray m_errors;
};

// vennacott-refsvc on a data folder of the test's choosing, with extra command-line options.
class ServiceProcess final : public Program
{
public:
    explicit ServiceProcess(QString dataDir, QStringList options = {});

    // Starts the service and waits for the line that says it is ready. Port 0 lets it pick a free port.
    bool start(quint16 apiPort = 0, quint16 updatePort = 0);
    QString apiUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_apiPort); }
    QString updateUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_updatePort); }
    quint16 apiPort() const { return m_apiPort; }
    quint16 updatePort() const { return m_updatePort; }
    QString dataDir() const { return m_dataDir; }
    QString caFile() const { return m_dataDir + QStringLiteral("/ca.pem"); }
    // Updates of `host` the service accepted, by its log.
    int recordedUpdates(const QString &host) const;

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
    QList<QNetworkReply::RawHeaderPair> headers;

    QJsonObject object() const; // the body as a JSON object, or an empty one
    QByteArray header(const QByteArray &name) const;
};

// A JSON body with text members.
QByteArray jsonBody(std::initializer_list<std::pair<const char *, QString>> members);
inline QByteArray credentials(const QString &email, const QString &password)
{
    return jsonBody({{"Email", email}, {"Password", password}});
}

// Requests over HTTPS that trust the service's CA; each call waits for its reply, within kStepTimeoutMs.
class Client final
{
public:
    explicit Client(const QString &caFile);

    HttpReply send(const QByteArray &method, const QString &url, const QByteArray &body = {},
                   const QByteArray &authorization = {});
    HttpReply get(const QString &url) { return send("GET", url); }
    HttpReply post(const QString &url, const QByteArray &body, const QByteArray &token = {})
    {
        return send("POST", url, body, token.isEmpty() ? QByteArray() : "Bearer " + token);
    }
    // Starts a request on a connection of its own without waiting, so that several are in flight at once.
    QNetworkReply *startOwnConnection(const QByteArray &method, const QString &url, const QByteArray &body = {});
    static HttpReply finish(QNetworkReply *reply);

    // Signs in and returns the token, or an empty text.
    QByteArray signIn(const QString &apiUrl, const QString &email, const QString &password);
    // Registers `name` and returns the update link, or an empty text.
    QString registerHost(const QString &updateUrl, const QString &name);

private:
    QNetworkRequest request(const QString &url) const;

    QList<QSslCertificate> m_trusted;
    QNetworkAccessManager m_manager;
};

// One TLS connection written by hand, for what Qt's network access cannot do: call from a loopback address
// other than 127.0.0.1, and hold a connection open without a request.
class RawConnection final
{
public:
    RawConnection(const QString &caFile, quint16 port, const QHostAddress &from = QHostAddress::LocalHost);
    // Waits for the TLS handshake; false when the service closed the connection instead.
    bool waitEncrypted();
    // Sends an HTTP/1.1 request and returns the reply's status, or 0.
    int send(const QByteArray &method, const QString &path, const QByteArray &body = {});

private:
    QSslSocket m_socket;
};

// What the end-to-end tests share: a service on the ports and with the CA the client under test was built
// for, on state of its own, and the folders of that client's user.
class EndToEnd final
{
public:
    // Fails when another service (scripts/run) holds the ports.
    bool start(const QString &caDir, quint16 apiPort, quint16 updatePort);
    ServiceProcess &service() { return *m_service; }
    // The user's own XDG folders and no display but Qt's offscreen one.
    QProcessEnvironment environment() const;
    QString settingsFile() const { return m_dir.filePath(QStringLiteral("config/vennacott/vennacott-ddns.conf")); }
    // Waits until the service has accepted two updates of `host` and the client has printed two replies, each
    // after the UTC time, that give its loopback address.
    bool waitForTwoUpdates(const QString &host, const Program &client);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<ServiceProcess> m_service;
};

} // namespace vennacott::refsvc::test
