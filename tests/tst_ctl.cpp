// vennacott-ddnsctl's commands in this process against the local test server: exit statuses, what is
// stored, what is printed, the updater it runs and the status it reports.
#include "commandline.h"
#include "endpoints.h"
#include "passwordprompt.h"
#include "processlock.h"
#include "settings.h"
#include "settingskeys.h"
#include "setuppaths.h"
#include "statuscommand.h"
#include "testserver.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonObject>
#include <QLockFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace vennacott;
using namespace vennacott::ctl;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

// Every secret of these tests holds this word, so one search covers the password, tokens and update keys.
const QString kSecretMark = QStringLiteral("SECRET");
const QString kPassword = QStringLiteral("pw-SECRET-2");
const QString kOldToken = QStringLiteral("tok-SECRET-0");
const QString kNewToken = QStringLiteral("tok-SECRET-1");
const QString kOldLink = QStringLiteral("/update/old/key-SECRET-0");
const QString kNewLink = QStringLiteral("/update/host/key-SECRET-3");

// Replies by request path that differ from the granting ones: "stall", or the status and the body.
using Replies = QMap<QByteArray, QByteArray>;

ScriptedResponse reply(const RecordedRequest &request, const Replies &overrides)
{
    const QByteArray path = request.target;
    if (overrides.contains(path)) {
        const QByteArray scripted = overrides.value(path);
        if (scripted == "stall")
            return {ScriptedResponse::Action::Stall, 0, {}, {}, {}, {}, {}};
        const qsizetype blank = scripted.indexOf(' ');
        return ScriptedResponse::json(scripted.mid(blank + 1), scripted.left(blank).toInt());
    }
    if (path == "/login")
        return ScriptedResponse::json(R"({"token":")" + kNewToken.toUtf8() + R"("})");
    if (path == "/secure/api/get_dns") // a JSON string, its slashes escaped: the link is its value
        return ScriptedResponse::json('"' + kNewLink.toUtf8().replace("/", "\\/") + '"');
    if (path == "/secure/api/save_dns")
        return ScriptedResponse::json(R"({"saved":true})");
    if (path == "/new/host")
        return ScriptedResponse::json(R"({"update_link":")" + kNewLink.toUtf8() + R"("})");
    if (path.startsWith("/update/"))
        return ScriptedResponse::json(R"({"host":"old","ip":"192.0.2.7"})");
    return ScriptedResponse::json(R"({"code":404,"error":"no such path"})", 404);
}

// The token, the host name and the link, as they are stored or to be stored ("" for none).
const QStringList kKeys{keys::kToken, keys::kHostname, keys::kDnsLink};

QStringList stored()
{
    QStringList values;
    for (const QString &key : kKeys)
        values.append(storedSetting(key).value_or(QString()));
    return values;
}

using Ended = std::shared_ptr<std::optional<ExitStatus>>;

Ended start(CommandLine &commandLine, const QStringList &arguments)
{
    auto ended = std::make_shared<std::optional<ExitStatus>>();
    commandLine.start(arguments, [ended](ExitStatus status) { *ended = status; });
    return ended;
}

Options testOptions(const QString &password = kPassword)
{
    Options options;
    options.readPassword = [password](const QString &) {
        return password.isNull() ? std::nullopt : std::optional<QString>(password);
    };
    options.updateInterval = 100ms;
    return options;
}

// The password prompt, as a child on the test's terminal.
int childMain(const QString &)
{
    const std::optional<QString> password = readPassword(QStringLiteral("Password: "));
    std::printf("read %s\n", password ? qPrintable(*password) : "nothing");
    return 0;
}

