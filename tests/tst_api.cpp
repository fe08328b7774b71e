// The account and host API against the local test server: wire bytes, decisions, storage, redaction.
#include "api.h"
#include "endpoints.h"
#include "redaction.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QThread>

#include <mutex>

using namespace vennacott;
using namespace vennacott::test;

namespace {

// What an API callback reported, and on which thread.
struct Answer
{
    std::mutex mutex;
    int calls = 0;
    bool success = false;
    QString text;
    QThread *thread = nullptr;

    SuccessCallback flag()
    {
        return [this](bool ok) { record(ok, QString()); };
    }
    SuccessTextCallback flagAndText()
    {
        return [this](bool ok, const QString &received) { record(ok, received); };
    }
    void record(bool ok, const QString &received)
    {
        const std::lock_guard lock(mutex);
        ++calls;
        success = ok;
        text = received;
        thread = QThread::currentThread();
    }
    int callCount()
    {
        const std::lock_guard lock(mutex);
        return calls;
    }
};

} // namespace

class ApiTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void requests_onTheWire_data();
    void requests_onTheWire();
    void login_decisions_data();
    void login_decisions();
    void login_neverPrintsPasswordOrToken();
    void registration_decisions_data();
    void registration_decisions();
    void registration_sendsTheNameAsTypedOrRefusesItHere_data();
    void registration_sendsTheNameAsTypedOrRefusesItHere();
    void savedHostCalls_reportWhatTheyGet_data();
    void savedHostCalls_reportWhatTheyGet();

private:
    std::unique_ptr<TestServer> m_server;
};

void ApiTest::init()
{
    clearSettings();
    m_server = std::make_unique<TestServer>();
    endpoints::overrideForTesting(m_server->baseUrl(), m_server->baseUrl());
}

void ApiTest::cleanup()
{
    m_server.reset();
    endpoints::overrideForTesting(QString(), QString());
}

void ApiTest::requests_onTheWire_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QVariantMap>("body"); // for POST
    const QVariantMap credentials{{QStringLiteral("Email"), QStringLiteral("me@x.example")},
                                  {QStringLiteral("Password"), QStringLiteral("hunter22")}};
    const QVariantMap key{{QStringLiteral("Key"), QStringLiteral("/update/me/k")}};
    // A stored token goes with every POST (the transport's tests cover when it is not sent) and never with a GET.
    QTest::newRow("login") << "login" << QByteArray("POST") << QByteArray("/login") << credentials;
    QTest::newRow("register") << "register" << QByteArray("GET") << QByteArray("/new/me") << QVariantMap();
    QTest::newRow("save") << "save" << QByteArray("POST") << QByteArray("/secure/api/save_dns") << key;
    QTest::newRow("get") << "get" << QByteArray("POST") << QByteArray("/secure/api/get_dns") << QVariantMap();
}

void ApiTest::requests_onTheWire()
{
    QFETCH(QString, call);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QVariantMap, body);
    UserDefaults::standard().setObject(QStringLiteral("tok-1"), keys::kToken);

    Answer answer;
    const quint64 before = UrlSession::shared().finishedTaskCount();
    if (call == QLatin1String("login"))
        login(QStringLiteral("me@x.example"), QStringLiteral("hunter22"), answer.flag());
    else if (call == QLatin1String("register"))
        registerHost(QStringLiteral("me"), answer.flagAndText());
    else if (call == QLatin1String("save"))
        setSavedHost(QStringLiteral("/update/me/k"), answer.flag());
    else
        getSavedHost(answer.flagAndText());
    QVERIFY(waitForFinishedTasks(before));

    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest request = m_server->requests().constFirst();
    QCOMPARE(request.method, method);
    QCOMPARE(request.target, target);
    QCOMPARE(request.header("Authorization"), method == "POST" ? QByteArray("Bearer tok-1") : QByteArray());
    if (method == "POST")
        QCOMPARE(QJsonDocument::fromJson(request.body).object().toVariantMap(), body);
    else
        QVERIFY(request.body.isEmpty());
    QCOMPARE(answer.callCount(), 1);
    QCOMPARE(answer.thread, UrlSession::shared().deliveryThread());
}

