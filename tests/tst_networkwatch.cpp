// An update when the machine wakes, as the window program wires it: logind's PrepareForSleep on a system bus
// of the test's own.
#include "appdelegate.h"
#include "core.h"
#include "desktopintegration.h"
#include "desktopsession.h"
#include "mainmenu.h"
#include "mainstoryboard.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

static const QString kPath = QStringLiteral("/org/freedesktop/login1");
static const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

class NetworkWatchTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wakeFromSleep_sendsExactlyOneUpdateThroughTheWindowsUpdater();

public Q_SLOTS:
    void marker() { ++m_markers; }

private:
    int m_markers = 0;
};

void NetworkWatchTest::wakeFromSleep_sendsExactlyOneUpdateThroughTheWindowsUpdater()
{
    DesktopSession session;
    const QString address = session.startBus();
    QVERIFY2(!address.isEmpty(), qPrintable(session.error()));
    // The watch's system bus is this one; logind is the test's own connection to it.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
    QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("logind"));
    QVERIFY(logind.registerService(QStringLiteral("org.freedesktop.login1")));
    const auto send = [](QDBusConnection bus, const QString &name, const QVariantList &arguments = {}) {
        QDBusMessage message = QDBusMessage::createSignal(kPath, kManager, name);
        message.setArguments(arguments);
        return bus.send(message);
    };

    TestServer server;
    server.respondWith(ScriptedResponse::json(R"({"ip":"192.0.2.1"})"));
    storeSetting(keys::kDnsLink, QStringLiteral("/update/host/key"));
    // The window program as main() puts it together: the watch is wired to its updater there.
    Core core(Core::Options{{}, 10ms, 1h, server.baseUrl()});
    AppDelegate delegate(core);
    const std::unique_ptr<StoryboardWindow> window = createMainWindow(core);
    const MainActions actions = installMainMenu(*window, delegate, core);
    window->show();
    const std::unique_ptr<DesktopIntegration> desktop = installDesktopIntegration(*window, core, actions);
    // Its desktop parts come once the window is drawn and the event loop would wait.
    QEventLoop idle;
    QTimer::singleShot(500ms, &idle, &QEventLoop::quit);
    idle.exec();
    // Signals of one sender arrive in order: once its marker is in, every signal it sent before was handled.
    QVERIFY(QDBusConnection::systemBus().connect(QString(), kPath, kManager, QStringLiteral("Marker"), this,
                                                 SLOT(marker())));

    QVERIFY(send(logind, QStringLiteral("PrepareForSleep"), {true}));
    QVERIFY(send(logind, QStringLiteral("PrepareForSleep"), {false}));
    QVERIFY(send(logind, QStringLiteral("Marker")));
    QTRY_COMPARE(m_markers, 1);
    QTRY_COMPARE(server.requestCount(), 1);
    QCOMPARE(server.requests().first().target, QByteArray("/update/host/key"));

    // Another process's signal of that name is not logind's word.
    QDBusConnection other = QDBusConnection::connectToBus(address, QStringLiteral("other"));
    QVERIFY(send(other, QStringLiteral("PrepareForSleep"), {false}) && send(other, QStringLiteral("Marker")));
    QTRY_COMPARE(m_markers, 2);
    QTest::qWait(100);
    QCOMPARE(server.requestCount(), 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("other"));
    QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
}

VENNACOTT_TEST_MAIN(NetworkWatchTest, QApplication)
#include "tst_networkwatch.moc"
