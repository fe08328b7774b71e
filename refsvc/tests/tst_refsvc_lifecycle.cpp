// The reference service as a program: first start, restart, its data folder, its command line.
#include "refsvcharness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vennacott::refsvc::test;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The owner, group and other bits; Qt's "user" bits repeat those of whichever class the caller is in.
QFileDevice::Permissions mode(const QString &path)
{
    return QFile::permissions(path) & QFileDevice::Permissions(0x7077);
}

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The openssl command line, as someone holding a copy of the data folder would use it: exit status, output.
std::pair<int, QByteArray> openssl(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(kStepTimeoutMs))
        return {-1, process.errorString().toUtf8()};
    return {process.exitCode(), process.readAll()};
}

QByteArray nameConstraints(const QString &certificate)
{
    return openssl({"x509", "-noout", "-ext", "nameConstraints", "-in", certificate}).second;
}

const QByteArray kLoopbackOnly =
    "X509v3 Name Constraints: critical\n    Permitted:\n      IP:127.0.0.1/255.255.255.255\n"
    "      IP:0:0:0:0:0:0:0:1/FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF\n      DNS:localhost\n";

} // namespace

class RefsvcLifecycleTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void firstStart_createsAPrivateDataFolderAndCertificatesForLoopback();
    void restart_keepsAccountsTokensLinksHostsAndTheCaEvenAfterAKill();
    void authority_signsOnlyForLoopbackNames_data();
    void authority_signsOnlyForLoopbackNames();
    void damagedCertificates_areIssuedAgainOrStopTheStart_data();
    void damagedCertificates_areIssuedAgainOrStopTheStart();
    void busyFolderOrPort_stopsTheStartWithAMessage_data();
    void busyFolderOrPort_stopsTheStartWithAMessage();
    void badArguments_areUsageErrors_data();
    void badArguments_areUsageErrors();