void ApiTest::login_decisions_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("stored"); // the token afterwards; "old" is the one stored before
    QTest::addColumn<QString>("line3");

    // clang-format off
    QTest::newRow("401 with a token")      << 401 << QByteArray(R"({"code":401,"token":"new"})") << false << "old" << "3 [redacted] 401";
    QTest::newRow("token without code")    << 200 << QByteArray(R"({"token":"new"})") << true << "new" << "3 [redacted] 1";
    QTest::newRow("code as a string")      << 200 << QByteArray(R"({"code":"401","token":"new"})") << true << "new" << "3 [redacted] 1";
    QTest::newRow("code 401.0")            << 200 << QByteArray(R"({"code":401.0,"token":"new"})") << false << "old" << "3 [redacted] 401";
    QTest::newRow("code 401.5 is no code") << 200 << QByteArray(R"({"code":401.5,"token":"new"})") << true << "new" << "3 [redacted] 1";
    QTest::newRow("other code")            << 200 << QByteArray(R"({"code":200,"token":"new"})") << true << "new" << "3 [redacted] 200";
    QTest::newRow("empty token")           << 200 << QByteArray(R"({"token":""})") << false << "old" << "3  1";
    QTest::newRow("neither member")        << 200 << QByteArray(R"({"message":"hi"})") << false << "old" << "3  1";
    QTest::newRow("token not a string")    << 200 << QByteArray(R"({"token":12345})") << false << "old" << "3  1";
    QTest::newRow("refused without token") << 401 << QByteArray(R"({"code":401,"message":"wrong"})") << false << "old" << "3  401";
    QTest::newRow("not JSON")              << 502 << QByteArray("<html>bad gateway</html>") << false << "old" << "3  1";
    QTest::newRow("token with line break") << 200 << QByteArray(R"({"token":"a\r\nX: 1"})") << false << "old" << "3 [redacted] 1";
    // clang-format on
}

void ApiTest::login_decisions()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(bool, success);
    QFETCH(QString, stored);
    QFETCH(QString, line3);
    UserDefaults::standard().setObject(QStringLiteral("old"), keys::kToken);
    m_server->respondWith(ScriptedResponse::json(reply, status));

    Answer answer;
    ConsoleCapture console;
    login(QStringLiteral("me@x.example"), QStringLiteral("pw"), answer.flag());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
    QCOMPARE(answer.success, success);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kToken), stored);

    const QStringList lines = console.output();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0), QStringLiteral("me@x.example [redacted]"));
    QCOMPARE(lines.at(2), line3);
}

void ApiTest::login_neverPrintsPasswordOrToken()
{
    m_server->respondWith(ScriptedResponse::json(R"({"token":"tok-SECRET-9","user":"a"})"));
    // The empty password stays empty on the first line; any other is replaced, like the token in the reply.
    for (const QString &password : {QStringLiteral("s3cret-pw"), QString()}) {
        Answer answer;
        ConsoleCapture console;
        login(QStringLiteral("a@b.example"), password, answer.flag());
        QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
        const QStringList lines = console.output();
        QCOMPARE(lines.at(0), QStringLiteral("a@b.example ") + (password.isEmpty() ? QString() : kRedacted));
        const QJsonObject printed = QJsonDocument::fromJson(lines.at(1).toUtf8()).object();
        QCOMPARE(printed.value(QStringLiteral("token")).toString(), kRedacted);
        QCOMPARE(printed.value(QStringLiteral("user")).toString(), QStringLiteral("a"));
        QVERIFY(!console.all().contains(QStringLiteral("tok-SECRET-9")));
        QVERIFY(password.isEmpty() || !console.all().contains(password));
    }
}

void ApiTest::registration_decisions_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("text"); // "ours" for a refusal the client words itself
    QTest::addColumn<QString>("printed");

    const QString ours = QStringLiteral("ours");
    // clang-format off
    QTest::newRow("granted")              << 200 << QByteArray(R"({"update_link":"/update/me/k3y"})") << true << "/update/me/k3y" << R"({"update_link":"/update/me/[redacted]"})";
    QTest::newRow("empty error")          << 200 << QByteArray(R"({"error":"","update_link":"/update/me/k"})") << true << "/update/me/k" << R"({"error":"","update_link":"/update/me/[redacted]"})";
    QTest::newRow("error wins over link") << 409 << QByteArray(R"({"error":"taken","update_link":"/u/k"})") << false << "taken" << R"({"error":"taken","update_link":"/u/[redacted]"})";
    QTest::newRow("error is a boolean")   << 200 << QByteArray(R"({"error":true,"update_link":"/u"})") << true << "/u" << R"({"error":true,"update_link":"/[redacted]"})";
    QTest::newRow("error is a number")    << 200 << QByteArray(R"({"error":1})") << false << ours << R"({"error":1})";
    QTest::newRow("link missing")         << 200 << QByteArray(R"({})") << false << ours << "{}";
    QTest::newRow("link empty")           << 200 << QByteArray(R"({"update_link":""})") << false << ours << R"({"update_link":""})";
    QTest::newRow("link not a string")    << 200 << QByteArray(R"({"update_link":["/u"]})") << false << ours << R"({"update_link":["/u"]})";
    QTest::newRow("proxy's page")         << 502 << QByteArray("<html>Bad Gateway</html>") << false << ours << "false";
    // clang-format on
}

