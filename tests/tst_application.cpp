// The application's ways in and out: the Quit routes, the File menu; the real executable ended
// by signals (also with damaged folders), one window per settings file, no core dumps.
#include "appdelegate.h"
#include "application.h"
#include "core.h"
#include "endpoints.h"
#include "mainmenu.h"
#include "mainstoryboard.h"
#include "settingskeys.h"
#include "singleinstance.h"
#include "storyboard.h"
#include "testserver.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

// Records each question and answers it as scripted: the replies in turn, then Now.
struct ScriptedDelegate final : ApplicationDelegate
{
    TerminateReply applicationShouldTerminate(Application &) override
    {
        return replies.value(asked++, TerminateReply::Now);
    }
    void applicationWillTerminate() override { ++told; }
    QList<TerminateReply> replies;
    int asked = 0, told = 0;
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

// The rest of the line that starts with `prefix` in /proc/<pid>/<file>, simplified; empty when there is none.
QByteArray procLine(qint64 pid, const char *file, const QByteArray &prefix)
{
    QFile proc(QStringLiteral("/proc/%1/").arg(pid) + QLatin1String(file));
    for (const QByteArray &line : proc.open(QIODevice::ReadOnly) ? proc.readAll().split('\n') : QByteArrayList())
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).simplified();
    return QByteArray();
}

// Starts `path` on the offscreen platform with this process's environment and `changes`.
bool start(QProcess &program, std::initializer_list<std::pair<QString, QString>> changes,
           const QString &path = QStringLiteral(VENNACOTT_DDNS_BINARY), const QStringList &arguments = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const auto &[name, value] : changes)
        environment.insert(name, value);
    program.setProcessEnvironment(environment);
    program.start(path, arguments);
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
        QVERIFY(main.window->isVisible() && asked.told == 0);
    }

    void fileMenu_updatesNowAndSignsOut()
    {
        TestServer server;
        server.respondWith(ScriptedResponse::json(R"({"ip":"192.0.2.7"})"));
        endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());
        for (const auto &[key, value] :
             {std::pair{keys::kToken, "tok"}, {keys::kHostname, "me"}, {keys::kDnsLink, "/update/me/k"}})
            storeSetting(key, QLatin1String(value));
        MainWindow main(Core::Options{{}, 10ms, 10s, server.baseUrl()});
        QTRY_COMPARE_WITH_TIMEOUT(main.window->currentScreen(), screens::kDone, 5000);
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
        QString config = dataHome;
        const QString runtime = dataHome + QStringLiteral("/run");
        const QByteArray socketFolder = QFile::encodeName(runtime + QStringLiteral("/vennacott-ddns"));
        QVERIFY(QDir().mkpath(QString::fromLocal8Bit(socketFolder)) &&
                ::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
        if (damage == u"settings folder is a file")
            QVERIFY(QFile(dataHome + QStringLiteral("/vennacott")).open(QIODevice::WriteOnly));
        else {
            // Too deep for a socket beside the settings, not so deep that fontconfig leaks under the sanitizer.
            config = dataHome + QLatin1Char('/') + QString(std::max<qsizetype>(70 - dataHome.size(), 1), u'c');
            QCOMPARE(::chmod(socketFolder.constData(), 0755), 0);
        }
        QProcess program;
        QVERIFY(
            start(program, {{"XDG_DATA_HOME", dataHome}, {"XDG_CONFIG_HOME", config}, {"XDG_RUNTIME_DIR", runtime}}));
        QVERIFY(signalAndWait(program, signalNumber));
        QVERIFY(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
        const QByteArray errors = program.readAllStandardError();
        QVERIFY2(errors.count("vennacott-ddns: ") == 1 && (errors.startsWith(said) || errors.contains('\n' + said)),
                 errors.constData());
    }

    // A second start on the same settings brings the first window (this process's), minimised, forward and ends.
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
        QVERIFY(second.exitCode() == 0 && window.isVisible() && !window.isMinimized());
    }

    // The window answers, and hands over to, only processes of its own user.
    void peerCheck_knowsTheUserAtTheOtherEnd()
    {
        int ends[2];
        QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        const bool ours = peerIsUser(ends[0], ::getuid()), others = peerIsUser(ends[0], ::getuid() + 1);
        ::close(ends[0]);
        ::close(ends[1]);
        QVERIFY(ours && !others);
    }

    void programs_turnCoreDumpsOff_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("window") << QStringLiteral(VENNACOTT_DDNS_BINARY) << QStringList();
        QTest::newRow("command line, run") << QStringLiteral(VENNACOTT_DDNSCTL_BINARY) << QStringList{"run"};
    }

    // A dump would hold the update key: however much the programs may dump, they turn it off.
    void programs_turnCoreDumpsOff()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        rlimit inherited = {};
        if (::getrlimit(RLIMIT_CORE, &inherited) != 0 || inherited.rlim_max == 0)
            QSKIP("core dumps are off for this test already");
        const rlimit allowed = {inherited.rlim_max, inherited.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_CORE, &allowed) == 0);
        QProcess running;
        const bool started = start(running, {}, program, arguments);
        ::setrlimit(RLIMIT_CORE, &inherited);
        QVERIFY(started);
        QTRY_COMPARE_WITH_TIMEOUT(procLine(running.processId(), "limits", "Max core file size"),
                                  QByteArray("0 0 bytes"), 20'000);
        running.kill();
        running.waitForFinished(10'000);
    }
};

VENNACOTT_TEST_MAIN(ApplicationTest, QApplication)
#include "tst_application.moc"
