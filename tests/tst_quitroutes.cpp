// Which ways out of the window ask the quit decision: Quit, its shortcut and the window's close button do;
// the Close buttons of the screens end the process at once.
#include "appdelegate.h"
#include "application.h"
#include "endpoints.h"
#include "mainmenu.h"
#include "mainstoryboard.h"
#include "settingskeys.h"
#include "storyboard.h"
#include "testserver.h"
#include "testsupport.h"
#include "userdefaults.h"
#include "viewcontrollerbase.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

// Records each question and answers it as told.
class AskedDelegate final : public ApplicationDelegate
{
public:
    TerminateReply applicationShouldTerminate(Application &) override
    {
        ++asked;
        console::printLine(u"asked");
        return reply;
    }
    void applicationWillTerminate() override { ++told; }

    TerminateReply reply = TerminateReply::Cancel;
    int asked = 0;
    int told = 0;
};

// The window as main builds it, with the menu, on the sign-in screen.
struct MainWindow
{
    AppDelegate delegate;
    std::unique_ptr<StoryboardWindow> window = createMainWindow();

    MainWindow()
    {
        installMainMenu(*window, delegate);
        window->show();
    }
    QAction *action(const char *name) const { return window->findChild<QAction *>(QLatin1String(name)); }
};

int childMain(const QString &role)
{
    AskedDelegate asked;
    Application::shared().setDelegate(&asked);
    MainWindow main;
    if (role == QLatin1String("close-button")) {
        QTest::mouseClick(main.window->currentController()->findChild<QPushButton *>(QStringLiteral("CloseButton")),
                          Qt::LeftButton);
    }
    return 3;
}

} // namespace

class QuitRoutesTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietPlatformWarnings(); }
    void cleanup() { Application::shared().setDelegate(nullptr); }

    void quitRoutes_askTheDelegate_data();
    void quitRoutes_askTheDelegate();
    void cancelledQuit_keepsTheWindow();
    void saveMenu_sendsTheSaveAction();
    void menuBar_leavesTheScreenItsRoom();
    void closeButton_neverAsks();
    void fileMenu_updatesNowAndSignsOut();
};

void QuitRoutesTest::quitRoutes_askTheDelegate_data()
{
    QTest::addColumn<QString>("route");
    QTest::newRow("Quit menu item") << QStringLiteral("menu");
    QTest::newRow("Quit shortcut") << QStringLiteral("shortcut");
    QTest::newRow("window close button") << QStringLiteral("close");
}

void QuitRoutesTest::quitRoutes_askTheDelegate()
{
    QFETCH(QString, route);
    MainWindow main;
    AskedDelegate asked;
    Application::shared().setDelegate(&asked);
    QApplication::setActiveWindow(main.window.get());
    QVERIFY(QTest::qWaitForWindowActive(main.window.get()));

    if (route == QLatin1String("menu"))
        main.action("actionQuit")->trigger();
    else if (route == QLatin1String("shortcut"))
        QTest::keySequence(main.window.get(), main.action("actionQuit")->shortcut());
    else
        main.window->close();
    QTRY_COMPARE_WITH_TIMEOUT(asked.asked, 1, 5000);
}

void QuitRoutesTest::cancelledQuit_keepsTheWindow()
{
    MainWindow main;
    AskedDelegate asked;
    Application::shared().setDelegate(&asked);
    main.window->close();
    QTRY_COMPARE_WITH_TIMEOUT(asked.asked, 1, 5000);
    QVERIFY(main.window->isVisible());
    QCOMPARE(asked.told, 0);
}

void QuitRoutesTest::saveMenu_sendsTheSaveAction()
{
    MainWindow main;
    const QString store =
        qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite");
    QVERIFY2(!QFile::exists(store), "the store opens on first use only");
    QCOMPARE(main.action("actionSave")->shortcut(), QKeySequence(QKeySequence::Save));
    main.action("actionSave")->trigger();
    QVERIFY(QFile::exists(store));
}

void QuitRoutesTest::menuBar_leavesTheScreenItsRoom()
{
    MainWindow main;
    const ViewControllerBase &screen = *main.window->currentController();
    QVERIFY(screen.height() >= screen.sizeHint().height());
    QVERIFY(screen.width() >= screen.sizeHint().width());
}

void QuitRoutesTest::closeButton_neverAsks()
{
    const ChildResult result = runChild(QStringLiteral("close-button"));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!result.out.contains("asked"));
}

void QuitRoutesTest::fileMenu_updatesNowAndSignsOut()
{
    TestServer server;
    server.respondWith(ScriptedResponse::json(R"({"ip":"192.0.2.7"})"));
    endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());
    for (const auto &[key, value] :
         {std::pair{keys::kToken, "tok"}, {keys::kHostname, "me"}, {keys::kDnsLink, "/update/me/k"}})
        UserDefaults::standard().setObject(QLatin1String(value), key);
    AppDelegate delegate(UpdaterOptions{10s, server.baseUrl()});
    const auto window = createMainWindow(&delegate.updater());
    installMainMenu(*window, delegate);
    window->show();
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kDone, 5000);

    // Update now: one request at once, through the updater.
    QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_U));
    QTRY_VERIFY_WITH_TIMEOUT(delegate.updater().status().last.has_value(), 10'000);
    QCOMPARE(server.requests().constLast().target, QByteArray("/update/me/k"));

    // Sign out: nothing of the account is left on this computer, and the sign-in screen shows.
    window->findChild<QAction *>(QStringLiteral("actionSignOut"))->trigger();
    for (const QString &key : {keys::kToken, keys::kHostname, keys::kDnsLink})
        QCOMPARE(UserDefaults::standard().stringForKey(key), std::nullopt);
    QCOMPARE(window->currentScreen(), screens::kSignIn);
    endpoints::overrideForTesting(QString(), QString());
}

VENNACOTT_TEST_MAIN_WITH_CHILD(QuitRoutesTest, QApplication, childMain)
#include "tst_quitroutes.moc"
