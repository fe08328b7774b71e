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

} // namespace

class RefsvcLifecycleTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void firstStart_createsAPrivateDataFolderAndCertificatesForLoopback_data();
    void firstStart_createsAPrivateDataFolderAndCertificatesForLoopback();
    void restart_keepsAccountsTokensLinksHostsAndTheCa();
    void killedService_startsAgainWithEverythingItHadAnswered();
    void missingServerCertificate_isIssuedAgainByTheSameCa();
    void damagedCa_stopsTheStartWithAMessageAndIsLeftAlone_data();
    void damagedCa_stopsTheStartWithAMessageAndIsLeftAlone();
    void init_createsOnlyTheCertificatesAndExits();
    void secondServiceOnTheSameFolder_isRefused();
    void portInUse_isReported();
    void badArguments_areUsageErrors_data();
    void badArguments_areUsageErrors();
    void help_saysHowAccountsAreCreated();

private:
    QString dataDir() const { return m_dir->filePath(QStringLiteral("data")); }
    QString dataFile(const char *name) const { return QDir(dataDir()).filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void RefsvcLifecycleTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void RefsvcLifecycleTest::firstStart_createsAPrivateDataFolderAndCertificatesForLoopback_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("127.0.0.1") << QStringLiteral("127.0.0.1");
    QTest::newRow("localhost") << QStringLiteral("localhost");
    QTest::newRow("::1") << QStringLiteral("[::1]");
}

