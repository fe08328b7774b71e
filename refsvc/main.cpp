// vennacott-refsvc: a local stand-in for the backend API and the DDNS update server.
#include "certificates.h"
#include "console.h"
#include "httpfrontend.h"
#include "service.h"
#include "store.h"
#include "terminationsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

#include <csignal>

using namespace vennacott;
using namespace vennacott::refsvc;

namespace {

constexpr quint16 kDefaultApiPort = 8443;
constexpr quint16 kDefaultUpdatePort = 8444;
constexpr char kDatabaseFile[] = "refsvc.sqlite3";
constexpr char kLockFile[] = "refsvc.lock";

void say(const QString &text)
{
    console::printLine(QStringLiteral("vennacott-refsvc: ") + text);
}

void warn(const QString &text)
{
    console::logLine(QStringLiteral("vennacott-refsvc: ") + text);
}

int fail(const QString &text, int status = 1)
{
    warn(text);
    return status;
}

QString description()
{
    return QStringLiteral(
               "Reference service for Vennacott DDNS: the backend API and the DDNS update server on this machine, for\n"
               "development, demos and tests. It listens on loopback only (127.0.0.1 and ::1) over HTTPS, with a\n"
               "certificate from its own CA, which it creates in the data folder on first start (ca.pem there is the\n"
               "file a client must trust). The state lives in SQLite in the same folder.\n"
               "\n"
               "Accounts are created on first sign-in: POST /login with an e-mail address that has no account yet and\n"
               "a password of at least %1 characters creates the account. This is demo behaviour: use no real "
               "password.\n"
               "After --sign-in-failures wrong passwords in a row for one account from one address, further sign-ins\n"
               "for it from there are answered 429 with Retry-After, without looking at the password, for\n"
               "--sign-in-lockout seconds from the last failure; after --account-sign-in-failures from any addresses,\n"
               "sign-ins for it from everywhere are, for --account-sign-in-lockout seconds. A successful sign-in\n"
               "forgets the failures. One address creates at most --new-accounts-per-address accounts an hour.\n"
               "A request must arrive whole within --request-timeout seconds of its first byte, and one address holds\n"
               "at most --max-connections-per-address of the --max-connections open connections.\n"
               "\n"
               "Backend API:    POST /login, /secure/api/save_dns, /secure/api/get_dns\n"
               "Update server:  GET /new/<name>, /update/<name>/<key>, and / (a status page listing the hosts)")
        .arg(kMinNewPasswordLength);
}

// A whole number from `low` to `high`.
bool parseCount(const QCommandLineParser &parser, const QCommandLineOption &option, int low, int high, int *count)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < low || value > high)
        return false;
    *count = value;
    return true;
}

// A number of seconds from 0.001 to `high`, decimals allowed.
bool parseSeconds(const QCommandLineParser &parser, const QCommandLineOption &option, double high,
                  std::chrono::milliseconds *duration)
{
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || !(value >= 0.001 && value <= high))
        return false;
    *duration = std::chrono::milliseconds(qRound64(value * 1000));
    return true;
}

QString secondsText(std::chrono::milliseconds duration)
{
    return QString::number(static_cast<double>(duration.count()) / 1000);
}

