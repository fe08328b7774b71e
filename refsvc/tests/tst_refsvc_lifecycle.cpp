// The reference service as a program: first start, restart, its data folder, its certificates, its command line.
#include "refsvcharness.h"

#include <QDir>
#include <QTest>

using namespace vennacott::refsvc::test;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The openssl command line, as someone holding a copy of the data folder would use it.
Finished openssl(const QStringList &arguments)
{
    Finished result = runToEnd(QStringLiteral("openssl"), arguments);
    result.out += result.err;
    return result;
}

const QStringList kNewKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "1"};

} // namespace

class RefsvcLifecycleTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void firstStart_createsAPrivateDataFolderAndCertificatesForLoopback();
    void restart_afterAKillKeepsAccountsTokensLinksHostsAndTheCa();
    void authority_signsOnlyForLoopbackNamesAndReplacesAnOlderOne_data();
    void authority_signsOnlyForLoopbackNamesAndReplacesAnOlderOne();
    void damagedCertificates_areIssuedAgainOrStopTheStart_data();
    void damagedCertificates_areIssuedAgainOrStopTheStart();
    void busyFolderOrPort_stopsTheStart_data();
    void busyFolderOrPort_stopsTheStart();
    void badArguments_areUsageErrors_data();
    void badArguments_areUsageErrors();

private:
    QString dataFile(const char *name) const { return QDir(m_data).filePath(QLatin1String(name)); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_data;
};

void RefsvcLifecycleTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_data = m_dir->filePath(QStringLiteral("data/nested"));
}