// A shell's job control on its terminal, in a child of a fork, so system calls only: `argv` runs as the
// foreground job; each time it stops, whether echo is on is shown and the job is continued, as `fg` does.
[[noreturn]] void jobControl(char *const argv[], char *const environment[])
{
    ::signal(SIGTTOU, SIG_IGN); // it takes the terminal back from the background, as shells do
    const pid_t job = ::fork();
    if (job == 0) {
        ::setpgid(0, 0);
        ::tcsetpgrp(STDIN_FILENO, ::getpid());
        ::signal(SIGTTOU, SIG_DFL);
        ::execve(argv[0], argv, environment);
        ::_exit(127);
    }
    ::setpgid(job, job);
    int status = 0;
    while (::waitpid(job, &status, WUNTRACED) == job && WIFSTOPPED(status)) {
        termios now = {};
        ::tcgetattr(STDIN_FILENO, &now);
        const char *said = (now.c_lflag & ECHO) ? "stopped, echo on\n" : "stopped, echo off\n";
        [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, said, std::strlen(said));
        ::tcsetpgrp(STDIN_FILENO, job);
        ::kill(-job, SIGCONT);
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

} // namespace

class CtlTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { trustTestServer(); }
    void init() { clearSettings(); }
    void cleanup() { endpoints::overrideForTesting({}, {}); }

    void command_endsWithItsStatus_storesAndPrintsNoSecret_data();
    void command_endsWithItsStatus_storesAndPrintsNoSecret();
    void run_withAnEmptyLink_updatesOnceOneIsStored_andStatusReportsIt();
    void run_asAService_tellsSystemdMetricsHookAndPing_whichChangeNothing();
    void passwordPrompt_stoppedByCtrlZ_showsEchoUntilContinued();
};

void CtlTest::command_endsWithItsStatus_storesAndPrintsNoSecret_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("password"); // null: none can be read
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<Replies>("replies");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // part of standard error
    QTest::addColumn<int>("requests");
    QTest::addColumn<QStringList>("after");

    const QStringList old{kOldToken, QStringLiteral("old"), kOldLink};
    const QStringList signedOut{QString(), QStringLiteral("old"), kOldLink};
    const QStringList registered{kOldToken, QStringLiteral("host"), kNewLink};
    const QString none;
    const QByteArray taken = R"(409 {"code":409,"error":"the host name \"host\" is taken"})";

    const QString unanswered = QStringLiteral("no answer from");
    const QStringList login{"login", "me@example.org"};
    const QStringList reg{"register", "host"};
    const QStringList updated{kNewToken, QStringLiteral("host"), kNewLink};
    const QStringList tokenOnly{kNewToken, QStringLiteral("old"), kOldLink};
    // A registration that is granted and saved is walked by the end-to-end test, through the real program.
    // clang-format off
    QTest::newRow("unknown command")   << QStringList{"frobnicate"} << kPassword << old << Replies{} << 64 << "unknown command 'frobnicate'" << 0 << old;
    QTest::newRow("unknown option")    << QStringList{"status", "--xml"} << kPassword << old << Replies{} << 64 << "unknown option '--xml'" << 0 << old;
    QTest::newRow("missing argument")  << QStringList{"login"} << kPassword << old << Replies{} << 64 << "login needs EMAIL" << 0 << old;
    QTest::newRow("extra argument")    << QStringList{"register", "a", "b"} << kPassword << old << Replies{} << 64 << "unexpected argument 'b'" << 0 << old;
    QTest::newRow("login, host saved") << login << kPassword << signedOut << Replies{} << 0 << none << 2 << updated;
    QTest::newRow("login, none saved") << login << kPassword << signedOut << Replies{{"/secure/api/get_dns", R"(404 {"code":404,"error":"no update link is saved"})"}} << 0 << none << 2 << tokenOnly;
    QTest::newRow("login refused")     << login << kPassword << signedOut << Replies{{"/login", R"(401 {"code":401,"error":"wrong password for this e-mail address"})"}} << 1 << "wrong password for this e-mail address" << 1 << signedOut;
    QTest::newRow("login, an array")   << login << kPassword << signedOut << Replies{{"/login", "200 []"}} << 1 << "not a JSON object" << 1 << signedOut;
    QTest::newRow("login unanswered")  << login << kPassword << signedOut << Replies{{"/login", "stall"}} << 2 << unanswered << 1 << signedOut;
    QTest::newRow("login, saved host unanswered") << login << kPassword << signedOut << Replies{{"/secure/api/get_dns", "stall"}} << 2 << unanswered << 2 << tokenOnly;
    QTest::newRow("login, settings held locked") << login << kPassword << signedOut << Replies{{"lock", ""}} << 1 << "did not reach the settings file" << 1 << signedOut;
    QTest::newRow("login, no password") << login << QString() << signedOut << Replies{} << 64 << "no password read" << 0 << signedOut;
    QTest::newRow("register taken")    << reg << kPassword << old << Replies{{"/new/host", taken}} << 1 << "the host name \"host\" is taken" << 1 << old;
    QTest::newRow("register signed out") << reg << kPassword << signedOut << Replies{} << 1 << "not signed in" << 0 << signedOut;
    QTest::newRow("register unanswered") << reg << kPassword << old << Replies{{"/new/host", "stall"}} << 2 << unanswered << 1 << old;
    QTest::newRow("register, not saved with the account") << reg << kPassword << old << Replies{{"/secure/api/save_dns", R"(401 {"code":401,"error":"unknown token"})"}} << 1 << "unknown token" << 2 << registered;
    QTest::newRow("status")            << QStringList{"status"} << kPassword << old << Replies{} << 0 << none << 0 << old;
    QTest::newRow("reset")             << QStringList{"reset"} << kPassword << old << Replies{} << 0 << none << 0 << QStringList{kOldToken, QString(), QString()};
    QTest::newRow("run, another updater runs") << QStringList{"run"} << kPassword << old << Replies{} << 1 << QStringLiteral("already runs for these settings (process %1)").arg(::getpid()) << 0 << old;
    QTest::newRow("run, an option without its value") << QStringList{"run", "--ping"} << kPassword << old << Replies{} << 64 << "--ping needs a value" << 0 << old;
    QTest::newRow("run, metrics on no address") << QStringList{"run", "--metrics", "localhost:9101"} << kPassword << old << Replies{} << 64 << "--metrics needs [ADDRESS:]PORT" << 0 << old;
    QTest::newRow("run, no such hook") << QStringList{"run", "--exec=no-such-hook-program"} << kPassword << old << Replies{} << 64 << "no program 'no-such-hook-program'" << 0 << old;
    QTest::newRow("logout")            << QStringList{"logout"} << kPassword << old << Replies{} << 0 << none << 0 << QStringList{QString(), QString(), QString()};
    // clang-format on
}

