// The tray icon on a desktop of the test's own (Xvfb, a private session bus, a StatusNotifier host): it registers,
// its tooltip follows the settings and the updater, and a click hides and shows the window.
#include "appdelegate.h"
#include "autostart.h"
#include "core.h"
#include "desktoppreferences.h"
#include "desktopsession.h"
#include "endpoints.h"
#include "mainmenu.h"
#include "mainstoryboard.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "trayicon.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

class TrayIconTest final : public QObject
{
    Q_OBJECT
public:
    explicit TrayIconTest(DesktopSession &session)
        : m_session(session)
    {}

private Q_SLOTS:
    void trayIcon_registersFollowsTheStatusAndShowsTheWindow()
    {
        QVERIFY2(m_session.error().isEmpty(), qPrintable(m_session.error()));
        SessionProgram *host = m_session.start(QStringLiteral(VENNACOTT_SNIHOST));
        QVERIFY2(host && host->waitForLine(QStringLiteral("ready")), "the StatusNotifier host did not start");
        const auto lastToolTip = [host] {
            const QStringList lines = host->lines.filter(QRegularExpression(QStringLiteral("^tooltip ")));
            return lines.isEmpty() ? QString() : lines.last().mid(8);
        };
        TestServer server;
        Core core(Core::Options{{}, 10ms, 1h, server.baseUrl()});
        AppDelegate delegate(core);
        const std::unique_ptr<StoryboardWindow> window = createMainWindow(core);
        const MainActions actions = installMainMenu(*window, delegate, core);
        window->show();
        DesktopPreferences preferences(temporaryRoot() + QStringLiteral("/desktop.conf"));
        Autostart autostart;
        TrayIcon tray(*window, core, actions, preferences, autostart);

        QVERIFY(host->waitForLine(QStringLiteral("registered ")));
        // Signed in and registered, here or by the other program.
        storeSetting(keys::kToken, QStringLiteral("t"));
        storeSetting(keys::kHostname, QStringLiteral("my-computer"));
        storeSetting(keys::kDnsLink, QStringLiteral("/update/my-computer/k3y"));
        const QString name = QStringLiteral("my-computer") + endpoints::zoneSuffix();
        QTRY_COMPARE(lastToolTip(), name + QStringLiteral("\\nWaiting for the first update"));

        // The server's text is shown as it was written, markup included: escaped for the panel, plain in the window.
        QSignalSpy changed(&core.updater(), &Updater::statusChanged);
        server.respondWith(ScriptedResponse::json(R"({"error":"<s>wrong</s> key & <b>all fine</b>"})", 403));
        core.updater().tick();
        QVERIFY(changed.wait());
        QTRY_VERIFY2(
            lastToolTip().endsWith(QStringLiteral(": &lt;s&gt;wrong&lt;/s&gt; key &amp; &lt;b&gt;all fine&lt;/b&gt;")),
            qPrintable(lastToolTip()));
        QTRY_COMPARE(window->currentScreen(), screens::kDone);
        // What a screen reader hears is what the label draws: its text without markup where it reads some.
        auto *line = window->findChild<QLabel *>(QStringLiteral("updaterStatusLabel"));
        const QString heard = QAccessible::queryAccessibleInterface(line)->text(QAccessible::Name);
        QVERIFY2(heard.contains(QStringLiteral(": <s>wrong</s> key")), qPrintable(heard));

        // The family chosen in the tray is the File menu's action, kept beside the settings, and the updater's.
        actions.families.constLast()->trigger();
        QVERIFY(tray.menu().actions().contains(actions.families.constLast()));
        QCOMPARE(DesktopPreferences().familyChoice(), FamilyChoice::IPv6Only);
        QCOMPARE(core.updater().familyChoice(), FamilyChoice::IPv6Only);

        // A click on the icon hides the window, the next one shows it again.
        host->write("activate\n");
        QTRY_VERIFY(!window->isVisible());
        host->write("activate\n");
        QTRY_VERIFY(window->isVisible());
    }

private:
    DesktopSession &m_session;
};

VENNACOTT_DESKTOP_TEST_MAIN(TrayIconTest)

#include "tst_trayicon.moc"
