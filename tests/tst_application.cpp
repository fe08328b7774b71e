// The application's ways in and out: the termination route and what takes it, the Close buttons, the File menu;
// the real executable ended by signals through the quit decision (also with damaged folders), without a
// display, one window per settings file, and no core dumps of it or of the command line.
#include "appdelegate.h"
#include "application.h"
#include "core.h"
#include "endpoints.h"
#include "mainmenu.h"
#include "mainstoryboard.h"
#include "refsvcharness.h"
#include "settingskeys.h"
#include "singleinstance.h"
#include "storyboard.h"
#include "testserver.h"
#include "testsupport.h"
#include "viewcontrollerbase.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The window as main builds it, with the updater and the menu.
struct MainWindow
{
    Core core;
    AppDelegate delegate{core};
    std::unique_ptr<StoryboardWindow> window = createMainWindow(core);

    explicit MainWindow(Core::Options options = {})
        : core(std::move(options))
    {
        installMainMenu(*window, delegate, core);
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

// The rest of the line that starts with `prefix` in /proc/<pid>/<file>, simplified; empty when there is none.
QByteArray procLine(qint64 pid, const char *file, const QByteArray &prefix)
{
    QFile proc(QStringLiteral("/proc/%1/").arg(pid) + QLatin1String(file));
    for (const QByteArray &line : proc.open(QIODevice::ReadOnly) ? proc.readAll().split('\n') : QByteArrayList()) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).simplified();
    }
    return QByteArray();
}

using Changes = std::initializer_list<std::pair<QString, QString>>;

// This process's environment on the offscreen platform, with `changes` (a null value removes the variable).
QProcessEnvironment environment(Changes changes)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const auto &[name, value] : changes) {
        if (value.isNull())
            environment.remove(name);
        else
            environment.insert(name, value);
    }
    return environment;
}