void RefsvcLifecycleTest::firstStart_createsAPrivateDataFolderAndCertificatesForLoopback()
{
    QFETCH(QString, host);
    ServiceProcess service(m_dir->filePath(QStringLiteral("data/nested")));
    QVERIFY2(service.start(), service.errors().constData());
    const QDir data(service.dataDir());
    QCOMPARE(mode(data.path()), kOwnerOnly | QFileDevice::ExeOwner);
    QCOMPARE(mode(data.filePath(QStringLiteral("ca.key"))), kOwnerOnly);
    QCOMPARE(mode(data.filePath(QStringLiteral("server.key"))), kOwnerOnly);
    QCOMPARE(mode(data.filePath(QStringLiteral("refsvc.sqlite3"))), kOwnerOnly);
    QVERIFY(readFile(data.filePath(QStringLiteral("ca.pem"))).startsWith("-----BEGIN CERTIFICATE-----"));

    if (host == QLatin1String("[::1]") && !service.listensOnIPv6())
        QSKIP("this machine has no IPv6 loopback");
    // A client that trusts only the new CA reaches the service under each loopback name.
    Client client(service.caFile());
    const HttpReply reply = client.get(QStringLiteral("https://%1:%2/").arg(host).arg(service.updatePort()));
    QCOMPARE(reply.error, QNetworkReply::NoError);
    QCOMPARE(reply.status, 200);
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::restart_keepsAccountsTokensLinksHostsAndTheCa()
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
        QVERIFY(!token.isEmpty());
        link = client.registerHost(service.updateUrl(), QStringLiteral("Survivor"));
        QVERIFY(!link.isEmpty());
        QCOMPARE(
            client.post(service.apiUrl() + QStringLiteral("/secure/api/save_dns"), jsonBody({{"Key", link}}), token)
                .status,
            200);
        QCOMPARE(client.get(service.updateUrl() + link).status, 200);
        authority = readFile(service.caFile());
        QVERIFY(service.stop());
        QVERIFY(service.outputLines().last().endsWith(QLatin1String("stopped")));
    }

    ServiceProcess service(dataDir());
    QVERIFY2(service.start(), service.errors().constData());
    QCOMPARE(readFile(service.caFile()), authority);
    Client client(service.caFile());
    const QString api = service.apiUrl();
    QCOMPARE(client.post(api + QStringLiteral("/secure/api/get_dns"), "{}", token).body,
             QByteArray('"' + link.toLatin1() + '"'));
    const HttpReply wrong = client.post(api + QStringLiteral("/login"),
                                        jsonBody({{"Email", email}, {"Password", QStringLiteral("nope-nope")}}));
    QCOMPARE(wrong.status, 401);
    const HttpReply right =
        client.post(api + QStringLiteral("/login"), jsonBody({{"Email", email}, {"Password", password}}));
    QCOMPARE(right.status, 200);
    QVERIFY(!right.object().contains(QStringLiteral("created")));
    QCOMPARE(client.get(service.updateUrl() + QStringLiteral("/new/survivor")).status, 409);
    QCOMPARE(client.get(service.updateUrl() + link).status, 200);
    QVERIFY(QString::fromUtf8(client.get(service.updateUrl() + QStringLiteral("/")).body)
                .contains(QLatin1String("<tr><td>Survivor</td><td>127.0.0.1</td>")));
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::killedService_startsAgainWithEverythingItHadAnswered()
{
    QString link;
    {
        ServiceProcess service(dataDir());
        QVERIFY(service.start());
        link = Client(service.caFile()).registerHost(service.updateUrl(), QStringLiteral("sudden"));
        QVERIFY(!link.isEmpty());
        service.kill();
    }
    // The lock of the killed service is stale, and the name it granted is kept.
    ServiceProcess service(dataDir());
    QVERIFY2(service.start(), service.errors().constData());
    Client client(service.caFile());
    QCOMPARE(client.get(service.updateUrl() + link).status, 200);
    QCOMPARE(client.get(service.updateUrl() + QStringLiteral("/new/sudden")).status, 409);
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::missingServerCertificate_isIssuedAgainByTheSameCa()
{
    {
        ServiceProcess service(dataDir());
        QVERIFY(service.start());
        QVERIFY(service.stop());
    }
    const QByteArray authority = readFile(dataFile("ca.pem"));
    const QByteArray oldServer = readFile(dataFile("server.pem"));
    QVERIFY(QFile::remove(dataFile("server.pem")));

    ServiceProcess service(dataDir());
    QVERIFY2(service.start(), service.errors().constData());
    QVERIFY(service.outputLines().join(QLatin1Char('\n')).contains(QLatin1String("created ") + dataFile("server.pem")));
    QCOMPARE(readFile(dataFile("ca.pem")), authority);
    QVERIFY(readFile(dataFile("server.pem")) != oldServer);
    QCOMPARE(Client(service.caFile()).get(service.updateUrl() + QStringLiteral("/")).status, 200);
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::damagedCa_stopsTheStartWithAMessageAndIsLeftAlone_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // empty: remove the file
    QTest::newRow("key missing") << QStringLiteral("ca.key") << QByteArray();
    QTest::newRow("certificate missing") << QStringLiteral("ca.pem") << QByteArray();
    QTest::newRow("certificate garbage") << QStringLiteral("ca.pem") << QByteArray("not a certificate\n");
    QTest::newRow("key of another CA") << QStringLiteral("ca.key") << QByteArray("replace");
}

void RefsvcLifecycleTest::damagedCa_stopsTheStartWithAMessageAndIsLeftAlone()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    const auto first = ServiceProcess::runToEnd({QStringLiteral("--init"), QStringLiteral("--data-dir"), dataDir()});
    QCOMPARE(first->exitCode(), 0);
    const QString path = QDir(dataDir()).filePath(file);
    if (content.isEmpty()) {
        QVERIFY(QFile::remove(path));
    } else {
        if (content == "replace") {
            // A key from another data folder: valid, but not this CA's.
            const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
            const auto other =
                ServiceProcess::runToEnd({QStringLiteral("--init"), QStringLiteral("--data-dir"), elsewhere});
            content = readFile(QDir(elsewhere).filePath(QStringLiteral("ca.key")));
        }
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(content);
    }
    const QByteArray authority = readFile(dataFile("ca.pem"));
    const QByteArray key = readFile(dataFile("ca.key"));

    ServiceProcess service(dataDir());
    QVERIFY(!service.start());
    QCOMPARE(service.exitCode(), 1);
    QVERIFY2(service.errors().contains("ca."), service.errors().constData());
    QCOMPARE(readFile(dataFile("ca.pem")), authority);
    QCOMPARE(readFile(dataFile("ca.key")), key);
}

