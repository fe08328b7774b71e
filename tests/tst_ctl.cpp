// vennacott-ddnsctl's commands in this process against the local test server: exit statuses, what is stored and
// printed; the password prompt on a terminal.
#include "commandline.h"
#include "endpoints.h"
#include "passwordprompt.h"
#include "processlock.h"
#include "settings.h"
#include "settingskeys.h"
#include "setuppaths.h"
#include "testserver.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
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
#include <map>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <tuple>
#include <unistd.h>

using namespace vennacott;
using namespace vennacott::ctl;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

// Every secret of these tests holds this word, so one search covers the password, tokens and update keys.
const QString kSecretMark = QStringLiteral("SECRET"), kPassword = QStringLiteral("pw-SECRET-2");
const QString kOldToken = QStringLiteral("tok-SECRET-0"), kNewToken = QStringLiteral("tok-SECRET-1");
const QString kOldLink = QStringLiteral("/update/old/key-SECRET-0"),
              kNewLink = QStringLiteral("/update/host/key-SECRET-3");

// Replies by request path that differ from the granting ones: "stall", or the status and the body; and the
// circumstances: "lock" (another program holds the settings locked), "no password" (none can be read).
using Replies = QMap<QByteArray, QByteArray>;
// The arguments, the settings before (token, host name, link), the replies, the exit status, part of standard error,
// the requests sent and the settings after.
using Case = std::tuple<QStringList, QStringList, Replies, int, QString, int, QStringList>;

ScriptedResponse reply(const RecordedRequest &request, const Replies &overrides)
{
    const QByteArray path = request.target, scripted = overrides.value(path);
    if (scripted == "stall")
        return {ScriptedResponse::Action::Stall, 0, {}, {}, {}, {}, {}};
    if (!scripted.isEmpty())
        return ScriptedResponse::json(scripted.mid(scripted.indexOf(' ') + 1), scripted.left(3).toInt());
    if (path == "/login")
        return ScriptedResponse::json(R"({"token":")" + kNewToken.toUtf8() + R"("})");
    if (path == "/secure/api/get_dns") // a JSON string, its slashes escaped: the link is its value
        return ScriptedResponse::json('"' + kNewLink.toUtf8().replace("/", "\\/") + '"');
    if (path == "/new/host")
        return ScriptedResponse::json(R"({"update_link":")" + kNewLink.toUtf8() + R"("})");
    if (path == "/secure/api/save_dns")
        return ScriptedResponse::json(R"({"saved":true})");
    return ScriptedResponse::json(R"({"code":404,"error":"no such path"})", 404);
}

// The token, the host name and the link, as they are stored or to be stored ("" for none).
const QStringList kKeys{keys::kToken, keys::kHostname, keys::kDnsLink};

QStringList stored()
{
    QStringList values;
    for (const QString &key : kKeys)
        values << storedSetting(key).value_or(QString());
    return values;
}

using Ended = std::shared_ptr<std::optional<ExitStatus>>;

