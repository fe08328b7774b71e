// The real vennacott-ddnsctl, built for the local reference service, run without a display: it signs in,
// registers a host, keeps it current in the service, reports it, and forgets it again.
#include "refsvcharness.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>
#include <QUuid>

using namespace vennacott::refsvc::test;

class CtlEndToEndTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ctl_signsInRegistersKeepsTheHostCurrentAndForgetsIt();

private:
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
        const QJsonDocument document = QJsonDocument::fromJson(status.out);
        return status.status == 0 && status.out.count('\n') == 1 ? document.object() : QJsonObject();
    }

    QProcessEnvironment m_environment;
    QByteArray m_printed; // everything the program printed, searched for secrets at the end
};

void CtlEndToEndTest::ctl_signsInRegistersKeepsTheHostCurrentAndForgetsIt()
{
    EndToEnd e2e;
    QVERIFY2(e2e.start(VENNACOTT_E2E_CA_DIR, VENNACOTT_E2E_API_PORT, VENNACOTT_E2E_UPDATE_PORT),
             e2e.service().errors().constData());
    m_environment = e2e.environment();
    // The headless program must not need Qt's offscreen display either.
    m_environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const QString id = QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString name = QStringLiteral("ctl-") + id;
    const QByteArray password = "e2e-password-" + id.toUtf8();
    const Finished login =
        ctl({QStringLiteral("login"), QStringLiteral("ctl-%1@example.org").arg(id)}, password + '\n');
    QVERIFY2(login.status == 0, login.err.constData());
    const Finished registration = ctl({QStringLiteral("register"), name});
    QVERIFY2(registration.status == 0, registration.err.constData());
    const QString fullName = name + QStringLiteral(VENNACOTT_E2E_ZONE_SUFFIX);
    QCOMPARE(registration.out.trimmed().split('\n').constLast(), fullName.toUtf8());

    Program run(QStringLiteral(VENNACOTT_DDNSCTL_BINARY), m_environment);
    QVERIFY(run.start({QStringLiteral("run")}));
    QVERIFY2(e2e.waitForTwoUpdates(name, run), run.output().constData());
    // No GUI, D-Bus or SQL library is mapped, even with the network and TLS in use.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(run.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY(!QString::fromUtf8(maps.readAll())
                 .contains(QRegularExpression(QStringLiteral("libQt6(Gui|Widgets|DBus|Sql)"))));

    QJsonObject shown = status();
    QCOMPARE(shown.value("signed_in"), QJsonValue(true));
    QCOMPARE(shown.value("full_name"), QJsonValue(fullName));
    QCOMPARE(shown.value("updater_running"), QJsonValue(true));
    const QJsonObject last = shown.value("last_update").toObject();
    QCOMPARE(last.value("result"), QJsonValue("updated"));
    QCOMPARE(last.value("address"), QJsonValue("127.0.0.1"));
    QVERIFY(QDateTime::fromString(last.value("time").toString(), Qt::ISODate).isValid());
    QVERIFY(run.stop());
    m_printed += run.output() + run.errors();
    QCOMPARE(status().value("updater_running"), QJsonValue(false));

    // The secrets as the settings hold them, before they are forgotten.
    QSettings settings(e2e.settingsFile(), QSettings::IniFormat);
    const QByteArray token = settings.value(QStringLiteral("token")).toByteArray();
    const QByteArray key = settings.value(QStringLiteral("dnsLink")).toString().section(u'/', -1).toUtf8();
    QVERIFY(!token.isEmpty() && !key.isEmpty());
    QCOMPARE(ctl({QStringLiteral("reset")}).status, 0);
    shown = status();
    QCOMPARE(shown.value("signed_in"), QJsonValue(true));
    QCOMPARE(shown.value("hostname"), QJsonValue(QJsonValue::Null));
    QCOMPARE(ctl({QStringLiteral("logout")}).status, 0);
    QCOMPARE(status().value("signed_in"), QJsonValue(false));
    for (const QByteArray &secret : {password, token, key})
        QVERIFY2(!m_printed.contains(secret), m_printed.constData());
    QVERIFY(e2e.service().stop());
}

QTEST_GUILESS_MAIN(CtlEndToEndTest)
#include "tst_ctlendtoend.moc"
