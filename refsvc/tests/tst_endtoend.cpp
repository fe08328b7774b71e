// The real command-line client, built for the local reference service and run without a display, signs in, registers,
// keeps the host current and reports (the window walks the same path in tst_viewcontroller).
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
    void ddnsctl_signsInRegistersAndKeepsTheHostCurrent()
    {
        // The client trusts the CA it was built with, so this service signs with that CA, on state of its own. It
        // does not start when another service (scripts/run) holds the ports the client was built for.
        QTemporaryDir serviceDir, home;
        ServiceProcess service(serviceDir.path());
        for (const QString file : {"/ca.pem", "/ca.key"})
            QVERIFY(QFile::copy(VENNACOTT_E2E_CA_DIR + file, serviceDir.path() + file));
        QVERIFY2(service.start(VENNACOTT_E2E_API_PORT, VENNACOTT_E2E_UPDATE_PORT), service.errors().constData());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(display));
        for (const QString folder : {"CONFIG", "STATE", "DATA"})
            environment.insert("XDG_" + folder + "_HOME", home.filePath(folder.toLower()));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        QByteArray printed; // everything the client printed, searched for secrets
        const auto ctl = [&](const QStringList &arguments, const QByteArray &input = {}) {
            const Finished result = runToEnd(VENNACOTT_DDNSCTL_BINARY, arguments, input, environment);
            printed += result.out + result.err;
            return result;
        };
        // Standard output of `status --json` is the one object and its line end, nothing else.
        const auto status = [&] {
            const Finished status = ctl({QStringLiteral("status"), QStringLiteral("--json")});
            return status.status == 0 && status.out.count('\n') == 1 ? QJsonDocument::fromJson(status.out).object()
                                                                     : QJsonObject();
        };

        const QString id = QUuid::createUuid().toString(QUuid::Id128).left(8), name = "e2e-" + id;
        const QString fullName = name + VENNACOTT_E2E_ZONE_SUFFIX;
        const QByteArray password = "e2e-password-" + id.toUtf8();
        const Finished login = ctl({"login", QStringLiteral("e2e-%1@example.org").arg(id)}, password + '\n');
        QVERIFY2(login.status == 0, login.err.constData());
        const Finished registration = ctl({QStringLiteral("register"), name});
        QVERIFY2(registration.status == 0, registration.err.constData());
        QCOMPARE(registration.out.trimmed().split('\n').constLast(), fullName.toUtf8());

        // Two updates (the second 10 s after the first), each printed as its URL line with the update key hidden
        // and the reply after the UTC time, giving the loopback address.
        Program run(VENNACOTT_DDNSCTL_BINARY, environment);
        QVERIFY(run.start({QStringLiteral("run")}));
        const QString urlLine = QStringLiteral(VENNACOTT_E2E_UPDATE_URL "/update/%1/[redacted]\n").arg(name);
        static const QRegularExpression reply(QStringLiteral(
            "(^|\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 \\{[^\n]*\"ip\":\"127\\.0\\.0\\.1\""));
        const auto updated = [&] {
            const QString out = QString::fromUtf8(run.output());
            return service.recordedUpdates(name) >= 2 && out.count(reply) >= 2 && out.count(urlLine) >= 2;
        };
        QVERIFY2(QTest::qWaitFor(updated, 120'000), run.output().constData());
        const QJsonObject shown = status();
        QCOMPARE(shown.value("full_name"), QJsonValue(fullName));
        QCOMPARE(shown.value("updater_running"), QJsonValue(true));
        QCOMPARE(shown["last_update"]["result"], QJsonValue("updated"));
        QCOMPARE(shown["last_update"]["address"], QJsonValue("127.0.0.1"));
        QVERIFY(run.stop());
        printed += run.output() + run.errors();
        QCOMPARE(status().value("updater_running"), QJsonValue(false));

        // No secret, as the settings hold it, in anything the client printed. (What reset and logout leave,
        // tst_ctl checks.)
        const QSettings settings(home.filePath("config/vennacott/vennacott-ddns.conf"), QSettings::IniFormat);
        const QByteArray token = settings.value(QStringLiteral("token")).toByteArray();
        const QByteArray key = settings.value(QStringLiteral("dnsLink")).toString().section(u'/', -1).toUtf8();
        QVERIFY(!token.isEmpty() && !key.isEmpty());
        for (const QByteArray &secret : {password, token, key})
            QVERIFY2(!printed.contains(secret), printed.constData());
        QVERIFY(service.stop());
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
