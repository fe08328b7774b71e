// The real client, built for the local reference service, keeping a host's record current in that service.
#include "refsvcharness.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>

using namespace vennacott::refsvc::test;

namespace {

// The client's first update comes 10 seconds after launch and the next one 10 seconds later; this allows
// for a slow machine without waiting for ever.
constexpr int kTwoUpdatesTimeoutMs = 120'000;

qsizetype countMatching(const QStringList &lines, const QRegularExpression &pattern)
{
    return std::count_if(lines.cbegin(), lines.cend(),
                         [&](const QString &line) { return pattern.match(line).hasMatch(); });
}

} // namespace

class EndToEndTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void client_keepsItsHostCurrentInTheService();
};

void EndToEndTest::client_keepsItsHostCurrentInTheService()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The client trusts the CA it was built with, so this test's service signs with that CA, on state of its own.
    const QString data = dir.filePath(QStringLiteral("service"));
    QVERIFY(QDir().mkpath(data));
    for (const QString &file : {QStringLiteral("/ca.pem"), QStringLiteral("/ca.key")})
        QVERIFY2(QFile::copy(QStringLiteral(VENNACOTT_E2E_CA_DIR) + file, data + file), "no reference service CA");
    ServiceProcess service(data);
    // Fails when another reference service (scripts/run) holds the ports the client is built for.
    QVERIFY2(service.start(VENNACOTT_E2E_API_PORT, VENNACOTT_E2E_UPDATE_PORT), service.errors().constData());

    const QString name = QStringLiteral("e2e-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString link = Client(service.caFile()).registerHost(service.updateUrl(), name);
    QVERIFY(!link.isEmpty());
    // The client's settings hold the granted link, as they do after a registration in its window.
    QSettings settings(dir.filePath(QStringLiteral("config/vennacott/vennacott-ddns.conf")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("dnsLink"), link);
    settings.sync();
    QCOMPARE(settings.status(), QSettings::NoError);
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    client.setProcessEnvironment(environment);
    QByteArray clientOutput;
    connect(&client, &QProcess::readyReadStandardOutput, this, [&] { clientOutput += client.readAllStandardOutput(); });
    client.start(QStringLiteral(VENNACOTT_DDNS_BINARY), {});
    QVERIFY(client.waitForStarted(kStepTimeoutMs));

    // The service records two updates, and the client prints each update's URL and the reply with the time.
    const QRegularExpression recorded(QStringLiteral(" update 127\\.0\\.0\\.1 GET /update/%1/<key> 200$").arg(name));
    // The update key is a secret: the line names the host and hides the key.
    const QRegularExpression urlLine(QStringLiteral("^%1$").arg(QRegularExpression::escape(
        QStringLiteral(VENNACOTT_E2E_UPDATE_URL) + QStringLiteral("/update/%1/[redacted]").arg(name))));
    const QRegularExpression replyLine(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 \\{.*\"ip\":\"127\\.0\\.0\\.1\".*\\}$"));
    const auto clientLines = [&] { return QString::fromUtf8(clientOutput).split(QLatin1Char('\n')); };
    QTRY_VERIFY_WITH_TIMEOUT(countMatching(service.outputLines(), recorded) >= 2 &&
                                 countMatching(clientLines(), replyLine) >= 2,
                             kTwoUpdatesTimeoutMs);
    QVERIFY2(countMatching(clientLines(), urlLine) >= 2, clientOutput.constData());
    QVERIFY(!clientOutput.contains(link.section(QLatin1Char('/'), -1).toUtf8()));

    ::kill(static_cast<pid_t>(client.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QProcess::NotRunning, kStepTimeoutMs);
    QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    QCOMPARE(client.exitCode(), 0);
    // The service's status page shows the host at the client's address.
    const QString page = QString::fromUtf8(Client(service.caFile()).get(service.updateUrl() + "/").body);
    const QRegularExpression row(
        QStringLiteral("<tr><td>%1</td><td>127\\.0\\.0\\.1</td><td>[^<]+</td><td>(\\d+)</td>").arg(name));
    QVERIFY2(row.match(page).captured(1).toInt() >= 2, qPrintable(page));
    QVERIFY(service.stop());
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