void CtlTest::command_endsWithItsStatus_storesAndPrintsNoSecret()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, password);
    QFETCH(QStringList, before);
    QFETCH(Replies, replies);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(int, requests);
    QFETCH(QStringList, after);

    for (qsizetype i = 0; i < kKeys.size(); ++i) {
        if (!before.at(i).isEmpty())
            storeSetting(kKeys.at(i), before.at(i));
    }
    // Another program writing the settings for longer than a command waits.
    QLockFile writer(Settings::defaultFilePath() + QStringLiteral(".lock"));
    if (replies.contains("lock"))
        QVERIFY(writer.tryLock());
    // Meanwhile this process is the updater of these settings, so run refuses to start a second.
    ProcessLock updater(setup::updaterLockPath());
    QVERIFY(updater.tryLock());
    TestServer server;
    server.setHandler([replies](const RecordedRequest &request) { return reply(request, replies); });
    endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());
    ConsoleCapture console;
    {
        CommandLine commandLine(testOptions(password));
        const Ended ended = start(commandLine, arguments);
        QTRY_VERIFY_WITH_TIMEOUT(ended->has_value(), 10'000);
        QCOMPARE(int(**ended), status);
    }
    if (error.isEmpty())
        QCOMPARE(console.errors(), QStringList());
    else
        QVERIFY2(console.errors().join(QLatin1Char('\n')).contains(error), qPrintable(console.all()));
    QCOMPARE(server.requestCount(), requests);
    QCOMPARE(stored(), after);
    QVERIFY2(!console.all().contains(kSecretMark), qPrintable(console.all()));
}

