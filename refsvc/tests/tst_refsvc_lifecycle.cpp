// The reference service as a program: its data folder, certificates and restart.
#include "refsvcharness.h"

#include <QDir>
#include <QTest>

using namespace vennacott::refsvc::test;

class RefsvcLifecycleTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(), m_data = m_dir->filePath(QStringLiteral("data/nested")); }

    void service_holdsAPrivateFolderAndItsPortsAndKeepsItsStateAcrossAKill();
    void authority_signsOnlyForLoopbackNamesAndReplacesAnOlderOne_data();
    void authority_signsOnlyForLoopbackNamesAndReplacesAnOlderOne();
    void damagedCertificates_areIssuedAgainOrStopTheStart_data();
    void damagedCertificates_areIssuedAgainOrStopTheStart();

private:
    QString dataFile(const QString &name) const { return m_data + u'/' + name; }
    QByteArray read(const QString &name) const
    {
        QFile file(dataFile(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    Finished prepare() const { return runService({"--init", "--data-dir", m_data}); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_data;
};

void RefsvcLifecycleTest::service_holdsAPrivateFolderAndItsPortsAndKeepsItsStateAcrossAKill()
{
    ServiceProcess service(m_data);
    QVERIFY2(service.start(), service.errors().constData());
    // The owner, group and other bits; Qt's "user" bits repeat those of whichever class the caller is in.
    const auto mode = [&](const QString &name) { return QFile::permissions(dataFile(name)) & 0x7077; };
    QCOMPARE(mode(""), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    for (const QString secret : {"ca.key", "server.key", "refsvc.sqlite3"})
        QCOMPARE(mode(secret), QFile::ReadOwner | QFile::WriteOwner);
    // A client that trusts only the new CA reaches the service under each loopback name.
    QStringList hosts{"127.0.0.1", "localhost"};
    if (!service.output().contains("not listening on [::1]"))
        hosts.append(QStringLiteral("[::1]"));
    for (const QString &host : hosts)
        QVERIFY2(
            Client(service.caFile()).get(QStringLiteral("https://%1:%2/").arg(host).arg(service.updatePort())).status ==
                200,
            qPrintable(host));
    // Another service on the same folder, or on a port in use, does not start; preparing the folder of a running
    // service is no error.
    QCOMPARE(runService({"--data-dir", m_data, "--api-port", "0", "--update-port", "0"}).status, 1);
    const QString port = QString::number(service.updatePort());
    QCOMPARE(runService({"--data-dir", m_dir->filePath("other"), "--api-port", "0", "--update-port", port}).status, 1);
    QCOMPARE(prepare().status, 0);

    // Killed the hard way, the service keeps what it answered, and its stale lock does not stop the next start.
    // (That it keeps its CA and serves updates again, tst_updater's restart shows.)
    const QString api = service.apiUrl(), update = service.updateUrl();
    const QByteArray signIn = credentials(QStringLiteral("restart@example.org"), QStringLiteral("restart-password"));
    Client client(service.caFile());
    const QByteArray token = client.post(api + "/login", signIn).object().value("token").toString().toLatin1();
    const QString link = client.registerHost(update, QStringLiteral("Survivor"));
    QCOMPARE(client.post(api + "/secure/api/save_dns", jsonBody({{"Key", link}}), token).status, 200);
    QCOMPARE(client.get(update + link).status, 200);
    service.kill();
    QVERIFY2(service.start(service.apiPort(), service.updatePort()), service.errors().constData());
    QCOMPARE(client.post(api + "/secure/api/get_dns", "{}", token).body, '"' + link.toLatin1() + '"');
    QVERIFY(!client.post(api + "/login", signIn).object().contains("created"));
    QVERIFY(client.get(update + "/").body.contains("<tr><td>Survivor</td><td>127.0.0.1</td>"));
    QVERIFY(service.stop());
}

void RefsvcLifecycleTest::authority_signsOnlyForLoopbackNamesAndReplacesAnOlderOne_data()
{
    QTest::addColumn<QString>("name"); // a subject alternative name outside loopback
    QTest::addColumn<bool>("older");   // the folder held a CA of an older version, without name constraints
    QTest::newRow("another address") << QStringLiteral("IP:192.0.2.1") << false;
    QTest::newRow("another site, older CA replaced") << QStringLiteral("DNS:example.org") << true;
}

void RefsvcLifecycleTest::authority_signsOnlyForLoopbackNamesAndReplacesAnOlderOne()
{
    QFETCH(QString, name);
    QFETCH(bool, older);
    // The openssl command line, as someone holding a copy of the data folder would use it.
    const auto openssl = [](const QStringList &arguments) { return runToEnd(QStringLiteral("openssl"), arguments); };
    const auto newCertificate = [&](const QStringList &arguments) {
        const QStringList req{"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
        return openssl(req + arguments).status == 0;
    };
    QCOMPARE(prepare().status, 0);
    if (older) {
        QVERIFY(newCertificate({"-keyout", dataFile("ca.key"), "-out", dataFile("ca.pem"), "-subj", "/CN=old",
                                "-addext", "basicConstraints=critical,CA:TRUE"}));
        const QByteArray authority = read("ca.pem") + read("ca.key");
        const Finished replaced = prepare();
        QVERIFY2(replaced.status == 0 && replaced.err.contains("older version"), replaced.err.constData());
        QVERIFY(read("ca.pem") + read("ca.key") != authority);
    }
    QCOMPARE(openssl({"verify", "-CAfile", dataFile("ca.pem"), dataFile("server.pem")}).status, 0);
    // A certificate signed with a copy of ca.key, outside the service.
    const QString other = m_dir->filePath(QStringLiteral("other.pem"));
    QVERIFY(newCertificate({"-CA", dataFile("ca.pem"), "-CAkey", dataFile("ca.key"), "-keyout", other + ".key", "-subj",
                            "/CN=other", "-addext", "subjectAltName=" + name, "-out", other}));
    const Finished verified = openssl({"verify", "-CAfile", dataFile("ca.pem"), other});
    QVERIFY2(verified.status != 0 && verified.err.contains("permitted subtree violation"), verified.err.constData());
}

void RefsvcLifecycleTest::damagedCertificates_areIssuedAgainOrStopTheStart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("content"); // empty: remove the file; else the data file whose content it gets
    QTest::addColumn<bool>("starts");
    QTest::newRow("server certificate missing") << QStringLiteral("server.pem") << QString() << true;
    QTest::newRow("CA key missing") << QStringLiteral("ca.key") << QString() << false;
    QTest::newRow("CA key not the CA's") << QStringLiteral("ca.key") << QStringLiteral("server.key") << false;
}

void RefsvcLifecycleTest::damagedCertificates_areIssuedAgainOrStopTheStart()
{
    QFETCH(QString, file);
    QFETCH(QString, content);
    QFETCH(bool, starts);
    QCOMPARE(prepare().status, 0);
    QFile out(dataFile(file));
    QVERIFY(content.isEmpty() ? out.remove() : out.open(QIODevice::WriteOnly) && out.write(read(content)) > 0);
    out.close();
    const QByteArray authority = read("ca.pem");
    // A missing server certificate is issued again by the same CA; a damaged CA is left alone.
    ServiceProcess service(m_data);
    QCOMPARE(service.start(), starts);
    QCOMPARE(read("ca.pem"), authority);
    if (starts)
        QCOMPARE(Client(service.caFile()).get(service.updateUrl() + "/").status, 200);
    else
        QVERIFY2(service.exitCode() == 1 && service.errors().contains("ca."), service.errors().constData());
}

QTEST_GUILESS_MAIN(RefsvcLifecycleTest)
#include "tst_refsvc_lifecycle.moc"
