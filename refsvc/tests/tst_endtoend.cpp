// The real client, built for the local reference service, keeping a host's record current in that service.
#include "refsvcharness.h"

#include <QSettings>
#include <QTest>
#include <QUuid>

using namespace vennacott::refsvc::test;

class EndToEndTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void client_keepsItsHostCurrentInTheService();
};

void EndToEndTest::client_keepsItsHostCurrentInTheService()
{
    EndToEnd e2e;
    QVERIFY2(e2e.start(VENNACOTT_E2E_CA_DIR, VENNACOTT_E2E_API_PORT, VENNACOTT_E2E_UPDATE_PORT),
             e2e.service().errors().constData());
    const QString name = QStringLiteral("e2e-") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString link = Client(e2e.service().caFile()).registerHost(e2e.service().updateUrl(), name);
    QVERIFY(!link.isEmpty());
    // The client's settings hold the granted link, as they do after a registration in its window.
    QSettings settings(e2e.settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("dnsLink"), link);
    settings.sync();

    Program client(QStringLiteral(VENNACOTT_DDNS_BINARY), e2e.environment());
    QVERIFY(client.start({}));
    QVERIFY2(e2e.waitForTwoUpdates(name, client), client.output().constData());
    // Each update's URL line names the host and hides the update key, a secret.
    const QString urlLine = QStringLiteral(VENNACOTT_E2E_UPDATE_URL "/update/%1/[redacted]").arg(name);
    QVERIFY2(client.outputLines().count(urlLine) >= 2, client.output().constData());
    QVERIFY(!client.output().contains(link.section(u'/', -1).toUtf8()));
    QVERIFY(client.stop());
    QVERIFY(e2e.service().stop());
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