void CtlTest::run_withAnEmptyLink_updatesOnceOneIsStored_andStatusReportsIt()
{
    storeSetting(keys::kHostname, QStringLiteral("host"));
    storeSetting(keys::kDnsLink, QString());
    TestServer server;
    server.setHandler([](const RecordedRequest &request) { return reply(request, {}); });
    endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());
    ConsoleCapture console;
    CommandLine run(testOptions());
    const Ended ended = start(run, {"run"});
    // Without a link, run keeps running (the updater sends nothing, as its own test shows); stored by another
    // process, a link is updated from the next tick on, and status reports the update.
    storeSetting(keys::kDnsLink, QStringLiteral("/update/host/key-SECRET-7"));
    Core reader(Core::Options{});
    StatusCommand statusCommand(reader);
    QJsonObject status;
    QTRY_VERIFY_WITH_TIMEOUT((status = statusCommand.json()).value(QStringLiteral("last_update")).isObject(), 10'000);
    QJsonObject last = status.take(QStringLiteral("last_update")).toObject();
    const QString time = last.take(QStringLiteral("time")).toString();
    QVERIFY2(time.endsWith(QLatin1Char('Z')) && QDateTime::fromString(time, Qt::ISODate).isValid(), qPrintable(time));
    QCOMPARE(last, (QJsonObject{{"result", "updated"}, {"address", "192.0.2.7"}, {"error", QJsonValue::Null}}));
    const QString fullName = QStringLiteral("host") + endpoints::zoneSuffix();
    QCOMPARE(
        status,
        (QJsonObject{{"signed_in", false}, {"hostname", "host"}, {"full_name", fullName}, {"updater_running", true}}));

    QVERIFY(!ended->has_value());
    ::raise(SIGTERM);
    QTRY_VERIFY(ended->has_value());
    QCOMPARE(**ended, ExitStatus::Done);
}