void RefsvcLifecycleTest::init_createsOnlyTheCertificatesAndExits()
{
    const QStringList arguments{QStringLiteral("--init"), QStringLiteral("--data-dir"), dataDir()};
    const auto first = ServiceProcess::runToEnd(arguments);
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QVERIFY(first->readAllStandardOutput().contains(dataFile("ca.pem").toUtf8()));
    for (const char *name : {"ca.pem", "ca.key", "server.pem", "server.key"})
        QVERIFY2(QFile::exists(dataFile(name)), name);
    QVERIFY(!QFile::exists(dataFile("refsvc.sqlite3")));

    const QByteArray authority = readFile(dataFile("ca.pem"));
    const auto second = ServiceProcess::runToEnd(arguments);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY(!second->readAllStandardOutput().contains("created"));
    QCOMPARE(readFile(dataFile("ca.pem")), authority);
}

void RefsvcLifecycleTest::secondServiceOnTheSameFolder_isRefused()
{
    ServiceProcess first(dataDir());
    QVERIFY(first.start());
    ServiceProcess second(dataDir());
    QVERIFY(!second.start());
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(second.errors().contains("another vennacott-refsvc"), second.errors().constData());
    // Preparing the folder of a running service is no error: its certificates exist.
    const auto init = ServiceProcess::runToEnd({QStringLiteral("--init"), QStringLiteral("--data-dir"), dataDir()});
    QCOMPARE(init->exitCode(), 0);
    QCOMPARE(Client(first.caFile()).get(first.updateUrl() + QStringLiteral("/")).status, 200);
    QVERIFY(first.stop());
}

void RefsvcLifecycleTest::portInUse_isReported()
{
    ServiceProcess first(dataDir());
    QVERIFY(first.start());
    ServiceProcess second(m_dir->filePath(QStringLiteral("other")));
    QVERIFY(!second.start(0, first.updatePort()));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(second.errors().contains(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(first.updatePort()).toUtf8()),
             second.errors().constData());
    QVERIFY(first.stop());
}

void RefsvcLifecycleTest::badArguments_areUsageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("port out of range") << QStringList{QStringLiteral("--api-port"), QStringLiteral("70000")}
                                       << QByteArray("0 to 65535");
    QTest::newRow("port not a number") << QStringList{QStringLiteral("--update-port"), QStringLiteral("https")}
                                       << QByteArray("0 to 65535");
    QTest::newRow("one port for both") << QStringList{QStringLiteral("--api-port"), QStringLiteral("9000"),
                                                      QStringLiteral("--update-port"), QStringLiteral("9000")}
                                       << QByteArray("different ports");
    QTest::newRow("stray argument") << QStringList{QStringLiteral("serve")} << QByteArray("unexpected argument");
}

void RefsvcLifecycleTest::badArguments_areUsageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, message);
    const auto process = ServiceProcess::runToEnd(arguments + QStringList{QStringLiteral("--data-dir"), dataDir()});
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 2);
    QVERIFY(process->readAllStandardError().contains(message));
    QVERIFY(!QFile::exists(dataDir()));
}

void RefsvcLifecycleTest::help_saysHowAccountsAreCreated()
{
    const auto process = ServiceProcess::runToEnd({QStringLiteral("--help")});
    QCOMPARE(process->exitCode(), 0);
    const QByteArray help = process->readAllStandardOutput().simplified();
    QVERIFY(help.contains("Accounts are created on first sign-in"));
    QVERIFY(help.contains("a password of at least 8 characters creates the account"));
    for (const char *option : {"--data-dir", "--api-port", "--update-port", "--init"})
        QVERIFY2(help.contains(option), option);
}

QTEST_GUILESS_MAIN(RefsvcLifecycleTest)
#include "tst_refsvc_lifecycle.moc"
