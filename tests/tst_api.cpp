// The account and host API against the local test server: wire bytes, decisions, storage, redaction.
#include "api.h"
#include "endpoints.h"
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

QJsonObject bodyOf(const RecordedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

bool waitForFinishedTask(quint64 before)
{
    return QTest::qWaitFor([&] { return UrlSession::shared().finishedTaskCount() > before; }, 10'000);
}

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
    void login_neverPrintsPasswordOrToken_data();
    void login_neverPrintsPasswordOrToken();
    void registration_decisions_data();
    void registration_decisions();
    void registration_sendsNameAsTyped();
    void unsendableName_isRefusedWithoutRequest_data();
    void unsendableName_isRefusedWithoutRequest();
    void save_reportsTrueForAnyAnswer_data();
    void save_reportsTrueForAnyAnswer();
    void savedHost_isPassedOnAsText_data();
    void savedHost_isPassedOnAsText();

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
    QTest::addColumn<std::optional<QString>>("token");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QVariantMap>("body"); // for POST
    QTest::addColumn<bool>("authorized");

    const std::optional<QString> none;
    const std::optional<QString> empty = QString();
    const std::optional<QString> token = QStringLiteral("tok-1");
    const QVariantMap credentials{{QStringLiteral("Email"), QStringLiteral("me@x.example")},
                                  {QStringLiteral("Password"), QStringLiteral("hunter22")}};
    const QVariantMap key{{QStringLiteral("Key"), QStringLiteral("/update/me/k")}};

    QTest::newRow("login, no token") << "login" << none << QByteArray("POST") << QByteArray("/login") << credentials
                                     << false;
    QTest::newRow("login, empty token") << "login" << empty << QByteArray("POST") << QByteArray("/login") << credentials
                                        << false;
    QTest::newRow("login, earlier token")
        << "login" << token << QByteArray("POST") << QByteArray("/login") << credentials << true;
    QTest::newRow("register, token stored")
        << "register" << token << QByteArray("GET") << QByteArray("/new/me") << QVariantMap() << false;
    QTest::newRow("save, no token") << "save" << none << QByteArray("POST") << QByteArray("/secure/api/save_dns") << key
                                    << false;
    QTest::newRow("save, token") << "save" << token << QByteArray("POST") << QByteArray("/secure/api/save_dns") << key
                                 << true;
    QTest::newRow("get, token") << "get" << token << QByteArray("POST") << QByteArray("/secure/api/get_dns")
                                << QVariantMap() << true;
    QTest::newRow("get, empty token") << "get" << empty << QByteArray("POST") << QByteArray("/secure/api/get_dns")
                                      << QVariantMap() << false;
}

void ApiTest::requests_onTheWire()
{
    QFETCH(QString, call);
    QFETCH(std::optional<QString>, token);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, target);
    QFETCH(QVariantMap, body);
    QFETCH(bool, authorized);
    if (token)
        UserDefaults::standard().setObject(*token, keys::kToken);

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
    QVERIFY(waitForFinishedTask(before));

    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest request = m_server->requests().constFirst();
    QCOMPARE(request.method, method);
    QCOMPARE(request.target, target);
    QCOMPARE(request.header("Authorization"), authorized ? QByteArray("Bearer tok-1") : QByteArray());
    if (method == "POST")
        QCOMPARE(bodyOf(request).toVariantMap(), body);
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

    QTest::newRow("401 with a token") << 401 << QByteArray(R"({"code":401,"token":"new"})") << false << "old"
                                      << "3 [redacted] 401";
    QTest::newRow("token without code") << 200 << QByteArray(R"({"token":"new"})") << true << "new"
                                        << "3 [redacted] 1";
    QTest::newRow("code as a string") << 200 << QByteArray(R"({"code":"401","token":"new"})") << true << "new"
                                      << "3 [redacted] 1";
    QTest::newRow("code 401.0") << 200 << QByteArray(R"({"code":401.0,"token":"new"})") << false << "old"
                                << "3 [redacted] 401";
    QTest::newRow("code 401.5 is no code") << 200 << QByteArray(R"({"code":401.5,"token":"new"})") << true << "new"
                                           << "3 [redacted] 1";
    QTest::newRow("other code") << 200 << QByteArray(R"({"code":200,"token":"new"})") << true << "new"
                                << "3 [redacted] 200";
    QTest::newRow("empty token") << 200 << QByteArray(R"({"token":""})") << false << "old"
                                 << "3  1";
    QTest::newRow("neither member") << 200 << QByteArray(R"({"message":"hi"})") << false << "old"
                                    << "3  1";
    QTest::newRow("token not a string") << 200 << QByteArray(R"({"token":12345})") << false << "old"
                                        << "3  1";
    QTest::newRow("refused without token") << 401 << QByteArray(R"({"code":401,"message":"wrong"})") << false << "old"
                                           << "3  401";
    QTest::newRow("not JSON") << 502 << QByteArray("<html>bad gateway</html>") << false << "old"
                              << "3  1";
    QTest::newRow("token with line break") << 200 << QByteArray(R"({"token":"a\r\nX: 1"})") << false << "old"
                                           << "3 [redacted] 1";
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

void ApiTest::login_neverPrintsPasswordOrToken_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("password") << QStringLiteral("s3cret-pw") << QStringLiteral("a@b.example [redacted]");
    QTest::newRow("empty password") << QString() << QStringLiteral("a@b.example ");
}