void CtlTest::run_asAService_tellsSystemdMetricsHookAndPing_whichChangeNothing()
{
    // The ticks' replies: updated, refused, no answer twice (failing from the third failure), updated again
    // from another address; pings are answered with an error, and the hook fails.
    storeSetting(keys::kHostname, QStringLiteral("host"));
    storeSetting(keys::kDnsLink, kNewLink);
    TestServer server;
    int updates = 0;
    int pings = 0;
    server.setHandler([&](const RecordedRequest &request) {
        if (request.target.startsWith("/ping/"))
            return ++pings, ScriptedResponse::json("{}", 500);
        switch (++updates) {
        case 1:
            return ScriptedResponse::json(R"({"ip":"192.0.2.7"})");
        case 2:
            return ScriptedResponse::json(R"({"error":"unknown key key-SECRET-3"})", 400);
        case 3:
        case 4:
            return ScriptedResponse{
                ScriptedResponse::Action::DropMidBody, 200, {}, R"({"ip":"192.0.2.7"})", {}, {}, {}};
        default:
            return ScriptedResponse::json(R"({"ip":"192.0.2.8"})");
        }
    });
    endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());

    // systemd's side: a notify socket of the test's own, a watchdog for this process, the journal on stderr.
    QTemporaryDir dir;
    const QByteArray socketPath = QFile::encodeName(dir.filePath(QStringLiteral("notify")));
    const int notifySocket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    QCOMPARE(::bind(notifySocket, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    struct stat error = {};
    QCOMPARE(::fstat(STDERR_FILENO, &error), 0);
    const std::map<QByteArray, QByteArray> environment{
        {"NOTIFY_SOCKET", socketPath},
        {"WATCHDOG_USEC", "100000"},
        {"WATCHDOG_PID", QByteArray::number(::getpid())},
        {"JOURNAL_STREAM", QByteArray::number(error.st_dev) + ':' + QByteArray::number(error.st_ino)},
        {"VENNACOTT_LEAK", kSecretMark.toUtf8()}, // no hook may see this process's environment
    };
    for (const auto &[name, value] : environment)
        qputenv(name.constData(), value);
    // Drained as datagrams arrive, as systemd does: a full queue would block the sender.
    QStringList notified;
    const auto drain = [&] {
        char datagram[1024];
        for (ssize_t n; (n = ::recv(notifySocket, datagram, sizeof datagram, 0)) > 0;)
            notified.append(QString::fromUtf8(datagram, n));
    };
    QSocketNotifier readable(notifySocket, QSocketNotifier::Read);
    connect(&readable, &QSocketNotifier::activated, this, drain);
    const auto received = [&] {
        drain();
        return notified.join(QLatin1Char('|'));
    };

    // The hook records what it is told; on "failing" it hangs past its time limit.
    const QString hookLog = dir.filePath(QStringLiteral("hook.log"));
    const QString hook = dir.filePath(QStringLiteral("hook"));
    QFile script(hook);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n{ echo \"event $VENNACOTT_EVENT $VENNACOTT_HOST $VENNACOTT_FAMILY $VENNACOTT_ADDRESS "
                 "$VENNACOTT_PREVIOUS_ADDRESS $VENNACOTT_ERROR\"; env | sort; } >> " +
                 QFile::encodeName(hookLog) + "\n[ \"$VENNACOTT_EVENT\" = failing ] && exec sleep 30\nexit 3\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const auto hookRuns = [&] {
        QFile log(hookLog);
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    };

    ConsoleCapture console;
    Options options = testOptions();
    options.hookTimeLimit = 300ms;
    options.pingGap = 1h;
    {
        CommandLine run(options);
        const Ended ended = start(
            run, {"run", "--metrics", "127.0.0.1:0", "--exec", hook, "--ping", server.baseUrl() + "/ping/SECRET-9"});
        const QString full = QStringLiteral("host") + endpoints::zoneSuffix();
        QTRY_VERIFY_WITH_TIMEOUT(
            hookRuns().contains(QStringLiteral("event address-changed %1 any 192.0.2.8 192.0.2.7").arg(full)) &&
                console.all().contains("<4>vennacott-ddnsctl: hook " + hook + " (failing) ended"),
            20'000);
        QVERIFY2(hookRuns().contains(QStringLiteral("event failing %1 any 192.0.2.7 192.0.2.7 no answer").arg(full)),
                 qPrintable(hookRuns()));

        // A scrape, and what else the server answers.
        const QRegularExpression portLine(QStringLiteral("metrics at port (\\d+)"));
        const QString port = portLine.match(console.all()).captured(1);
        const auto get = [&port](const QByteArray &request) {
            QTcpSocket socket;
            QSignalSpy closed(&socket, &QTcpSocket::disconnected); // the server runs on this thread's loop
            socket.connectToHost(QStringLiteral("127.0.0.1"), port.toUShort());
            socket.write(request + " HTTP/1.0\r\n\r\n");
            closed.wait(10'000);
            return socket.readAll();
        };
        QVERIFY2(get("GET /").startsWith("HTTP/1.1 404"), get("GET /"));
        QVERIFY(get("DELETE /metrics").startsWith("HTTP/1.1 405"));
        const QString metrics = QString::fromUtf8(get("GET /metrics"));
        for (const QString &sample :
             {QStringLiteral("updates_total{family=\"any\",result=\"updated\"} [2-9]"),
              QStringLiteral("updates_total{family=\"any\",result=\"refused\"} 1\n"),
              QStringLiteral("updates_total{family=\"any\",result=\"no_answer\"} 2\n"),
              QStringLiteral("failures_in_a_row{family=\"any\"} 0\n"),
              QStringLiteral("address_info{family=\"any\",address=\"192.0.2.8\"} 1\n"),
              QStringLiteral("last_success_timestamp_seconds{family=\"any\"} 1[0-9]{9}\\.[0-9]{3}\n"),
              QStringLiteral("\n# EOF\n$")})
            QVERIFY2(metrics.contains(QRegularExpression(sample)), qPrintable(sample + QLatin1Char('\n') + metrics));

        QTRY_VERIFY(received().contains(QLatin1String("WATCHDOG=1")));
        QVERIFY(!ended->has_value());
    }
    readable.setEnabled(false);
    ::close(notifySocket);
    for (const auto &[name, value] : environment)
        qunsetenv(name.constData());

    const QString sent = received();
    QVERIFY2(notified.value(0) == QLatin1String("READY=1\nSTATUS=waiting for the first update"), qPrintable(sent));
    for (const QString &status :
         {QStringLiteral("STATUS=updated \\d\\d:\\d\\d UTC, 192.0.2.7\\|"),
          QStringLiteral("STATUS=refused since \\d\\d:\\d\\d UTC: unknown key \\[redacted\\]\\|"),
          QStringLiteral("STATUS=no answer since \\d\\d:\\d\\d UTC\\|")})
        QVERIFY2(sent.contains(QRegularExpression(status)), qPrintable(status + QLatin1Char('\n') + sent));
    // The heartbeat: once in the gap, whatever it was answered, and the updates went on as scripted above.
    QCOMPARE(pings, 1);
    for (const char *problem :
         {"<3>vennacott-ddnsctl: update refused: unknown key [redacted]\n", "<4>vennacott-ddnsctl: no answer since"})
        QVERIFY2(console.all().contains(problem), qPrintable(console.all()));
    for (const QString &line : console.output())
        QVERIFY2(!line.startsWith(QLatin1Char('<')), qPrintable(line));
    // The environment is the hook's own: VENNACOTT_* and PATH, HOME, LANG.
    const QStringList names =
        hookRuns().split(QLatin1Char('\n')).filter(QRegularExpression(QStringLiteral("^[A-Z_]+=")));
    for (const QString &name : names)
        QVERIFY2(name.contains(QRegularExpression(QStringLiteral("^(VENNACOTT_|PATH=|HOME=|LANG=|PWD=|SHLVL=|_=)"))),
                 qPrintable(name));
    QVERIFY2(!(sent + hookRuns() + console.errors().join(QLatin1Char('\n'))).contains(kSecretMark),
             qPrintable(sent + hookRuns() + console.errors().join(QLatin1Char('\n'))));
}

void CtlTest::passwordPrompt_stoppedByCtrlZ_showsEchoUntilContinued()
{
    QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    QByteArray role("VENNACOTT_TEST_CHILD=password-prompt");
    std::vector<char *> environment{role.data()}; // first, so it wins
    for (char **variable = environ; *variable; ++variable)
        environment.push_back(*variable);
    environment.push_back(nullptr);
    char *const argv[] = {self.data(), nullptr};
    int terminal = -1;
    const pid_t shell = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (shell == 0)
        jobControl(argv, environment.data());
    QVERIFY(shell > 0);
    const auto reap = qScopeGuard([&] {
        ::kill(shell, SIGKILL); // its job gets the terminal's hang-up
        ::close(terminal);
        ::waitpid(shell, nullptr, 0);
    });
    QByteArray shown;
    // What the terminal shows, until `text` has appeared `times` times or 20 seconds have passed.
    const auto waitFor = [&](const QByteArray &text, qsizetype times = 1) {
        const QDeadlineTimer deadline(20'000);
        while (shown.count(text) < times) {
            pollfd ready = {terminal, POLLIN, 0};
            char buffer[256];
            if (::poll(&ready, 1, int(deadline.remainingTime())) <= 0)
                break;
            const ssize_t got = ::read(terminal, buffer, sizeof buffer);
            if (got <= 0)
                break;
            shown.append(buffer, got);
        }
        return shown.count(text) >= times;
    };
    const auto echoOn = [&] {
        termios now = {};
        return ::tcgetattr(terminal, &now) == 0 && (now.c_lflag & ECHO);
    };
    const QByteArray password = kPassword.toUtf8();

    QVERIFY2(waitFor("Password: "), shown.constData());
    QVERIFY(!echoOn());
    QCOMPARE(::write(terminal, "pw-\x1a", 4), 4); // half a password, then Ctrl-Z
    QVERIFY2(waitFor("stopped, echo "), shown.constData());
    QVERIFY2(shown.contains("stopped, echo on"), shown.constData());
    // Continued: echo off again, and the prompt asks anew.
    QVERIFY2(waitFor("Password: ", 2), shown.constData());
    QVERIFY(!echoOn());
    QCOMPARE(::write(terminal, password + '\n', password.size() + 1), password.size() + 1);
    QVERIFY2(waitFor("read " + password + '\r'), shown.constData());
    QCOMPARE(shown.count(password), 1); // never echoed
}

VENNACOTT_TEST_MAIN_WITH_CHILD(CtlTest, QCoreApplication, childMain)
#include "tst_ctl.moc"
