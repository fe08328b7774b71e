// The real clients, built for the local reference service, keeping a host's record current in that service:
// vennacott-ddnsctl run without a display, which also signs in, registers and reports, and the window's client.
#include "refsvcharness.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using namespace vennacott::refsvc::test;

class EndToEndTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { QVERIFY(m_service->stop()); }

    void clients_signInRegisterAndKeepTheHostCurrent();

private:
    // Waits until the service has accepted `updates` updates of `host` in all and `client` has printed two replies,
    // each after the UTC time, that give its loopback address.
    bool waitForUpdates(const QString &host, int updates, const Program &client)
    {
        static const QRegularExpression reply(QStringLiteral(
            "(^|\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 \\{[^\n]*\"ip\":\"127\\.0\\.0\\.1\""));
        // The first update comes at most 10 seconds after the start and the next 10 seconds later; this allows for
        // a slow machine.
        return QTest::qWaitFor(
            [&] {
                return m_service->recordedUpdates(host) >= updates &&
                       QString::fromUtf8(client.output()).count(reply) >= 2;
            },
            120'000);
    }
    Finished ctl(const QStringList &arguments, const QByteArray &input = {})
    {
        const Finished result = runToEnd(QStringLiteral(VENNACOTT_DDNSCTL_BINARY), arguments, input, m_environment);
        m_printed += result.out + result.err;
        return result;
    }
    // Standard output of `status --json` is the one object and its line end, nothing else.
    QJsonObject status()
    {
        const Finished status = ctl({QStringLiteral("status"), QStringLiteral("--json")});
        return status.status == 0 && status.out.count('\n') == 1 ? QJsonDocument::fromJson(status.out).object()
                                                                 : QJsonObject();
    }

    QTemporaryDir m_serviceDir;
    std::unique_ptr<ServiceProcess> m_service;
    QTemporaryDir m_home; // the folders of the user of the clients
    QProcessEnvironment m_environment;
    QByteArray m_printed; // everything a client printed, searched for secrets
};

void EndToEndTest::initTestCase()
{
    // The clients trust the CA they were built with, so this service signs with that CA, on state of its own. It
    // does not start when another service (scripts/run) holds the ports the clients were built for.
    m_service = std::make_unique<ServiceProcess>(m_serviceDir.path());
    for (const QString file : {"/ca.pem", "/ca.key"})
        QVERIFY(QFile::copy(VENNACOTT_E2E_CA_DIR + file, m_serviceDir.path() + file));
    QVERIFY2(m_service->start(VENNACOTT_E2E_API_PORT, VENNACOTT_E2E_UPDATE_PORT), m_service->errors().constData());
    m_environment = QProcessEnvironment::systemEnvironment();
    for (const char *display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        m_environment.remove(QLatin1String(display));
    for (const QString folder : {"CONFIG", "STATE", "DATA"})
        m_environment.insert("XDG_" + folder + "_HOME", m_home.filePath(folder.toLower()));
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
}

// vennacott-ddnsctl, run without a display, signs in, registers and keeps the host current; then the window's client
// keeps it current on the settings the command line left.
void EndToEndTest::clients_signInRegisterAndKeepTheHostCurrent()
{
    const QString id = QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString name = QStringLiteral("e2e-") + id;
    const QByteArray password = "e2e-password-" + id.toUtf8();
    const Finished login =
        ctl({QStringLiteral("login"), QStringLiteral("e2e-%1@example.org").arg(id)}, password + '\n');
    QVERIFY2(login.status == 0, login.err.constData());
    const Finished registration = ctl({QStringLiteral("register"), name});
    QVERIFY2(registration.status == 0, registration.err.constData());
    const QString fullName = name + QStringLiteral(VENNACOTT_E2E_ZONE_SUFFIX);
    QCOMPARE(registration.out.trimmed().split('\n').constLast(), fullName.toUtf8());

    Program run(QStringLiteral(VENNACOTT_DDNSCTL_BINARY), m_environment);
    QVERIFY(run.start({QStringLiteral("run")}));
    QVERIFY2(waitForUpdates(name, 2, run), run.output().constData());
    const QJsonObject shown = status();
    QCOMPARE(shown.value("full_name"), QJsonValue(fullName));
    QCOMPARE(shown.value("updater_running"), QJsonValue(true));
    QCOMPARE(shown["last_update"]["result"], QJsonValue("updated"));
    QCOMPARE(shown["last_update"]["address"], QJsonValue("127.0.0.1"));
    QVERIFY(run.stop());
    m_printed += run.output() + run.errors();
    QCOMPARE(status().value("updater_running"), QJsonValue(false));

    QProcessEnvironment offscreen = m_environment;
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    Program window(QStringLiteral(VENNACOTT_DDNS_BINARY), offscreen);
    QVERIFY(window.start({}));
    QVERIFY2(waitForUpdates(name, 4, window), window.output().constData());
    // Each update's URL line names the host and hides the update key.
    const QString urlLine = QStringLiteral(VENNACOTT_E2E_UPDATE_URL "/update/%1/[redacted]").arg(name);
    QVERIFY2(window.outputLines().count(urlLine) >= 2, window.output().constData());
    QVERIFY(window.stop());
    m_printed += window.output() + window.errors();

    // Reset forgets the host and keeps the sign-in; logout forgets the sign-in too.
    const QSettings settings(m_home.filePath(QStringLiteral("config/vennacott/vennacott-ddns.conf")),
                             QSettings::IniFormat);
    const QByteArray token = settings.value(QStringLiteral("token")).toByteArray();
    const QByteArray key = settings.value(QStringLiteral("dnsLink")).toString().section(u'/', -1).toUtf8();
    QVERIFY(!token.isEmpty() && !key.isEmpty());
    QCOMPARE(ctl({QStringLiteral("reset")}).status, 0);
    QCOMPARE(status().value("hostname"), QJsonValue(QJsonValue::Null));
    QCOMPARE(status().value("signed_in"), QJsonValue(true));
    QCOMPARE(ctl({QStringLiteral("logout")}).status, 0);
    QCOMPARE(status().value("signed_in"), QJsonValue(false));

    // No secret, as the settings held it, in anything a client printed.
    for (const QByteArray &secret : {password, token, key})
        QVERIFY2(!m_printed.contains(secret), m_printed.constData());
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