Ended start(CommandLine &commandLine, const QStringList &arguments)
{
    auto ended = std::make_shared<std::optional<ExitStatus>>();
    commandLine.start(arguments, [ended](ExitStatus status) { *ended = status; });
    return ended;
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
[[noreturn]] void jobControl(char *const argv[])
{
    ::signal(SIGTTOU, SIG_IGN); // it takes the terminal back from the background, as shells do
    const pid_t job = ::fork();
    if (job == 0) {
        ::setpgid(0, 0);
        ::tcsetpgrp(STDIN_FILENO, ::getpid());
        ::signal(SIGTTOU, SIG_DFL);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::setpgid(job, job);
    int status = 0;
    while (::waitpid(job, &status, WUNTRACED) == job && WIFSTOPPED(status)) {
        termios now = {};
        const char *said =
            ::tcgetattr(STDIN_FILENO, &now) == 0 && (now.c_lflag & ECHO) ? "stopped, echo on\n" : "off\n";
        [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, said, std::strlen(said));
        ::tcsetpgrp(STDIN_FILENO, job);
        ::kill(-job, SIGCONT);
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

} // namespace

Q_DECLARE_METATYPE(Case)

class CtlTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { clearSettings(); }
    void run_asAService_tellsSystemdMetricsHookAndPing_whichChangeNothing();
    void cleanup() { endpoints::overrideForTesting({}, {}); }

    void command_endsWithItsStatus_storesAndPrintsNoSecret_data()
    {
        QTest::addColumn<Case>("row");
        const QStringList old{kOldToken, QStringLiteral("old"), kOldLink};
        const QStringList signedOut{QString(), QStringLiteral("old"), kOldLink};
        const QStringList tokenOnly{kNewToken, QStringLiteral("old"), kOldLink};
        const QString none, unanswered = QStringLiteral("no answer from");
        const QStringList login{"login", "me@example.org"}, reg{"register", "host"};
        // A registration granted and saved, status, reset and logout: the end-to-end test walks them.
        // clang-format off
        QTest::newRow("unknown command")   << Case{{"frobnicate"}, old, {}, 64, "unknown command 'frobnicate'", 0, old};
        QTest::newRow("run, an option without its value") << Case{{"run", "--ping"}, old, {}, 64, "--ping needs a value", 0, old};
        QTest::newRow("run, metrics on no address") << Case{{"run", "--metrics", "localhost:9101"}, old, {}, 64, "--metrics needs [ADDRESS:]PORT", 0, old};
        QTest::newRow("run, unknown family") << Case{{"run", "--family=ipv5"}, old, {}, 64, "--family takes ipv4, ipv6 or both, not 'ipv5'", 0, old};
        QTest::newRow("run, bad interface") << Case{{"run", "--interface", "a/b"}, old, {}, 64, "'a/b' is not a network interface name", 0, old};
        QTest::newRow("run, no such hook") << Case{{"run", "--exec=no-such-hook-program"}, old, {}, 64, "no program 'no-such-hook-program'", 0, old};
        QTest::newRow("login, host saved") << Case{login, signedOut, {}, 0, none, 2, QStringList{kNewToken, "host", kNewLink}};
        QTest::newRow("login, none saved") << Case{login, signedOut, {{"/secure/api/get_dns", R"(404 {"code":404,"error":"no update link is saved"})"}}, 0, none, 2, tokenOnly};
        QTest::newRow("login refused")     << Case{login, signedOut, {{"/login", R"(401 {"code":401,"error":"wrong password for this e-mail address"})"}}, 1, "wrong password for this e-mail address", 1, signedOut};
        QTest::newRow("login unanswered")  << Case{login, signedOut, {{"/login", "stall"}}, 2, unanswered, 1, signedOut};
        QTest::newRow("login, saved host unanswered") << Case{login, signedOut, {{"/secure/api/get_dns", "stall"}}, 2, unanswered, 2, tokenOnly};
        QTest::newRow("login, settings held locked") << Case{login, signedOut, {{"lock", ""}}, 1, "did not reach the settings file", 1, signedOut};
        QTest::newRow("login, no password") << Case{login, signedOut, {{"no password", ""}}, 64, "no password read", 0, signedOut};
        QTest::newRow("register taken")    << Case{reg, old, {{"/new/host", "409 {\"error\":\"the host name \\\"host\\\" is taken\"}"}}, 1, "the host name \"host\" is taken", 1, old};
        QTest::newRow("register signed out") << Case{reg, signedOut, {}, 1, "not signed in", 0, signedOut};
        QTest::newRow("register, not saved with the account") << Case{reg, old, {{"/secure/api/save_dns", R"(401 {"code":401,"error":"unknown token"})"}}, 1, "unknown token", 2, QStringList{kOldToken, "host", kNewLink}};
        QTest::newRow("run, another updater runs") << Case{{"run"}, old, {}, 1, QStringLiteral("already runs for these settings (process %1)").arg(::getpid()), 0, old};
        // clang-format on
    }
    void command_endsWithItsStatus_storesAndPrintsNoSecret()
    {
        QFETCH(Case, row);
        const auto &[arguments, before, replies, status, error, requests, after] = row;
        for (qsizetype i = 0; i < kKeys.size(); ++i)
            if (!before.at(i).isEmpty())
                storeSetting(kKeys.at(i), before.at(i));
        QLockFile writer(Settings::defaultFilePath() + QStringLiteral(".lock"));
        if (replies.contains("lock"))
            QVERIFY(writer.tryLock());
        // This process is the updater of these settings, so run refuses to start a second.
        ProcessLock updater(setup::updaterLockPath());
        QVERIFY(updater.tryLock());
        TestServer server;
        server.setHandler([replies = replies](const RecordedRequest &request) { return reply(request, replies); });
        endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());
        ConsoleCapture console;
        {
            Options options;
            options.readPassword = [&replies = replies](const QString &) {
                return replies.contains("no password") ? std::nullopt : std::optional<QString>(kPassword);
            };
            CommandLine commandLine(options);
            std::optional<ExitStatus> ended;
            commandLine.start(arguments, [&ended](ExitStatus status) { ended = status; });
            QTRY_VERIFY_WITH_TIMEOUT(ended.has_value(), 10'000);
            QCOMPARE(int(*ended), status);
        }
        const bool said = error.isEmpty() ? console.errors().isEmpty() : console.errors().join('\n').contains(error);
        QVERIFY2(said && !console.all().contains(kSecretMark), qPrintable(console.all()));
        QCOMPARE(server.requestCount(), requests);
        QCOMPARE(stored(), after);
    }
    void passwordPrompt_stoppedByCtrlZ_showsEchoUntilContinued()
    {
        QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
        char *const argv[] = {self.data(), nullptr};
        int terminal = -1;
        qputenv("VENNACOTT_TEST_CHILD", "password-prompt"); // for the child only
        const pid_t shell = ::forkpty(&terminal, nullptr, nullptr, nullptr);
        if (shell == 0)
            jobControl(argv);
        qunsetenv("VENNACOTT_TEST_CHILD");
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
            char buffer[256];
            pollfd ready = {terminal, POLLIN, 0};
            ssize_t got = 0;
            while (shown.count(text) < times && ::poll(&ready, 1, int(deadline.remainingTime())) > 0 &&
                   (got = ::read(terminal, buffer, sizeof buffer)) > 0)
                shown.append(buffer, got);
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
        QVERIFY2(waitFor("stopped, echo on"), shown.constData());
        // Continued: echo off again, and the prompt asks anew.
        QVERIFY2(waitFor("Password: ", 2), shown.constData()); // (echo off again: the password is never shown)
        QCOMPARE(::write(terminal, password + '\n', password.size() + 1), password.size() + 1);
        QVERIFY2(waitFor("read " + password + '\r'), shown.constData());
        QCOMPARE(shown.count(password), 1); // never echoed
    }
};

void CtlTest::run_asAService_tellsSystemdMetricsHookAndPing_whichChangeNothing()
{
    // The ticks' replies: updated, refused, no answer twice (failing from the third failure), updated again
    // from another address; pings are answered with an error, and the hook fails.
    storeSetting(keys::kHostname, QStringLiteral("host"));
    storeSetting(keys::kDnsLink, kNewLink);
    QFile::remove(setup::historyFilePath());
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
    Options options;
    options.updateInterval = 100ms;
    options.hookTimeLimit = 300ms;
    options.pingGap = 1h;
    {
        CommandLine run(options);
        const Ended ended = start(
            run, {"run", "--metrics", "127.0.0.1:0", "--exec", hook, "--ping", server.baseUrl() + "/ping/SECRET-9"});
        const QString full = QStringLiteral("host") + endpoints::zoneSuffix();
        QTRY_VERIFY_WITH_TIMEOUT(
            hookRuns().contains(QStringLiteral("event address-changed %1 ipv4 192.0.2.8 192.0.2.7").arg(full)) &&
                console.all().contains("<4>vennacott-ddnsctl: hook " + hook + " (failing) ended"),
            20'000);
        // A request that got no answer tells no family: "any".
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
    // What changed is in the history, as the other command reads it.
    CommandLine history(options);
    const Ended shown = start(history, {"history", "--json"});
    QTRY_VERIFY(shown->has_value());
    const QStringList arrays = console.output().filter(QRegularExpression(QStringLiteral("^\\[")));
    QCOMPARE(arrays.size(), 1);
    const QJsonObject last = QJsonDocument::fromJson(arrays.constFirst().toUtf8()).array().last().toObject();
    QCOMPARE(last.value("address").toString() + ' ' + last.value("family").toString(), "192.0.2.8 ipv4");
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

VENNACOTT_TEST_MAIN_WITH_CHILD(CtlTest, QCoreApplication, childMain)
#include "tst_ctl.moc"
