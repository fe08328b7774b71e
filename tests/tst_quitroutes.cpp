// The ways out of the program. The termination route asks the delegate and follows its reply; Quit, its
// shortcut and the window's close button take that route; the screens' Close buttons end the process at once.
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
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

constexpr int kStillRunning = 7;

// Records each question and answers it as scripted: the replies in turn, then Now.
class ScriptedDelegate final : public ApplicationDelegate
{
public:
    TerminateReply applicationShouldTerminate(Application &) override
    {
        ++asked;
        console::printLine(u"asked");
        if (whileAsked)
            whileAsked();
        return replies.value(asked - 1, TerminateReply::Now);
    }
    void applicationWillTerminate() override { ++told; }

    QList<TerminateReply> replies;
    std::function<void()> whileAsked;
    int asked = 0;
    int told = 0;
};

// Runs `requests` inside the application's event loop and returns how the loop ended: 0 when the
// termination route ended it, kStillRunning when it was still running one turn later.
int runEventLoop(const std::function<void()> &requests)
{
    // Timers owned here, so that none is left to fire in a later test's loop.
    QTimer start;
    QTimer probe;
    start.setSingleShot(true);
    probe.setSingleShot(true);
    QObject::connect(&start, &QTimer::timeout, [&] {
        requests();
        probe.start(0);
    });
    QObject::connect(&probe, &QTimer::timeout, [] { QCoreApplication::exit(kStillRunning); });
    start.start(0);
    return QCoreApplication::exec();
}

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

// A child that clicks the Close button named `button`: the process must end there, with status 0.
int childMain(const QString &button)
{
    ScriptedDelegate asked;
    Application::shared().setDelegate(&asked);
    MainWindow main;
    if (button == u"CloseButtonDone") {
        main.window->currentController()->performSegue(segues::kLoginToHost);
        main.window->currentController()->performSegue(segues::kHostToDone);
    }
    QTest::mouseClick(main.window->currentController()->findChild<QPushButton *>(button), Qt::LeftButton);
    console::printLine(u"still running");
    return 3;
}

} // namespace

Q_DECLARE_METATYPE(TerminateReply)

class QuitRoutesTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietPlatformWarnings(); }
    void cleanup() { Application::shared().setDelegate(nullptr); }

    void terminate_followsTheDelegatesReply_data();
    void terminate_followsTheDelegatesReply();
    void windowRoutes_askTheDelegate_data();
    void windowRoutes_askTheDelegate();
    void closeButtons_endTheProcessWithoutAsking_data();
    void closeButtons_endTheProcessWithoutAsking();
    void saveMenu_sendsTheSaveAction();
    void menuBar_leavesTheScreenItsRoom();
    void fileMenu_updatesNowAndSignsOut();
};

void QuitRoutesTest::terminate_followsTheDelegatesReply_data()
{
    QTest::addColumn<bool>("delegated");
    QTest::addColumn<QList<TerminateReply>>("replies"); // to each request in turn
    QTest::addColumn<bool>("requestWhileDeciding");     // a signal while the quit alert is up
    QTest::addColumn<int>("loopEnd");

    // The delegate answers Now or Cancel; the program never answers Later.
    using R = TerminateReply;
    // clang-format off
    QTest::newRow("no delegate")                << false << QList<R>{R::Now} << false << 0;
    QTest::newRow("now")                        << true << QList<R>{R::Now} << false << 0;
    QTest::newRow("now, asked again meanwhile") << true << QList<R>{R::Now} << true << 0;
    QTest::newRow("cancel")                     << true << QList<R>{R::Cancel} << false << kStillRunning;
    QTest::newRow("cancel, then asked again")   << true << QList<R>{R::Cancel, R::Now} << false << 0;
    // clang-format on
}

void QuitRoutesTest::terminate_followsTheDelegatesReply()
{
    QFETCH(bool, delegated);
    QFETCH(QList<TerminateReply>, replies);
    QFETCH(bool, requestWhileDeciding);
    QFETCH(int, loopEnd);
    ScriptedDelegate delegate;
    delegate.replies = replies;
    if (requestWhileDeciding)
        delegate.whileAsked = [] { Application::shared().terminate(); };
    Application::shared().setDelegate(delegated ? &delegate : nullptr);

    const int end = runEventLoop([&] {
        for (qsizetype i = 0; i < replies.size(); ++i)
            Application::shared().terminate();
    });
    QCOMPARE(end, loopEnd);
    QCOMPARE(delegate.asked, delegated ? replies.size() : 0);
    QCOMPARE(delegate.told, delegated && loopEnd == 0 ? 1 : 0);
}

void QuitRoutesTest::windowRoutes_askTheDelegate_data()
{
    QTest::addColumn<QString>("route");
    QTest::newRow("Quit menu item") << QStringLiteral("menu");
    QTest::newRow("Quit shortcut") << QStringLiteral("shortcut");
    QTest::newRow("window close button") << QStringLiteral("close");
}

void QuitRoutesTest::windowRoutes_askTheDelegate()
{
    QFETCH(QString, route);
    MainWindow main;
    ScriptedDelegate asked;
    asked.replies = {TerminateReply::Cancel};
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
    // Cancelled: the window stays.
    QVERIFY(main.window->isVisible());
    QCOMPARE(asked.told, 0);
}

void QuitRoutesTest::closeButtons_endTheProcessWithoutAsking_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("sign-in screen") << QStringLiteral("CloseButton");
    QTest::newRow("done screen") << QStringLiteral("CloseButtonDone");
}

void QuitRoutesTest::closeButtons_endTheProcessWithoutAsking()
{
    QFETCH(QString, button);
    const ChildResult result = runChild(button);
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray());
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