private:
    QString dataDir() const { return m_dir->filePath(QStringLiteral("data")); }
    QString dataFile(const char *name) const { return QDir(dataDir()).filePath(QLatin1String(name)); }
    std::unique_ptr<QProcess> initFolder(const QString &dir)
    {
        return ServiceProcess::runToEnd({QStringLiteral("--init"), QStringLiteral("--data-dir"), dir});
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void RefsvcLifecycleTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void RefsvcLifecycleTest::firstStart_createsAPrivateDataFolderAndCertificatesForLoopback()
{
    ServiceProcess service(m_dir->filePath(QStringLiteral("data/nested")));
    QVERIFY2(service.start(), service.errors().constData());
    const QDir data(service.dataDir());
    QCOMPARE(mode(data.path()), kOwnerOnly | QFileDevice::ExeOwner);
    for (const char *secret : {"ca.key", "server.key", "refsvc.sqlite3"})
        QCOMPARE(mode(data.filePath(QLatin1String(secret))), kOwnerOnly);
    QCOMPARE(nameConstraints(service.caFile()), kLoopbackOnly);

    // A client that trusts only the new CA reaches the service under each loopback name.
    QStringList hosts{QStringLiteral("127.0.0.1"), QStringLiteral("localhost")};
    if (service.listensOnIPv6())
        hosts.append(QStringLiteral("[::1]"));
    Client client(service.caFile());
    for (const QString &host : hosts) {
        const HttpReply reply = client.get(QStringLiteral("https://%1:%2/").arg(host).arg(service.updatePort()));
        QVERIFY2(reply.status == 200, qPrintable(host));
    }
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::restart_keepsAccountsTokensLinksHostsAndTheCaEvenAfterAKill()
{
    const QString email = QStringLiteral("restart@example.org");
    const QString password = QStringLiteral("restart-password");
    QByteArray token;
    QString link;
    QByteArray authority;
    {
        ServiceProcess service(dataDir());
        QVERIFY2(service.start(), service.errors().constData());
        Client client(service.caFile());
        token = client.signIn(service.apiUrl(), email, password);
        link = client.registerHost(service.updateUrl(), QStringLiteral("Survivor"));
        QCOMPARE(client.post(service.apiUrl() + "/secure/api/save_dns", jsonBody({{"Key", link}}), token).status, 200);
        QCOMPARE(client.get(service.updateUrl() + link).status, 200);
        authority = readFile(service.caFile());
        QVERIFY(service.stop());
    }
    QString sudden;
    {
        ServiceProcess service(dataDir());
        QVERIFY2(service.start(), service.errors().constData());
        QCOMPARE(readFile(service.caFile()), authority);
        Client client(service.caFile());
        const QString api = service.apiUrl();
        QCOMPARE(client.post(api + "/secure/api/get_dns", "{}", token).body, QByteArray('"' + link.toLatin1() + '"'));
        QCOMPARE(client.post(api + "/login", jsonBody({{"Email", email}, {"Password", "nope-nope"}})).status, 401);
        const HttpReply right = client.post(api + "/login", jsonBody({{"Email", email}, {"Password", password}}));
        QCOMPARE(right.status, 200);
        QVERIFY(!right.object().contains(QStringLiteral("created")));
        QCOMPARE(client.get(service.updateUrl() + "/new/survivor").status, 409);
        QCOMPARE(client.get(service.updateUrl() + link).status, 200);
        QVERIFY(QString::fromUtf8(client.get(service.updateUrl() + "/").body)
                    .contains(QLatin1String("<tr><td>Survivor</td><td>127.0.0.1</td>")));
        // Killed the hard way, the service keeps what it answered, and its stale lock does not stop the next start.
        sudden = client.registerHost(service.updateUrl(), QStringLiteral("sudden"));
        QVERIFY(!sudden.isEmpty());
        service.kill();
    }
    ServiceProcess service(dataDir());
    QVERIFY2(service.start(), service.errors().constData());
    Client client(service.caFile());
    QCOMPARE(client.get(service.updateUrl() + sudden).status, 200);
    QCOMPARE(client.get(service.updateUrl() + "/new/sudden").status, 409);
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::authority_signsOnlyForLoopbackNames_data()
{
    QTest::addColumn<QString>("name"); // a subject alternative name; empty: the service's own certificate
    QTest::addColumn<bool>("verifies");
    QTest::newRow("the service's certificate") << QString() << true;
    QTest::newRow("localhost") << QStringLiteral("DNS:localhost") << true;
    QTest::newRow("another site") << QStringLiteral("DNS:example.org") << false;
    QTest::newRow("another IPv4 address") << QStringLiteral("IP:192.0.2.1") << false;
    QTest::newRow("another IPv6 address") << QStringLiteral("IP:2001:db8::1") << false;
}

void RefsvcLifecycleTest::authority_signsOnlyForLoopbackNames()
{
    QFETCH(QString, name);
    QFETCH(bool, verifies);
    QCOMPARE(initFolder(dataDir())->exitCode(), 0);
    QString certificate = dataFile("server.pem");
    if (!name.isEmpty()) {
        // A certificate signed with a copy of ca.key, outside the service.
        certificate = m_dir->filePath(QStringLiteral("other.pem"));
        const auto [status, output] = openssl({"req",
                                               "-x509",
                                               "-CA",
                                               dataFile("ca.pem"),
                                               "-CAkey",
                                               dataFile("ca.key"),
                                               "-newkey",
                                               "ec",
                                               "-pkeyopt",
                                               "ec_paramgen_curve:P-256",
                                               "-nodes",
                                               "-keyout",
                                               m_dir->filePath(QStringLiteral("other.key")),
                                               "-subj",
                                               "/CN=other",
                                               "-addext",
                                               "subjectAltName=" + name,
                                               "-days",
                                               "1",
                                               "-out",
                                               certificate});
        QVERIFY2(status == 0, output.constData());
    }
    const auto [status, output] = openssl({"verify", "-CAfile", dataFile("ca.pem"), certificate});
    QVERIFY2((status == 0) == verifies, output.constData());
    QCOMPARE(output.contains("permitted subtree violation"), !verifies);
}

void RefsvcLifecycleTest::damagedCertificates_areIssuedAgainOrStopTheStart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // empty: remove the file
    QTest::addColumn<bool>("starts");
    QTest::addColumn<bool>("newAuthority");
    QTest::newRow("server certificate missing") << QStringLiteral("server.pem") << QByteArray() << true << false;
    QTest::newRow("CA key missing") << QStringLiteral("ca.key") << QByteArray() << false << false;
    QTest::newRow("CA certificate garbage")
        << QStringLiteral("ca.pem") << QByteArray("not a certificate\n") << false << false;
    QTest::newRow("key of another CA") << QStringLiteral("ca.key") << QByteArray("replace") << false << false;
    // Sound, but without name constraints: its key could sign for any site, so a new CA takes its place.
    QTest::newRow("CA of an older version") << QStringLiteral("ca.pem") << QByteArray("old CA") << true << true;
}

void RefsvcLifecycleTest::damagedCertificates_areIssuedAgainOrStopTheStart()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(bool, starts);
    QFETCH(bool, newAuthority);
    // --init creates the certificates only, and once.
    const auto first = initFolder(dataDir());
    QCOMPARE(first->exitCode(), 0);
    QVERIFY(first->readAllStandardOutput().contains(dataFile("ca.pem").toUtf8()));
    for (const char *name : {"ca.pem", "ca.key", "server.pem", "server.key"})
        QVERIFY2(QFile::exists(dataFile(name)), name);
    QVERIFY(!QFile::exists(dataFile("refsvc.sqlite3")));
    QVERIFY(!initFolder(dataDir())->readAllStandardOutput().contains("created"));

    if (content == "replace") {
        // A key from another data folder: valid, but not this CA's.
        const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
        QCOMPARE(initFolder(elsewhere)->exitCode(), 0);
        content = readFile(QDir(elsewhere).filePath(file));
    }
    const QByteArray before = readFile(dataFile("server.pem"));
    QFile out(QDir(dataDir()).filePath(file));
    if (content == "old CA") {
        const auto [status, output] = openssl(
            {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
             dataFile("ca.key"), "-out", dataFile("ca.pem"), "-subj", "/CN=older CA", "-days", "3650", "-addext",
             "basicConstraints=critical,CA:TRUE,pathlen:0", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
        QVERIFY2(status == 0, output.constData());
    } else if (content.isEmpty()) {
        QVERIFY(out.remove());
    } else {
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(content) == content.size());
    }
    out.close();
    const QByteArray authority = readFile(dataFile("ca.pem"));
    const QByteArray key = readFile(dataFile("ca.key"));

    // A missing server certificate is issued again by the same CA; a damaged CA is left alone; an older CA is
    // replaced, key and all, and says so.
    ServiceProcess service(dataDir());
    QCOMPARE(service.start(), starts);
    QCOMPARE(readFile(dataFile("ca.pem")) != authority, newAuthority);
    QCOMPARE(readFile(dataFile("ca.key")) != key, newAuthority);
    QCOMPARE(service.errors().contains("older version"), newAuthority);
    if (!starts) {
        QCOMPARE(service.exitCode(), 1);
        QVERIFY2(service.errors().contains("ca."), service.errors().constData());
        return;
    }
    QVERIFY(service.outputLines().join(u'\n').contains(QLatin1String("created ") + dataFile("server.pem")));
    QVERIFY(readFile(dataFile("server.pem")) != before);
    QCOMPARE(nameConstraints(dataFile("ca.pem")), kLoopbackOnly);
    QCOMPARE(Client(service.caFile()).get(service.updateUrl() + "/").status, 200);
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::busyFolderOrPort_stopsTheStartWithAMessage_data()
{
    QTest::addColumn<bool>("sameFolder"); // else the same update port
    QTest::addColumn<QString>("message");
    QTest::newRow("folder of a running service") << true << QStringLiteral("another vennacott-refsvc");
    QTest::newRow("port in use") << false << QStringLiteral("cannot listen on 127.0.0.1:%1");
}

void RefsvcLifecycleTest::busyFolderOrPort_stopsTheStartWithAMessage()
{
    QFETCH(bool, sameFolder);
    QFETCH(QString, message);
    ServiceProcess first(dataDir());
    QVERIFY(first.start());
    ServiceProcess second(sameFolder ? dataDir() : m_dir->filePath(QStringLiteral("other")));
    QVERIFY(!second.start(0, sameFolder ? 0 : first.updatePort()));
    QCOMPARE(second.exitCode(), 1);
    const QString expected = sameFolder ? message : message.arg(first.updatePort());
    QVERIFY2(second.errors().contains(expected.toUtf8()), second.errors().constData());
    // Preparing the folder of a running service is no error: its certificates exist.
    QCOMPARE(initFolder(dataDir())->exitCode(), 0);
    QCOMPARE(Client(first.caFile()).get(first.updateUrl() + "/").status, 200);
    QVERIFY(first.stop());
}

void RefsvcLifecycleTest::badArguments_areUsageErrors_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("port out of range") << "--api-port 70000" << QByteArray("0 to 65535");
    QTest::newRow("port not a number") << "--update-port https" << QByteArray("0 to 65535");
    QTest::newRow("one port for both") << "--api-port 9000 --update-port 9000" << QByteArray("different ports");
    QTest::newRow("stray argument") << "serve" << QByteArray("unexpected argument");
    QTest::newRow("no connection allowed") << "--max-connections 0" << QByteArray("--max-connections is");
    QTest::newRow("lockout not a number") << "--sign-in-lockout soon" << QByteArray("--sign-in-lockout is");
}

void RefsvcLifecycleTest::badArguments_areUsageErrors()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArray, message);
    const auto process = ServiceProcess::runToEnd(arguments.split(u' ') + QStringList{"--data-dir", dataDir()});
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 2);
    QVERIFY(process->readAllStandardError().contains(message));
    QVERIFY(!QFile::exists(dataDir()));
}

QTEST_GUILESS_MAIN(RefsvcLifecycleTest)
#include "tst_refsvc_lifecycle.moc"