void ApiTest::registration_decisions()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(bool, success);
    QFETCH(QString, text);
    QFETCH(QString, printed);
    m_server->respondWith(ScriptedResponse::json(reply, status));
    Answer answer;
    ConsoleCapture console;
    registerHost(QStringLiteral("me"), answer.flagAndText());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
    QCOMPARE(answer.success, success);
    if (text == QLatin1String("ours"))
        QVERIFY(!answer.text.isEmpty());
    else
        QCOMPARE(answer.text, text);
    QCOMPARE(console.output().constLast(), printed);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kHostname), std::nullopt);
}

void ApiTest::registration_sendsTheNameAsTypedOrRefusesItHere_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("sent");
    QTest::newRow("capitals") << QStringLiteral("MyHost") << true;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("unreserved marks") << QStringLiteral("a-b_c.d~e") << true;
    for (const char *name : {"a/b", "a?b=1", "a#b", "a%2Fb", "my host", "a\nb", "a\x7f", "héllo", ".."})
        QTest::addRow("refused: %s", name) << QString::fromUtf8(name) << false;
}

void ApiTest::registration_sendsTheNameAsTypedOrRefusesItHere()
{
    QFETCH(QString, name);
    QFETCH(bool, sent);
    Answer answer;
    ConsoleCapture console;
    registerHost(name, answer.flagAndText());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
    QCOMPARE(answer.thread, UrlSession::shared().deliveryThread());
    QCOMPARE(m_server->requestCount(), sent ? 1 : 0);
    if (sent) {
        QCOMPARE(m_server->requests().constFirst().target, QByteArray("/new/") + name.toUtf8());
        return;
    }
    QCOMPARE(answer.success, false);
    QVERIFY(!answer.text.isEmpty());
    QCOMPARE(console.all(), QString());
}

void ApiTest::savedHostCalls_reportWhatTheyGet_data()
{
    QTest::addColumn<bool>("save"); // else get
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("text");
    // clang-format off
    QTest::newRow("save: ok")           << true << 200 << QByteArray(R"({"ok":true})") << true << "";
    QTest::newRow("save: error object") << true << 401 << QByteArray(R"({"code":401,"error":"no"})") << true << "";
    QTest::newRow("save: not JSON")     << true << 500 << QByteArray("oops") << true << "";
    QTest::newRow("save: empty")        << true << 204 << QByteArray() << true << "";
    QTest::newRow("get: JSON string")   << false << 200 << QByteArray(R"("/update/me/k")") << true << R"("/update/me/k")";
    QTest::newRow("get: error object")  << false << 200 << QByteArray(R"({"error":"none saved"})") << false << "";
    QTest::newRow("get: empty body")    << false << 200 << QByteArray() << true << "";
    // clang-format on
}

void ApiTest::savedHostCalls_reportWhatTheyGet()
{
    QFETCH(bool, save);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(bool, success);
    QFETCH(QString, text);
    UserDefaults::standard().setObject(QStringLiteral("tok"), keys::kToken);
    m_server->respondWith(ScriptedResponse::json(reply, status));
    Answer answer;
    ConsoleCapture console;
    if (save)
        setSavedHost(QStringLiteral("/update/me/k"), answer.flag());
    else
        getSavedHost(answer.flagAndText());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
    QCOMPARE(answer.success, success);
    QCOMPARE(answer.text, text);
    QCOMPARE(console.all(), QString());
}

VENNACOTT_TEST_MAIN(ApiTest, QCoreApplication)
#include "tst_api.moc"
