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
#include <QLockFile>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <tuple>
#include <unistd.h>

using namespace vennacott;
using namespace vennacott::ctl;
using namespace vennacott::test;

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

VENNACOTT_TEST_MAIN_WITH_CHILD(CtlTest, QCoreApplication, childMain)
#include "tst_ctl.moc"