void RefsvcLifecycleTest::firstStart_createsAPrivateDataFolderAndCertificatesForLoopback()
{
    ServiceProcess service(m_data);
    QVERIFY2(service.start(), service.errors().constData());
    // The owner, group and other bits; Qt's "user" bits repeat those of whichever class the caller is in.
    const auto mode = [&](const char *name) { return QFile::permissions(dataFile(name)) & QFile::Permissions(0x7077); };
    QCOMPARE(mode(""), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const char *secret : {"ca.key", "server.key", "refsvc.sqlite3"})
        QCOMPARE(mode(secret), QFile::ReadOwner | QFile::WriteOwner);

    // A client that trusts only the new CA reaches the service under each loopback name.
    QStringList hosts{QStringLiteral("127.0.0.1"), QStringLiteral("localhost")};
    if (!service.output().contains("not listening on [::1]"))
        hosts.append(QStringLiteral("[::1]"));
    for (const QString &host : hosts)
        QVERIFY2(
            Client(service.caFile()).get(QStringLiteral("https://%1:%2/").arg(host).arg(service.updatePort())).status ==
                200,
            qPrintable(host));
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::restart_afterAKillKeepsAccountsTokensLinksHostsAndTheCa()
{
    const QString email = QStringLiteral("restart@example.org");
    const QString password = QStringLiteral("restart-password");
    ServiceProcess service(m_data);
    QVERIFY2(service.start(), service.errors().constData());
    Client client(service.caFile());
    const QByteArray token = client.signIn(service.apiUrl(), email, password);
    const QString link = client.registerHost(service.updateUrl(), QStringLiteral("Survivor"));
    QCOMPARE(client.post(service.apiUrl() + "/secure/api/save_dns", jsonBody({{"Key", link}}), token).status, 200);
    QCOMPARE(client.get(service.updateUrl() + link).status, 200);
    const QByteArray authority = readFile(service.caFile());
    // Killed the hard way, the service keeps what it answered, and its stale lock does not stop the next start.
    service.kill();

    QVERIFY2(service.start(), service.errors().constData());
    QCOMPARE(readFile(service.caFile()), authority);
    Client again(service.caFile());
    QCOMPARE(again.post(service.apiUrl() + "/secure/api/get_dns", "{}", token).body, '"' + link.toLatin1() + '"');
    const HttpReply signIn = again.post(service.apiUrl() + "/login", credentials(email, password));
    QCOMPARE(signIn.status, 200);
    QVERIFY(!signIn.object().contains(QStringLiteral("created")));
    QVERIFY(QString::fromUtf8(again.get(service.updateUrl() + "/").body)
                .contains(QLatin1String("<tr><td>Survivor</td><td>127.0.0.1</td>")));
    QCOMPARE(again.get(service.updateUrl() + link).status, 200);
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::authority_signsOnlyForLoopbackNamesAndReplacesAnOlderOne_data()
{
    QTest::addColumn<QString>("name"); // a subject alternative name outside loopback
    QTest::addColumn<bool>("older");   // the folder held a CA of an older version, without name constraints
    QTest::newRow("another site") << QStringLiteral("DNS:example.org") << false;
    QTest::newRow("another address") << QStringLiteral("IP:192.0.2.1") << false;
    QTest::newRow("another site, older CA replaced") << QStringLiteral("DNS:example.org") << true;
}

void RefsvcLifecycleTest::authority_signsOnlyForLoopbackNamesAndReplacesAnOlderOne()
{
    QFETCH(QString, name);
    QFETCH(bool, older);
    const QStringList init{"--init", "--data-dir", m_data};
    QCOMPARE(runService(init).status, 0);
    if (older) {
        const Finished made =
            openssl(QStringList{"req", "-x509", "-keyout", dataFile("ca.key"), "-out", dataFile("ca.pem"), "-subj",
                                "/CN=older CA", "-addext", "basicConstraints=critical,CA:TRUE,pathlen:0"} +
                    kNewKey);
        QVERIFY2(made.status == 0, made.out.constData());
        const QByteArray authority = readFile(dataFile("ca.pem"));
        const QByteArray key = readFile(dataFile("ca.key"));
        const Finished replaced = runService(init);
        QCOMPARE(replaced.status, 0);
        QVERIFY(replaced.err.contains("older version"));
        QVERIFY(readFile(dataFile("ca.pem")) != authority && readFile(dataFile("ca.key")) != key);
    }
    QCOMPARE(openssl({"verify", "-CAfile", dataFile("ca.pem"), dataFile("server.pem")}).status, 0);
    // A certificate signed with a copy of ca.key, outside the service.
    const QString other = m_dir->filePath(QStringLiteral("other.pem"));
    const Finished made = openssl(QStringList{"req", "-x509", "-CA", dataFile("ca.pem"), "-CAkey", dataFile("ca.key"),
                                              "-keyout", m_dir->filePath(QStringLiteral("other.key")), "-subj",
                                              "/CN=other", "-addext", "subjectAltName=" + name, "-out", other} +
                                  kNewKey);
    QVERIFY2(made.status == 0, made.out.constData());
    const Finished verified = openssl({"verify", "-CAfile", dataFile("ca.pem"), other});
    QVERIFY2(verified.status != 0 && verified.out.contains("permitted subtree violation"), verified.out.constData());
}

void RefsvcLifecycleTest::damagedCertificates_areIssuedAgainOrStopTheStart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // empty: remove the file
    QTest::addColumn<bool>("starts");
    QTest::newRow("server certificate missing") << QStringLiteral("server.pem") << QByteArray() << true;
    QTest::newRow("CA key missing") << QStringLiteral("ca.key") << QByteArray() << false;
    QTest::newRow("CA certificate garbage") << QStringLiteral("ca.pem") << QByteArray("not a certificate\n") << false;
    QTest::newRow("key of another CA") << QStringLiteral("ca.key") << QByteArray("elsewhere") << false;
}

void RefsvcLifecycleTest::damagedCertificates_areIssuedAgainOrStopTheStart()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(bool, starts);
    QCOMPARE(runService({"--init", "--data-dir", m_data}).status, 0);
    if (content == "elsewhere") {
        // A key from another data folder: valid, but not this CA's.
        const QString elsewhere = m_dir->filePath(QStringLiteral("elsewhere"));
        QCOMPARE(runService({"--init", "--data-dir", elsewhere}).status, 0);
        content = readFile(QDir(elsewhere).filePath(file));
    }
    QFile out(QDir(m_data).filePath(file));
    QVERIFY(content.isEmpty() ? out.remove() : out.open(QIODevice::WriteOnly) && out.write(content) > 0);
    out.close();
    const QByteArray authority = readFile(dataFile("ca.pem"));

    // A missing server certificate is issued again by the same CA; a damaged CA is left alone.
    ServiceProcess service(m_data);
    QCOMPARE(service.start(), starts);
    QCOMPARE(readFile(dataFile("ca.pem")), authority);
    if (!starts) {
        QCOMPARE(service.exitCode(), 1);
        QVERIFY2(service.errors().contains("ca."), service.errors().constData());
        return;
    }
    QCOMPARE(Client(service.caFile()).get(service.updateUrl() + "/").status, 200);
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::busyFolderOrPort_stopsTheStart_data()
{
    QTest::addColumn<bool>("sameFolder"); // else the same update port
    QTest::newRow("folder of a running service") << true;
    QTest::newRow("port in use") << false;
}

void RefsvcLifecycleTest::busyFolderOrPort_stopsTheStart()
{
    QFETCH(bool, sameFolder);
    ServiceProcess first(m_data);
    QVERIFY(first.start());
    ServiceProcess second(sameFolder ? m_data : m_dir->filePath(QStringLiteral("other")));
    QVERIFY(!second.start(0, sameFolder ? 0 : first.updatePort()));
    QCOMPARE(second.exitCode(), 1);
    const QString message = sameFolder ? QStringLiteral("another vennacott-refsvc")
                                       : QStringLiteral("cannot listen on 127.0.0.1:%1").arg(first.updatePort());
    QVERIFY2(second.errors().contains(message.toUtf8()), second.errors().constData());
    // Preparing the folder of a running service is no error: its certificates exist.
    QCOMPARE(runService({"--init", "--data-dir", m_data}).status, 0);
    QCOMPARE(Client(first.caFile()).get(first.updateUrl() + "/").status, 200);
    QVERIFY(first.stop());
}

void RefsvcLifecycleTest::badArguments_areUsageErrors_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::newRow("port out of range") << "--api-port 70000";
    QTest::newRow("one port for both") << "--api-port 9000 --update-port 9000";
    QTest::newRow("stray argument") << "serve";
    QTest::newRow("no connection allowed") << "--max-connections 0";
    QTest::newRow("sign-in limit out of range") << "--sign-in-failures 1001";
    QTest::newRow("lockout not a number") << "--sign-in-lockout soon";
}

void RefsvcLifecycleTest::badArguments_areUsageErrors()
{
    QFETCH(QString, arguments);
    QCOMPARE(runService(arguments.split(u' ') + QStringList{"--data-dir", m_data}).status, 2);
    QVERIFY(!QFile::exists(m_data));
}

QTEST_GUILESS_MAIN(RefsvcLifecycleTest)
#include "tst_refsvc_lifecycle.moc"