void ApiTest::login_neverPrintsPasswordOrToken()
{
    QFETCH(QString, password);
    QFETCH(QString, firstLine);
    m_server->respondWith(ScriptedResponse::json(R"({"token":"tok-SECRET-9","user":"a"})"));
    Answer answer;
    ConsoleCapture console;
    login(QStringLiteral("a@b.example"), password, answer.flag());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);

    const QStringList lines = console.output();
    QCOMPARE(lines.at(0), firstLine);
    const QJsonObject printed = QJsonDocument::fromJson(lines.at(1).toUtf8()).object();
    QCOMPARE(printed.value(QStringLiteral("token")).toString(), kRedacted);
    QCOMPARE(printed.value(QStringLiteral("user")).toString(), QStringLiteral("a"));
    QVERIFY(!console.all().contains(QStringLiteral("tok-SECRET-9")));
    QVERIFY(password.isEmpty() || !console.all().contains(password));
}

void ApiTest::registration_decisions_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("text");

    QTest::newRow("granted") << QByteArray(R"({"update_link":"/update/me/k"})") << true << "/update/me/k";
    QTest::newRow("empty error") << QByteArray(R"({"error":"","update_link":"/update/me/k"})") << true
                                 << "/update/me/k";
    QTest::newRow("error wins over link") << QByteArray(R"({"error":"taken","update_link":"/u"})") << false << "taken";
    QTest::newRow("error is a boolean") << QByteArray(R"({"error":true,"update_link":"/u"})") << true << "/u";
    QTest::newRow("error is a number") << QByteArray(R"({"error":1})") << true << "";
    QTest::newRow("link missing") << QByteArray(R"({})") << true << "";
    QTest::newRow("link not a string") << QByteArray(R"({"update_link":["/u"]})") << true << "";
    QTest::newRow("undecodable body") << QByteArray("Service Unavailable") << true << "";
}

void ApiTest::registration_decisions()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, success);
    QFETCH(QString, text);
    m_server->respondWith(ScriptedResponse::json(reply));
    Answer answer;
    ConsoleCapture console;
    registerHost(QStringLiteral("me"), answer.flagAndText());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
    QCOMPARE(answer.success, success);
    QCOMPARE(answer.text, text);
    QVERIFY(!console.output().isEmpty()); // the reply is printed
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kHostname), std::nullopt);
}

void ApiTest::registration_sendsNameAsTyped()
{
    Answer answer;
    for (const QString &name : {QStringLiteral("MyHost"), QString(), QStringLiteral("a-b_c.d~e")}) {
        const quint64 before = UrlSession::shared().finishedTaskCount();
        registerHost(name, answer.flagAndText());
        QVERIFY(waitForFinishedTask(before));
        QCOMPARE(m_server->requests().constLast().target, QByteArray("/new/") + name.toUtf8());
    }
}

void ApiTest::unsendableName_isRefusedWithoutRequest_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("slash") << QStringLiteral("a/b");
    QTest::newRow("question mark") << QStringLiteral("a?b=1");
    QTest::newRow("hash") << QStringLiteral("a#b");
    QTest::newRow("percent") << QStringLiteral("a%2Fb");
    QTest::newRow("blank") << QStringLiteral("my host");
    QTest::newRow("tab") << QStringLiteral("a\tb");
    QTest::newRow("line feed") << QStringLiteral("a\nb");
    QTest::newRow("delete") << QStringLiteral("a\x7f");
    QTest::newRow("non-ASCII") << QStringLiteral("héllo");
    QTest::newRow("dot segment") << QStringLiteral("..");
}

void ApiTest::unsendableName_isRefusedWithoutRequest()
{
    QFETCH(QString, name);
    Answer answer;
    ConsoleCapture console;
    registerHost(name, answer.flagAndText());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
    QCOMPARE(answer.success, false);
    QVERIFY(!answer.text.isEmpty());
    QCOMPARE(answer.thread, UrlSession::shared().deliveryThread());
    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(console.all(), QString());
}

void ApiTest::save_reportsTrueForAnyAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("ok") << 200 << QByteArray(R"({"ok":true})");
    QTest::newRow("error object") << 401 << QByteArray(R"({"code":401,"error":"no"})");
    QTest::newRow("not JSON") << 500 << QByteArray("oops");
    QTest::newRow("empty") << 204 << QByteArray();
}

void ApiTest::save_reportsTrueForAnyAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    m_server->respondWith(ScriptedResponse::json(reply, status));
    Answer answer;
    ConsoleCapture console;
    setSavedHost(QStringLiteral("/update/me/k"), answer.flag());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
    QCOMPARE(answer.success, true);
    QCOMPARE(console.all(), QString());
}

void ApiTest::savedHost_isPassedOnAsText_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("text");
    QTest::newRow("JSON string") << QByteArray(R"("/update/me/k")") << true << R"("/update/me/k")";
    QTest::newRow("error object") << QByteArray(R"({"error":"none saved"})") << false << "";
    QTest::newRow("empty body") << QByteArray() << true << "";
}

void ApiTest::savedHost_isPassedOnAsText()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, success);
    QFETCH(QString, text);
    UserDefaults::standard().setObject(QStringLiteral("tok"), keys::kToken);
    m_server->respondWith(ScriptedResponse::json(reply));
    Answer answer;
    ConsoleCapture console;
    getSavedHost(answer.flagAndText());
    QTRY_COMPARE_WITH_TIMEOUT(answer.callCount(), 1, 10'000);
    QCOMPARE(answer.success, success);
    QCOMPARE(answer.text, text);
    QCOMPARE(console.all(), QString());
}

VENNACOTT_TEST_MAIN(ApiTest, QCoreApplication)
#include "tst_api.moc"
