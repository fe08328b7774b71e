// Test helpers: the reference service as a child process, and an HTTPS client that trusts its CA.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QProcess>
#include <QSslCertificate>
#include <QSslSocket>
#include <QStringList>

#include <memory>

namespace vennacott::refsvc::test {

// How long one step (a start, a stop, a request) may take before the test gives up. Sign-ins hash a
// password on purpose slowly, and the sanitizer build is slower still.
inline constexpr int kStepTimeoutMs = 60'000;

// vennacott-refsvc on a data folder of the test's choosing, with extra command-line options.
class ServiceProcess final
{
public:
    explicit ServiceProcess(QString dataDir, QStringList options = {});
    ~ServiceProcess() { kill(); }
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    // Starts the service and waits for the line that says it is ready. Port 0 lets it pick a free port.
    bool start(quint16 apiPort = 0, quint16 updatePort = 0);
    // Sends SIGTERM and waits; true when the service ended by itself with status 0.
    bool stop();
    // Ends the service the hard way, as a crash or a power cut would.
    void kill();
    // Runs the program with `arguments` to its end: for --init, --help and refused starts.
    static std::unique_ptr<QProcess> runToEnd(const QStringList &arguments);

    QString apiUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_apiPort); }
    QString updateUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_updatePort); }
    quint16 apiPort() const { return m_apiPort; }
    quint16 updatePort() const { return m_updatePort; }
    QString dataDir() const { return m_dataDir; }
    QString caFile() const { return m_dataDir + QStringLiteral("/ca.pem"); }
    bool listensOnIPv6() const { return !collectOutput().contains("not listening on [::1]"); }
    QStringList outputLines() const; // standard output so far
    QByteArray errors() const;       // standard error so far
    int exitCode() const { return m_process.exitCode(); }

private:
    QByteArray collectOutput() const;

    QString m_dataDir;
    QStringList m_options;
    mutable QProcess m_process; // mutable: reading the log moves it into m_output
    mutable QByteArray m_output;
    mutable QByteArray m_errors;
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

using Headers = QList<QPair<QByteArray, QByteArray>>;

// Requests over HTTPS that trust the service's CA; each call waits for its reply, within kStepTimeoutMs.
class Client final
{
public:
    explicit Client(const QString &caFile);

    HttpReply get(const QString &url) { return send("GET", url); }
    HttpReply post(const QString &url, const QByteArray &body, const QByteArray &token = {});
    HttpReply send(const QByteArray &method, const QString &url, const QByteArray &body = {},
                   const Headers &headers = {});
    // Starts a request without waiting, on a connection of its own, so that several can be in flight at once.
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

// One TLS connection with HTTP/1.1 written by hand, for what Qt's network access cannot do: call from a
// loopback address other than 127.0.0.1, and hold a connection open without a request.
class RawConnection final
{
public:
    RawConnection(const QString &caFile, quint16 port, const QHostAddress &from = QHostAddress::LocalHost);
    // Waits for the TLS handshake; false when the service closed the connection instead.
    bool waitEncrypted();
    HttpReply send(const QByteArray &method, const QString &path, const QByteArray &body = {});

private:
    QSslSocket m_socket;
};

// A JSON body with text members.
QByteArray jsonBody(std::initializer_list<std::pair<const char *, QString>> members);

} // namespace vennacott::refsvc::test