bool parsePort(const QCommandLineParser &parser, const QCommandLineOption &option, quint16 *port)
{
    bool ok = false;
    const uint value = parser.value(option).toUInt(&ok);
    if (!ok || value > 65535)
        return false;
    *port = static_cast<quint16>(value);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    // A log reader that goes away must not take the service with it.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("vennacott"));
    QCoreApplication::setApplicationName(QStringLiteral("vennacott-refsvc"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VENNACOTT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption dataOption(
        QStringLiteral("data-dir"),
        QStringLiteral("Data folder: certificates and state (default: %1).")
            .arg(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)),
        QStringLiteral("folder"));
    const QCommandLineOption apiOption(
        QStringLiteral("api-port"),
        QStringLiteral("Port of the backend API (default %1; 0 picks a free port).").arg(kDefaultApiPort),
        QStringLiteral("port"), QString::number(kDefaultApiPort));
    const QCommandLineOption updateOption(
        QStringLiteral("update-port"),
        QStringLiteral("Port of the update server (default %1; 0 picks a free port).").arg(kDefaultUpdatePort),
        QStringLiteral("port"), QString::number(kDefaultUpdatePort));
    const QCommandLineOption initOption(QStringLiteral("init"),
                                        QStringLiteral("Only create the data folder and the certificates, then exit."));
    const QCommandLineOption failuresOption(
        QStringLiteral("sign-in-failures"),
        QStringLiteral("Wrong passwords in a row for one account from one address before further sign-ins from there "
                       "are refused with 429 (default %1; 0 turns the limit off).")
            .arg(kDefaultSignInFailures),
        QStringLiteral("count"), QString::number(kDefaultSignInFailures));
    const QCommandLineOption lockoutOption(
        QStringLiteral("sign-in-lockout"),
        QStringLiteral("Seconds those sign-ins stay refused, counted from the last failure; failures further apart "
                       "are forgotten (default %1; decimals allowed).")
            .arg(secondsText(kDefaultSignInLockout)),
        QStringLiteral("seconds"), secondsText(kDefaultSignInLockout));
    const QCommandLineOption accountFailuresOption(
        QStringLiteral("account-sign-in-failures"),
        QStringLiteral("Wrong passwords in a row for one account from any addresses before further sign-ins for it "
                       "are refused with 429 from everywhere (default %1; 0 turns the limit off).")
            .arg(kDefaultAccountSignInFailures),
        QStringLiteral("count"), QString::number(kDefaultAccountSignInFailures));
    const QCommandLineOption accountLockoutOption(
        QStringLiteral("account-sign-in-lockout"),
        QStringLiteral("Seconds those sign-ins stay refused, as --sign-in-lockout (default %1).")
            .arg(secondsText(kDefaultAccountSignInLockout)),
        QStringLiteral("seconds"), secondsText(kDefaultAccountSignInLockout));
    const QCommandLineOption newAccountsOption(
        QStringLiteral("new-accounts-per-address"),
        QStringLiteral("Accounts one address may create, each within an hour of the one before; then it creates "
                       "none for an hour (default %1; 0 turns the limit off).")
            .arg(kDefaultNewAccountsPerAddress),
        QStringLiteral("count"), QString::number(kDefaultNewAccountsPerAddress));
    const QCommandLineOption connectionsOption(
        QStringLiteral("max-connections"),
        QStringLiteral("Open connections accepted at once, both origins together; further ones are closed at once "
                       "(default %1).")
            .arg(kDefaultMaxConnections),
        QStringLiteral("count"), QString::number(kDefaultMaxConnections));
    const QCommandLineOption connectionsPerAddressOption(
        QStringLiteral("max-connections-per-address"),
        QStringLiteral("Of those, the most one caller address may hold (default a quarter of --max-connections)."),
        QStringLiteral("count"));
    const QCommandLineOption requestTimeoutOption(
        QStringLiteral("request-timeout"),
        QStringLiteral("Seconds a request may take to arrive whole from its first byte; a slower one is answered "
                       "408 and its connection closed (default %1; decimals allowed).")
            .arg(secondsText(kDefaultRequestTimeout)),
        QStringLiteral("seconds"), secondsText(kDefaultRequestTimeout));
    parser.addOptions({dataOption, apiOption, updateOption, initOption, failuresOption, lockoutOption,
                       accountFailuresOption, accountLockoutOption, newAccountsOption, connectionsOption,
                       connectionsPerAddressOption, requestTimeoutOption});
    parser.process(app);

    quint16 apiPort = 0;
    quint16 updatePort = 0;
    if (!parsePort(parser, apiOption, &apiPort) || !parsePort(parser, updateOption, &updatePort))
        return fail(QStringLiteral("a port is a number from 0 to 65535"), 2);
    if (apiPort != 0 && apiPort == updatePort)
        return fail(QStringLiteral("the API and the update server need different ports"), 2);
    SignInLimits signInLimits;
    if (!parseCount(parser, failuresOption, 0, 1000, &signInLimits.perAddress.count) ||
        !parseCount(parser, accountFailuresOption, 0, 1000, &signInLimits.perAccount.count))
        return fail(QStringLiteral("--sign-in-failures and --account-sign-in-failures are numbers from 0 to 1000"), 2);
    if (!parseSeconds(parser, lockoutOption, 86400, &signInLimits.perAddress.lockout) ||
        !parseSeconds(parser, accountLockoutOption, 86400, &signInLimits.perAccount.lockout))
        return fail(QStringLiteral("--sign-in-lockout and --account-sign-in-lockout are numbers of seconds from 0.001 "
                                   "to 86400"),
                    2);
    if (!parseCount(parser, newAccountsOption, 0, 100'000, &signInLimits.newAccounts.count))
        return fail(QStringLiteral("--new-accounts-per-address is a number from 0 to 100000"), 2);
    ConnectionLimits connectionLimits;
    if (!parseCount(parser, connectionsOption, 1, 100'000, &connectionLimits.maxConnections))
        return fail(QStringLiteral("--max-connections is a number from 1 to 100000"), 2);
    connectionLimits.perAddress = defaultConnectionsPerAddress(connectionLimits.maxConnections);
    if (parser.isSet(connectionsPerAddressOption) &&
        !parseCount(parser, connectionsPerAddressOption, 1, connectionLimits.maxConnections,
                    &connectionLimits.perAddress))
        return fail(QStringLiteral("--max-connections-per-address is a number from 1 to --max-connections"), 2);
    if (!parseSeconds(parser, requestTimeoutOption, 3600, &connectionLimits.requestTimeout))
        return fail(QStringLiteral("--request-timeout is a number of seconds from 0.001 to 3600"), 2);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'; see --help").arg(parser.positionalArguments().first()),
                    2);

    const QString dataDir =
        QDir(parser.isSet(dataOption) ? parser.value(dataOption)
                                      : QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
            .absolutePath();
    if (!QFileInfo(dataDir).isDir()) {
        if (!QDir().mkpath(dataDir))
            return fail(QStringLiteral("cannot create the data folder %1").arg(dataDir));
        // Keys and password hashes live here.
        QFile::setPermissions(dataDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const QString authorityPath = QDir(dataDir).filePath(QLatin1String(kAuthorityFile));

    // One service per data folder: two would hand out the same names twice and race on the CA files.
    QLockFile lock(QDir(dataDir).filePath(QLatin1String(kLockFile)));
    if (!lock.tryLock(0)) {
        if (parser.isSet(initOption) && lock.error() == QLockFile::LockFailedError && QFile::exists(authorityPath)) {
            say(QStringLiteral("the service running on %1 has its certificates; CA certificate: %2")
                    .arg(dataDir, authorityPath));
            return 0;
        }
        qint64 pid = 0;
        QString host, application;
        if (lock.error() == QLockFile::LockFailedError && lock.getLockInfo(&pid, &host, &application))
            return fail(QStringLiteral("another vennacott-refsvc (process %1) is using the data folder %2")
                            .arg(pid)
                            .arg(dataDir));
        return fail(QStringLiteral("cannot lock the data folder %1").arg(dataDir));
    }

    const CertificateResult certificates = ensureCertificates(dataDir);
    if (certificates.replacedAuthority)
        warn(QStringLiteral("the CA in %1 was made by an older version without name constraints; it is replaced by a "
                            "new CA that can sign only for 127.0.0.1, ::1 and localhost: rebuild every client "
                            "built to trust the old one (the local preset) and trust the new %1 where you trusted "
                            "the old one")
                 .arg(authorityPath));
    for (const QString &file : certificates.created)
        say(QStringLiteral("created %1").arg(file));
    if (!certificates.identity)
        return fail(certificates.error);
    if (parser.isSet(initOption)) {
        say(QStringLiteral("data folder %1 is ready; CA certificate: %2").arg(dataDir, authorityPath));
        return 0;
    }

    Store store;
    if (!store.open(QDir(dataDir).filePath(QLatin1String(kDatabaseFile))))
        return fail(store.lastError());
    ReferenceService service(store, signInLimits);
    HttpFrontend frontend(service, *certificates.identity, connectionLimits);
    QString error;
    if (!frontend.listen(apiPort, updatePort, &error))
        return fail(error);
    for (const QString &note : frontend.notes())
        say(note);

    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &app, [] { QCoreApplication::quit(); });

    const QString api = QStringLiteral("https://127.0.0.1:%1").arg(frontend.apiPort());
    const QString update = QStringLiteral("https://127.0.0.1:%1").arg(frontend.updatePort());
    say(QStringLiteral("ready: API %1, update server %2, status page %2/, CA certificate %3")
            .arg(api, update, authorityPath));
    const int status = QCoreApplication::exec();
    say(QStringLiteral("stopped"));
    return status;
}