bool start(QProcess &program, Changes changes)
{
    program.setProcessEnvironment(environment(changes));
    program.start(QStringLiteral(VENNACOTT_DDNS_BINARY));
    // Until the exec, the child has this process's signal handlers: its SigCgt would say it is ready.
    return program.waitForStarted(10'000);
}

// Sends `signalNumber` once the program handles it (its SigCgt mask says so), and waits for the end.
bool signalAndWait(QProcess &program, int signalNumber)
{
    const auto catches = [&] {
        return (procLine(program.processId(), "status", "SigCgt:").toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1U;
    };
    if (!QTest::qWaitFor(catches, 20'000))
        return false;
    ::kill(static_cast<pid_t>(program.processId()), signalNumber);
    return QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 20'000);
}

} // namespace

class ApplicationTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietPlatformWarnings(); }
    void cleanup() { Application::shared().setDelegate(nullptr); }

    // Later and Cancel, and the requests that follow them, are walked with the real delegate in its own test.
    void terminate_endsTheLoopOnNowOrWithoutDelegate_data()
    {
        QTest::addColumn<bool>("delegated"); // asked again while it decides: that request is ignored
        QTest::newRow("no delegate") << false;
        QTest::newRow("now, asked again meanwhile") << true;
    }

    void terminate_endsTheLoopOnNowOrWithoutDelegate()
    {
        QFETCH(bool, delegated);
        ScriptedDelegate delegate;
        delegate.whileAsked = [] { Application::shared().terminate(); };
        Application::shared().setDelegate(delegated ? &delegate : nullptr);
        // In the event loop: 0 when the termination route ended it, kStillRunning when it ran one turn later.
        QObject scope; // the timers end with it, so that none is left to fire in a later test's loop
        QTimer::singleShot(0, &scope, [&] {
            Application::shared().terminate();
            QTimer::singleShot(0, &scope, [] { QCoreApplication::exit(kStillRunning); });
        });
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(delegate.asked, delegated ? 1 : 0);
        QCOMPARE(delegate.told, delegated ? 1 : 0);
    }

    // The Quit menu item's shortcut (so its action) and the window's close button ask; cancelled, the window stays.
    void windowRoutes_askTheDelegate()
    {
        MainWindow main;
        ScriptedDelegate asked;
        asked.replies = {TerminateReply::Cancel, TerminateReply::Cancel};
        Application::shared().setDelegate(&asked);
        QApplication::setActiveWindow(main.window.get());
        QVERIFY(QTest::qWaitForWindowActive(main.window.get()));
        QTest::keySequence(main.window.get(), main.action("actionQuit")->shortcut());
        QTRY_COMPARE_WITH_TIMEOUT(asked.asked, 1, 5000);
        main.window->close();
        QTRY_COMPARE_WITH_TIMEOUT(asked.asked, 2, 5000);
        QVERIFY(main.window->isVisible());
        QCOMPARE(asked.told, 0);
    }

    void closeButtons_endTheProcessWithoutAsking()
    {
        for (const QString &button : {QStringLiteral("CloseButton"), QStringLiteral("CloseButtonDone")}) {
            const ChildResult result = runChild(button);
            QCOMPARE(result.exitStatus, QProcess::NormalExit);
            QCOMPARE(result.exitCode, 0);
            QCOMPARE(result.out, QByteArray());
        }
    }

    void fileMenu_savesUpdatesNowAndSignsOut()
    {
        TestServer server;
        server.respondWith(ScriptedResponse::json(R"({"ip":"192.0.2.7"})"));
        endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());
        for (const auto &[key, value] :
             {std::pair{keys::kToken, "tok"}, {keys::kHostname, "me"}, {keys::kDnsLink, "/update/me/k"}})
            storeSetting(key, QLatin1String(value));
        MainWindow main(Core::Options{{}, 10ms, 10s, server.baseUrl()});
        QTRY_COMPARE_WITH_TIMEOUT(main.window->currentScreen(), screens::kDone, 5000);
        // Save: the local store opens on first use.
        const QString store =
            qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite");
        QVERIFY(!QFile::exists(store));
        main.action("actionSave")->trigger();
        QVERIFY(QFile::exists(store));
        // Update now: one request at once, through the updater.
        QTest::keySequence(main.window.get(), QKeySequence(Qt::CTRL | Qt::Key_U));
        QTRY_VERIFY_WITH_TIMEOUT(main.core.updater().status().last.has_value(), 10'000);
        QCOMPARE(server.requests().constLast().target, QByteArray("/update/me/k"));
        // Sign out: nothing of the account is left on this computer, and the sign-in screen shows.
        main.action("actionSignOut")->trigger();
        for (const QString &key : {keys::kToken, keys::kHostname, keys::kDnsLink})
            QCOMPARE(storedSetting(key), std::nullopt);
        QTRY_COMPARE(main.window->currentScreen(), screens::kSignIn);
        endpoints::overrideForTesting(QString(), QString());
    }

    // Damage in the folders the window uses is said in one line, and the window runs all the same until a signal
    // ends it through the quit decision. (The end-to-end walk ends a healthy window by SIGTERM.)
    void signal_endsTheProgramThroughTheQuitDecision_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QByteArray>("said"); // the start of the one line on standard error it causes
        QTest::newRow("SIGINT, settings folder cannot be created")
            << SIGINT << QStringLiteral("settings folder is a file") << QByteArray("vennacott-ddns: cannot lock ");
        // Where the socket cannot lie beside the settings, only a private folder of this user will do.
        QTest::newRow("SIGTERM, socket folder open to others")
            << SIGTERM << QStringLiteral("socket folder is 0755")
            << QByteArray("vennacott-ddns: later starts cannot reach this window");
    }

    void signal_endsTheProgramThroughTheQuitDecision()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, damage);
        QFETCH(QByteArray, said);
        static int run = 0; // short paths: the socket's must fit in a socket address
        const QString dataHome = temporaryRoot() + QStringLiteral("/signal-%1").arg(++run);
        const QString store = dataHome + QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite");
        QString config = dataHome;
        const QString runtime = dataHome + QStringLiteral("/run");
        const QByteArray socketFolder = QFile::encodeName(runtime + QStringLiteral("/vennacott-ddns"));
        QVERIFY(QDir().mkpath(QString::fromLocal8Bit(socketFolder)) &&
                ::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
        if (damage == u"settings folder is a file") {
            QVERIFY(QFile(dataHome + QStringLiteral("/vennacott")).open(QIODevice::WriteOnly));
        } else {
            // Too deep for a socket beside the settings, not so deep that fontconfig leaks under the sanitizer.
            config = dataHome + QLatin1Char('/') + QString(std::max<qsizetype>(70 - dataHome.size(), 1), u'c');
            QCOMPARE(::chmod(socketFolder.constData(), 0755), 0);
        }
        QProcess program;
        QVERIFY(start(program, {{QStringLiteral("XDG_DATA_HOME"), dataHome},
                                {QStringLiteral("XDG_CONFIG_HOME"), config},
                                {QStringLiteral("XDG_RUNTIME_DIR"), runtime}}));
        QVERIFY(!QFile::exists(store)); // launched, the program leaves the local store alone
        QVERIFY(signalAndWait(program, signalNumber));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(QFile::exists(store)); // the quit decision opened it
        const QByteArray errors = program.readAllStandardError();
        QVERIFY2(errors.count("vennacott-ddns: ") == 1 && (errors.startsWith(said) || errors.contains('\n' + said)),
                 errors.constData());
    }

    // Without a display the window says why and ends; -v is answered all the same (the install test checks the
    // whole --version text of the installed program).
    void withoutDisplay_saysWhyOrAnswersVersion()
    {
        const QString program = QStringLiteral(VENNACOTT_DDNS_BINARY);
        const QProcessEnvironment noDisplay = environment({{QStringLiteral("QT_QPA_PLATFORM"), QString()},
                                                           {QStringLiteral("DISPLAY"), QString()},
                                                           {QStringLiteral("WAYLAND_DISPLAY"), QString()}});
        const auto [status, out, err] = refsvc::test::runToEnd(program, {}, {}, noDisplay);
        QCOMPARE(status, 1);
        QVERIFY2(err.startsWith("vennacott-ddns: no display") && out.isEmpty(), (out + err).constData());
        const auto version = refsvc::test::runToEnd(program, {QStringLiteral("-v")}, {}, noDisplay);
        QVERIFY2(version.status == 0 && version.out.startsWith("vennacott-ddns ") && version.err.isEmpty(),
                 (version.out + version.err).constData());
    }

    // One window per settings file: a second start on the same settings brings the first window forward, a
    // minimised one too, and ends; one on other settings runs beside it. Here this process is the first window.
    void secondStart_bringsTheWindowOfItsSettingsForward()
    {
        SingleInstance instance;
        QCOMPARE(instance.claim(), SingleInstance::Claim::Owned);
        StoryboardWindow window{Storyboard{}};
        instance.bringForwardOnRequest(&window);
        window.showMinimized();
        QProcess second;
        QVERIFY(start(second, {}));
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20'000);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(window.isVisible() && !window.isMinimized());

        const QString config = temporaryRoot() + QStringLiteral("/other-config");
        QVERIFY(QDir().mkpath(config));
        QProcess other;
        QVERIFY(start(other, {{QStringLiteral("XDG_CONFIG_HOME"), config}}));
        QVERIFY(signalAndWait(other, SIGTERM));
        QCOMPARE(other.exitCode(), 0);
    }

    // The window answers, and hands over to, only processes of its own user.
    void peerCheck_knowsTheUserAtTheOtherEnd()
    {
        int ends[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        QVERIFY(peerIsUser(ends[0], ::getuid()));
        QVERIFY(!peerIsUser(ends[0], ::getuid() + 1));
        ::close(ends[0]);
        ::close(ends[1]);
    }

    void programs_turnCoreDumpsOff_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("window") << QStringLiteral(VENNACOTT_DDNS_BINARY) << QStringList();
        QTest::newRow("command line, run") << QStringLiteral(VENNACOTT_DDNSCTL_BINARY) << QStringList{"run"};
    }

    void programs_turnCoreDumpsOff()
    {
        // A dump would hold the update key: however much the programs may dump, they turn it off.
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        rlimit inherited = {};
        QVERIFY(::getrlimit(RLIMIT_CORE, &inherited) == 0);
        if (inherited.rlim_max == 0)
            QSKIP("core dumps are off for this test already");
        const rlimit allowed = {inherited.rlim_max, inherited.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_CORE, &allowed) == 0);
        QProcess running;
        running.setProcessEnvironment(environment({}));
        running.start(program, arguments);
        const bool started = running.waitForStarted(10'000);
        ::setrlimit(RLIMIT_CORE, &inherited);
        QVERIFY(started);
        QTRY_COMPARE_WITH_TIMEOUT(procLine(running.processId(), "limits", "Max core file size"),
                                  QByteArray("0 0 bytes"), 20'000);
        running.kill();
        QVERIFY(running.waitForFinished(10'000));
    }
};

VENNACOTT_TEST_MAIN_WITH_CHILD(ApplicationTest, QApplication, childMain)
#include "tst_application.moc"
