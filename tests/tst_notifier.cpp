// Notifications through a notification service on a bus of the test's own: one for each event worth telling
// and none per tick, the stale one replaced, none while turned off, and no secret in any.
#include "desktoppreferences.h"
#include "desktopsession.h"
#include "endpoints.h"
#include "notifier.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "updater.h"
#include "userdefaults.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

const QString kKey = QStringLiteral("5ecret0f5ecret0f");
const QString kToken = QStringLiteral("t0ken0ft0ken");

struct Notification
{
    uint replaces = 0;
    QString summary;
    QString body;
    uint id = 0; // what the service answered
};

// The service's side of Notify, as desktop notification services answer it: a new id for a new notification,
// the same id for one that replaces another. It has a connection of its own, so every call crosses the bus and
// one of another signature finds no method.
class NotificationService final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<Notification> received;

public Q_SLOTS:
    uint Notify(const QString &, uint replaces, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        received.append({replaces, summary, body, replaces ? replaces : uint(received.size() + 1)});
        return received.constLast().id;
    }
};

} // namespace

class NotifierTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void events_notifyOnceEachAndNeverPerTick();
};

void NotifierTest::events_notifyOnceEachAndNeverPerTick()
{
    DesktopSession session;
    const QString address = session.startBus();
    QVERIFY2(!address.isEmpty(), qPrintable(session.error()));
    NotificationService service;
    QDBusConnection desktop = QDBusConnection::connectToBus(address, QStringLiteral("desktop"));
    QVERIFY(desktop.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(desktop.registerService(QStringLiteral("org.freedesktop.Notifications")));

    UserDefaults::standard().setObject(kToken, keys::kToken);
    UserDefaults::standard().setObject(QStringLiteral("my-computer"), keys::kHostname);
    UserDefaults::standard().setObject(QStringLiteral("/update/my-computer/") + kKey, keys::kDnsLink);
    TestServer server;
    Updater updater(server.baseUrl(), 1h);
    DesktopPreferences preferences(DesktopPreferences::defaultFilePath());
    Notifier notifier(updater, preferences, QDBusConnection::connectToBus(address, QStringLiteral("notifier")));
    const auto tick = [&](const QByteArray &body, int status = 200) {
        server.respondWith(ScriptedResponse::json(body, status));
        QSignalSpy changed(&updater, &Updater::statusChanged);
        updater.tick();
        return changed.wait();
    };

    QVERIFY(tick(R"({"ip":"203.0.113.7"})"));
    QVERIFY(tick(R"({"ip":"203.0.113.8"})")); // the address changed
    // The server's text quotes the key; a notification service may keep its texts.
    for (int failure = 1; failure <= 4; ++failure) // failing from the third on
        QVERIFY(tick(R"({"error":"unknown key )" + kKey.toUtf8() + R"("})", 403));
    QVERIFY(tick(R"({"ip":"203.0.113.8"})")); // working again
    QTRY_COMPARE(service.received.size(), 3);

    preferences.setNotificationsEnabled(false);
    QVERIFY(tick(R"({"ip":"203.0.113.9"})"));
    preferences.setNotificationsEnabled(true);
    QVERIFY(tick(R"({"ip":"203.0.113.10"})"));
    // Calls from one connection arrive in order: the last one is there, so the one turned off was never sent.
    QTRY_COMPARE(service.received.size(), 4);

    const QList<Notification> &notifications = service.received;
    const QString name = QStringLiteral("my-computer") + endpoints::zoneSuffix();
    QCOMPARE(notifications[0].summary, name + QStringLiteral(" now points at 203.0.113.8"));
    QCOMPARE(notifications[0].body, QStringLiteral("The service saw 203.0.113.7 before."));
    QCOMPARE(notifications[1].summary, QStringLiteral("Updates of %1 fail").arg(name));
    QVERIFY2(notifications[1].body.endsWith(QStringLiteral(": unknown key [redacted]")),
             qPrintable(notifications[1].body));
    QCOMPARE(notifications[2].summary, QStringLiteral("Updates of %1 work again").arg(name));
    QCOMPARE(notifications[3].summary, name + QStringLiteral(" now points at 203.0.113.10"));
    // Each replaces the earlier one on its subject instead of piling up.
    const QList<uint> replaced{notifications[0].replaces, notifications[1].replaces, notifications[2].replaces,
                               notifications[3].replaces};
    QCOMPARE(replaced, (QList<uint>{0, 0, notifications[1].id, notifications[0].id}));
    for (const Notification &notification : notifications) {
        for (const QString &secret : {kKey, kToken})
            QVERIFY(!notification.summary.contains(secret) && !notification.body.contains(secret));
    }
    // The choice has a file of its own: the settings keep their three keys.
    QFile settings(UserDefaults::standard().filePath());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QVERIFY(!settings.readAll().contains("notifications"));
}

VENNACOTT_TEST_MAIN(NotifierTest, QCoreApplication)
#include "tst_notifier.moc"
