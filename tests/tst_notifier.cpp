// Notifications on a desktop of the test's own (Xvfb, a private session bus, dunst, dbus-monitor): one for each event
// worth telling and none per tick, the stale one replaced, none while turned off, and no secret in any.
#include "core.h"
#include "desktoppreferences.h"
#include "desktopsession.h"
#include "endpoints.h"
#include "notifier.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "updater.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

const QString kKey = QStringLiteral("5ecret0f5ecret0f");
const QString kToken = QStringLiteral("t0ken0ft0ken");

// The Notify calls in dbus-monitor's output: application, id replaced, icon, summary and body.
QList<QStringList> notificationsIn(const QStringList &lines)
{
    static const QRegularExpression argument(QStringLiteral(R"re(^\s+(?:string|uint32) "?(.*?)"?$)re"));
    QList<QStringList> found;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!lines[i].startsWith(QLatin1String("method call")) || !lines[i].endsWith(QLatin1String("member=Notify")))
            continue;
        QStringList values;
        for (qsizetype j = i + 1; j < lines.size() && values.size() < 5; ++j)
            values.append(argument.match(lines[j]).captured(1));
        found.append(values);
    }
    return found;
}

} // namespace

class NotifierTest final : public QObject
{
    Q_OBJECT
public:
    explicit NotifierTest(DesktopSession &session)
        : m_session(session)
    {}

private Q_SLOTS:
    void events_notifyOnceEachAndNeverPerTick()
    {
        QVERIFY2(m_session.error().isEmpty(), qPrintable(m_session.error()));
        QVERIFY2(m_session.start(QStringLiteral("dunst")), qPrintable(m_session.error()));
        QTRY_VERIFY2_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                      QStringLiteral("org.freedesktop.Notifications")),
                                  "dunst did not take the notification service's name", 10'000);
        const SessionProgram *monitor = m_session.start(
            QStringLiteral("dbus-monitor"), {"type='method_call',interface='org.freedesktop.Notifications'"});
        QVERIFY2(monitor && monitor->waitForLine(QStringLiteral("signal ")), "dbus-monitor did not start");
        const auto sent = [monitor] { return notificationsIn(monitor->lines); };

        TestServer server;
        Core core(Core::Options{{}, 10ms, 1h, server.baseUrl()});
        QVERIFY(core.settings().setToken(kToken));
        QVERIFY(core.settings().setHost(QStringLiteral("my-computer"), QStringLiteral("/update/my-computer/") + kKey));
        DesktopPreferences preferences(DesktopPreferences::defaultFilePath());
        Notifier notifier(core, preferences);
        const auto tick = [&](const QByteArray &body, int status = 200) {
            server.respondWith(ScriptedResponse::json(body, status));
            QSignalSpy changed(&core.updater(), &Updater::statusChanged);
            return core.updater().tick(), changed.wait();
        };

        QVERIFY(tick(R"({"ip":"203.0.113.7"})"));
        QVERIFY(tick(R"({"ip":"203.0.113.8"})")); // the address changed
        // The server's text quotes the key and has markup; a notification service may keep its texts.
        for (int failure = 1; failure <= 4; ++failure) // failing from the third on
            QVERIFY(tick(R"({"error":"<b>unknown</b> key )" + kKey.toUtf8() + R"( & more"})", 403));
        QVERIFY(tick(R"({"ip":"203.0.113.8"})")); // working again
        QTRY_COMPARE(sent().size(), 3);

        preferences.setNotificationsEnabled(false);
        QVERIFY(tick(R"({"ip":"203.0.113.9"})"));
        preferences.setNotificationsEnabled(true);
        QVERIFY(tick(R"({"ip":"203.0.113.10"})"));
        // Calls from one connection arrive in order: the last one is there, so the one turned off was never sent.
        QTRY_VERIFY(sent().size() == 4 && sent().last().size() == 5);

        const QList<QStringList> notifications = sent();
        const QString name = QStringLiteral("my-computer") + endpoints::zoneSuffix();
        // Each replaces the earlier one on its subject instead of piling up (dunst numbers them in order).
        QStringList summaries;
        QList<uint> replaced;
        for (const QStringList &notification : notifications) {
            summaries.append(notification.value(3)), replaced.append(notification.value(1).toUInt());
            QVERIFY(!notification.join(u' ').contains(kKey) && !notification.join(u' ').contains(kToken));
        }
        QCOMPARE(summaries,
                 (QStringList{name + " now points at 203.0.113.8 over IPv4", "Updates of " + name + " fail",
                              "Updates of " + name + " work again", name + " now points at 203.0.113.10 over IPv4"}));
        QCOMPARE((QList<uint>{replaced[0], replaced[1]}), (QList<uint>{0, 0}));
        QVERIFY(0 < replaced[3] && replaced[3] < replaced[2]);
        // dunst reads bodies as markup: the server's is escaped to show as written.
        const QString failing = notifications[1].value(4);
        QVERIFY2(failing.endsWith(QStringLiteral(": &lt;b&gt;unknown&lt;/b&gt; key [redacted] &amp; more")),
                 qPrintable(failing));
    }

private:
    DesktopSession &m_session;
};

VENNACOTT_DESKTOP_TEST_MAIN(NotifierTest)

#include "tst_notifier.moc"
