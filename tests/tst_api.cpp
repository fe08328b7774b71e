// The account and host API against the local test server: decisions, redaction, names sent, late answers.
#include "api.h"
#include "core.h"
#include "endpoints.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "urlsession.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <atomic>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

// How an operation ended, and on which thread; the count goes up last, so the rest is set once it shows.
struct Answer
{
    std::atomic<int> calls = 0;
    bool success = false;
    QString text;
    QThread *thread = nullptr;

    EndObserver observer()
    {
        return [this](const OperationEnd &end) {
            success = end.kind == OperationEnd::Kind::Done;
            text = success ? end.value : end.error;
            thread = QThread::currentThread();
            ++calls;
        };
    }
};

} // namespace

class ApiTest final : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestServer> m_server;

private Q_SLOTS:
    void init()
    {
        clearSettings();
        m_server = std::make_unique<TestServer>();
        endpoints::overrideForTesting(m_server->baseUrl(), m_server->baseUrl());
    }
    void cleanup() { endpoints::overrideForTesting(QString(), QString()); }

    void reply_decidesOutcomeAndPrintedLine_data()
    {
        QTest::addColumn<QString>("call"); // "login", or the host name to register
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("text");    // what it brought, or why it was refused ("ours": a text of the client's)
        QTest::addColumn<QString>("printed"); // the last line printed; empty when none is, nor any request sent
        // Registration succeeds only with an update link; its key is never printed. (A token that is no text, and a
        // reply that is no object or holds no link, are the reply fuzz target's; saving and reading the saved host are
        // the command line's rows.) A name is sent as typed, or refused here.
        const QByteArray granted = R"({"update_link":"/update/me/k3y"})";
        const QString grantedLine = QStringLiteral(R"({"update_link":"/update/me/[redacted]"})");
        // clang-format off
        QTest::newRow("login: 401 with a token")      << "login" << 401 << QByteArray(R"({"code":401,"token":"new"})") << false << "ours" << "3 [redacted] 401";
        QTest::newRow("login: token without code")    << "login" << 200 << QByteArray(R"({"token":"new"})") << true << "new" << "3 [redacted] 1";
        QTest::newRow("login: code as a string")      << "login" << 200 << QByteArray(R"({"code":"401","token":"new"})") << true << "new" << "3 [redacted] 1";
        QTest::newRow("login: code 401.0")            << "login" << 200 << QByteArray(R"({"code":401.0,"token":"new"})") << false << "ours" << "3 [redacted] 401";
        QTest::newRow("login: code 401.5 is no code") << "login" << 200 << QByteArray(R"({"code":401.5,"token":"new"})") << true << "new" << "3 [redacted] 1";
        QTest::newRow("login: empty token")           << "login" << 200 << QByteArray(R"({"token":""})") << false << "ours" << "3  1";
        QTest::newRow("login: token with line break") << "login" << 200 << QByteArray(R"({"token":"a\r\nX: 1"})") << false << "ours" << "3 [redacted] 1";
        QTest::newRow("register: granted")              << "me" << 200 << granted << true << "/update/me/k3y" << grantedLine;
        QTest::newRow("register: empty error")          << "me" << 200 << QByteArray(R"({"error":"","update_link":"/update/me/k"})") << true << "/update/me/k" << R"({"error":"","update_link":"/update/me/[redacted]"})";
        QTest::newRow("register: error wins over link") << "me" << 409 << QByteArray(R"({"error":"taken","update_link":"/u/k"})") << false << "taken" << R"({"error":"taken","update_link":"/u/[redacted]"})";
        QTest::newRow("register: error is a boolean")   << "me" << 200 << QByteArray(R"({"error":true,"update_link":"/u"})") << true << "/u" << R"({"error":true,"update_link":"/[redacted]"})";
        QTest::newRow("register: link empty")           << "me" << 200 << QByteArray(R"({"update_link":""})") << false << "ours" << R"({"update_link":""})";
        // clang-format on
        for (const char *name : {"MyHost", "", "a-b_c.d~e"})
            QTest::addRow("sent: '%s'", name)
                << QString::fromUtf8(name) << 200 << granted << true << "/update/me/k3y" << grantedLine;
        for (const char *name : {"a/b", "a?b=1", "a#b", "a%2Fb", "my host", "a\nb", "a\x7f", "héllo", ".."})
            QTest::addRow("refused: %s", name) << QString::fromUtf8(name) << 200 << granted << false << "ours"
                                               << "";
    }
    void reply_decidesOutcomeAndPrintedLine()
    {
        QFETCH(QString, call);
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(bool, success);
        QFETCH(QString, text);
        QFETCH(QString, printed);
        m_server->respondWith(ScriptedResponse::json(reply, status));
        Answer answer;
        ConsoleCapture console;
        if (call == u"login")
            login(QStringLiteral("me@x.example"), QStringLiteral("pw"), QStringLiteral("old"), answer.observer());
        else
            registerHost(call, answer.observer());
        QTRY_COMPARE_WITH_TIMEOUT(answer.calls.load(), 1, 10'000);
        // Refused or answered, the callback comes on the delivery thread, as every callback does.
        QCOMPARE(answer.thread, UrlSession::shared().deliveryThread());
        QCOMPARE(answer.success, success);
        QVERIFY2(text == u"ours" ? !answer.text.isEmpty() : answer.text == text, qPrintable(answer.text));
        // No password or token in any line: the command line's test and the reply fuzz target check that.
        QCOMPARE(console.output().value(console.output().size() - 1), printed);
        QCOMPARE(console.all().isEmpty(), printed.isEmpty());
        QCOMPARE(m_server->requestCount(), printed.isEmpty() ? 0 : 1);
        if (call != u"login" && !printed.isEmpty())
            QCOMPARE(m_server->requests().constFirst().target, QByteArray("/new/") + call.toUtf8());
    }
    void lateAnswer_afterTheSessionMovedOn_changesNothing_data()
    {
        QTest::addColumn<QString>("operation");  // answered late
        QTest::addColumn<QString>("meanwhile");  // what the user, or the other program, did before the answer came
        QTest::addColumn<QStringList>("stored"); // token, host name, link afterwards
        // clang-format off
        QTest::newRow("sign-in, then sign-out")             << "signIn" << "signOut" << QStringList{"", "", ""};
        QTest::newRow("saved host, then reset")             << "fetch" << "reset" << QStringList{"old", "", ""};
        QTest::newRow("saved host, then sign-in elsewhere") << "fetch" << "elsewhere" << QStringList{"other", "", ""};
        QTest::newRow("registration, then another")         << "register" << "register" << QStringList{"old", "b", "/update/b/k"};
        // clang-format on
    }
    void lateAnswer_afterTheSessionMovedOn_changesNothing()
    {
        QFETCH(QString, operation);
        QFETCH(QString, meanwhile);
        QFETCH(QStringList, stored);
        storeSetting(keys::kToken,
                     operation == u"signIn" ? std::nullopt : std::optional<QString>(QStringLiteral("old")));
        m_server->setHandler([](const RecordedRequest &request) {
            const QByteArray path = request.target;
            ScriptedResponse response = ScriptedResponse::json(
                path == "/login"                ? R"({"token":"new"})"
                : path == "/secure/api/get_dns" ? R"("/update/a/k")"
                : path.startsWith("/new/")      ? R"({"update_link":"/update/)" + path.mid(5) + R"(/k"})"
                                                : R"({})");
            response.delay = path == "/new/b" ? 0ms : 300ms;
            return response;
        });
        Core core(Core::Options{});
        Session &session = core.session();
        std::optional<OperationResult> late;
        const ResultHandler keep = [&late](const OperationResult &result) { late = result; };
        if (operation == u"signIn")
            session.signIn(QStringLiteral("me@x.example"), QStringLiteral("pw"), keep);
        else if (operation == u"fetch")
            session.fetchSavedHost(keep);
        else
            session.registerHost(QStringLiteral("a"), keep);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(), 1, 10'000);
        if (meanwhile == u"signOut")
            session.signOut();
        else if (meanwhile == u"reset")
            session.reset();
        else if (meanwhile == u"elsewhere")
            storeSetting(keys::kToken, QStringLiteral("other"));
        else
            session.registerHost(QStringLiteral("b"), [](const OperationResult &) {});
        QTRY_VERIFY_WITH_TIMEOUT(late.has_value(), 10'000);
        QCOMPARE(int(late->kind), int(OperationResult::Kind::Superseded));
        // Nothing stored, and nothing saved with the account for the older registration.
        QTest::qWait(400);
        QStringList now;
        for (const QString &key : {keys::kToken, keys::kHostname, keys::kDnsLink})
            now.append(storedSetting(key).value_or(QString()));
        QCOMPARE(now, stored);
        for (const RecordedRequest &request : m_server->requests())
            QVERIFY(!request.body.contains("/update/a/"));
    }
};

VENNACOTT_TEST_MAIN(ApiTest, QCoreApplication)
#include "tst_api.moc"
