// The JSON transport against the local test server: wire format, decoding, failures and threads.
#include "buildconfig.h"
#include "endpoints.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "transport.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTest>

#include <optional>

using namespace vennacott;
using namespace vennacott::test;
using Action = ScriptedResponse::Action;

namespace {

// Everything a callback saw, written on the delivery thread and read on the test thread.
struct Outcome
{
    std::mutex mutex;
    int calls = 0;
    std::optional<ResponseValue> value;

    ResponseCallback callback()
    {
        return [this](const ResponseValue &received) {
            const std::lock_guard lock(mutex);
            ++calls;
            value = received;
        };
    }
    int callCount()
    {
        const std::lock_guard lock(mutex);
        return calls;
    }
    // O:<object>, F (false), T:<text>, or - when the callback was not called.
    QString seen()
    {
        const std::lock_guard lock(mutex);
        if (!value)
            return QStringLiteral("-");
        if (value->isFalse())
            return QStringLiteral("F");
        return (value->isObject() ? QStringLiteral("O:") : QStringLiteral("T:")) + value->description();
    }
};

// Sends one GET or POST and waits until the exchange has ended, called back or not.
bool exchange(bool post, const QString &url, Outcome &outcome, const QMap<QString, QString> &data = {})
{
    const quint64 before = UrlSession::shared().finishedTaskCount();
    if (post)
        sendPost(url, data, outcome.callback());
    else
        sendGet(url, outcome.callback());
    return waitForFinishedTasks(before);
}

// A JSON object of exactly `size` bytes.
QByteArray jsonOfSize(qsizetype size)
{
    return R"({"a":")" + QByteArray(size - 8, 'x') + R"("})";
}

} // namespace

class TransportTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        clearSettings();
        trustTestServer();
    }

    void request_headersInOrderAndBody_data();
    void request_headersInOrderAndBody();
    void post_tokenReachesTheApiOriginOnly_data();
    void post_tokenReachesTheApiOriginOnly();
    void reply_isDecodedWhateverTheStatus_data();
    void reply_isDecodedWhateverTheStatus();
    void transportFailure_isSilent_data();
    void transportFailure_isSilent();
    void invalidUrl_sendsNothingAndSaysSo_data();
    void invalidUrl_sendsNothingAndSaysSo();
};

void TransportTest::request_headersInOrderAndBody_data()
{
    QTest::addColumn<bool>("post");
    QTest::addColumn<std::optional<QString>>("token");
    QTest::addColumn<QByteArrayList>("headers"); // ours, in the order sent
    const QByteArray accept = "Accept: application/json";
    const QByteArray json = "Content-Type: application/json";
    const auto token = [](const char *text) { return std::optional<QString>(QString::fromUtf8(text)); };
    QTest::newRow("GET, token stored") << false << token("secret") << QByteArrayList{accept};
    QTest::newRow("POST, no token") << true << std::optional<QString>() << QByteArrayList{json, accept};
    QTest::newRow("POST, empty token") << true << token("") << QByteArrayList{json, accept};
    QTest::newRow("POST, token") << true << token("abc.DEF-123=")
                                 << QByteArrayList{"Authorization: Bearer abc.DEF-123=", json, accept};
    QTest::newRow("POST, token with blanks kept as stored")
        << true << token(" tok en") << QByteArrayList{"Authorization: Bearer  tok en", json, accept};
}

void TransportTest::request_headersInOrderAndBody()
{
    QFETCH(bool, post);
    QFETCH(std::optional<QString>, token);
    QFETCH(QByteArrayList, headers);
    if (token)
        UserDefaults::standard().setObject(*token, keys::kToken);
    const QMap<QString, QString> data{{QStringLiteral("Email"), QStringLiteral("ä@b.example")},
                                      {QStringLiteral("Password"), QStringLiteral("p\"w\\ \n")},
                                      {QStringLiteral("Key"), QString()}};
    TestServer server;
    endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());
    Outcome outcome;
    QVERIFY(exchange(post, server.baseUrl() + QStringLiteral("/new/Abc"), outcome, data));
    QCOMPARE(outcome.callCount(), 1);
    QCOMPARE(server.requestCount(), 1);
    const RecordedRequest request = server.requests().constFirst();

    QCOMPARE(request.method, post ? QByteArray("POST") : QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/new/Abc"));
    QByteArrayList ours;
    for (const auto &[name, value] : request.headers) {
        if (name == "Authorization" || name == "Content-Type" || name == "Accept")
            ours.append(name + ": " + value);
    }
    QCOMPARE(ours, headers);
    QCOMPARE(request.header("User-Agent"), QByteArray(buildconfig::kUserAgent));
    if (!post) {
        QVERIFY(request.body.isEmpty());
        return;
    }
    // A pretty-printed object of strings.
    QJsonParseError error{};
    const QJsonDocument body = QJsonDocument::fromJson(request.body, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(body.object().toVariantMap().size(), data.size());
    for (auto it = data.cbegin(); it != data.cend(); ++it)
        QCOMPARE(body.object().value(it.key()), QJsonValue(it.value()));
    QVERIFY(request.body.contains('\n'));
}

void TransportTest::post_tokenReachesTheApiOriginOnly_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("toApi");   // else straight to the other origin
    QTest::addColumn<int>("redirect"); // the API origin's status sending the request on to the other origin
    QTest::newRow("another origin") << "tok-1" << false << 0;
    QTest::newRow("307 to another origin") << "tok-1" << true << 307;
    QTest::newRow("308 to another origin") << "tok-1" << true << 308;
    QTest::newRow("line break in the token") << "abc\r\nX-Injected: 1" << true << 0;
}

void TransportTest::post_tokenReachesTheApiOriginOnly()
{
    QFETCH(QString, token);
    QFETCH(bool, toApi);
    QFETCH(int, redirect);
    UserDefaults::standard().setObject(token, keys::kToken);
    TestServer api;
    TestServer other;
    endpoints::overrideForTesting(api.baseUrl(), other.baseUrl());
    if (redirect)
        api.respondWith({Action::Respond, redirect, {{"Location", other.baseUrl().toUtf8() + "/stolen"}}, {}, {}});
    Outcome outcome;
    ConsoleCapture console;
    QVERIFY(exchange(true, (toApi ? api : other).baseUrl() + QStringLiteral("/secure/api/get_dns"), outcome));
    endpoints::overrideForTesting(QString(), QString());

    QVERIFY(api.requestCount() + other.requestCount() > 0);
    for (const RecordedRequest &request : other.requests())
        QCOMPARE(request.headerCount("Authorization"), 0);
    for (const RecordedRequest &request : api.requests())
        QCOMPARE(request.headerCount("X-Injected"), 0);
    QVERIFY(!console.all().contains(QStringLiteral("abc")));
    const bool unsafe = token.contains(QLatin1Char('\n'));
    QCOMPARE(console.errors().size(), unsafe ? 1 : 0);
    if (unsafe)
        QCOMPARE(api.requests().constFirst().headerCount("Authorization"), 0);
}

void TransportTest::reply_isDecodedWhateverTheStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("get"); // what the callback sees: O:<object>, F (false), T:<text>, - (no call)
    QTest::addColumn<QString>("post");

    // clang-format off
    QTest::newRow("object")      << 200 << QByteArray(R"({"a":1})")      << R"(O:{"a":1})"      << R"(O:{"a":1})";
    QTest::newRow("500 object")  << 500 << QByteArray(R"({"e":"x"})")    << R"(O:{"e":"x"})"    << R"(O:{"e":"x"})";
    QTest::newRow("array")       << 200 << QByteArray(R"([{"a":1}])")    << "-"                 << "-";
    QTest::newRow("bare string") << 200 << QByteArray(R"("abc")")        << "F"                 << R"(T:"abc")";
    QTest::newRow("500 empty")   << 500 << QByteArray()                  << "F"                 << "T:";
    QTest::newRow("garbage")     << 200 << QByteArray("<html>oops")      << "F"                 << "T:<html>oops";
    QTest::newRow("not UTF-8")   << 200 << QByteArray("\xff\xfe\x80")    << "F"                 << "T:";
    // clang-format on
}

void TransportTest::reply_isDecodedWhateverTheStatus()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, get);
    QFETCH(QString, post);
    TestServer server;
    server.respondWith(ScriptedResponse::json(body, status));
    for (const bool isPost : {false, true}) {
        Outcome outcome;
        ConsoleCapture console;
        QVERIFY(exchange(isPost, server.baseUrl() + QStringLiteral("/p"), outcome));
        const QString wanted = isPost ? post : get;
        QCOMPARE(outcome.seen(), wanted);
        // Only GET says why a body could not be read, on one line of standard output.
        QCOMPARE(console.output().size(), wanted == u"F" ? 1 : 0);
        QVERIFY(console.errors().isEmpty());
    }
    QCOMPARE(server.requestCount(), 2);
}

void TransportTest::transportFailure_isSilent_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("delivered");
    for (const char *fault : {"refused port", "untrusted certificate", "redirect to plain http", "stalled",
                              "connection dropped", "body cut short", "body over 1 MiB", "body without end"})
        QTest::newRow(fault) << QString::fromLatin1(fault) << false;
    // What lies just inside the limits is delivered.
    QTest::newRow("body of exactly 1 MiB") << QStringLiteral("body of exactly 1 MiB") << true;
    QTest::newRow("redirect within https") << QStringLiteral("redirect within https") << true;
}

void TransportTest::transportFailure_isSilent()
{
    QFETCH(QString, fault);
    QFETCH(bool, delivered);
    TestServer plain(TestServer::Identity::PlainHttp);
    auto server = std::make_unique<TestServer>(fault == u"untrusted certificate" ? TestServer::Identity::Rogue
                                                                                 : TestServer::Identity::Trusted);
    const QString base = server->baseUrl();
    ScriptedResponse response = ScriptedResponse::json(R"({"a":"0123456789"})");
    if (fault == u"refused port") {
        server.reset();
    } else if (fault == u"stalled") {
        response.action = Action::Stall;
        trustTestServer(std::chrono::milliseconds(300));
    } else if (fault == u"connection dropped") {
        response.action = Action::Drop;
    } else if (fault == u"body cut short") {
        response.action = Action::DropMidBody;
    } else if (fault == u"body without end") {
        response.action = Action::StreamForever;
    } else if (fault.startsWith(u"body")) {
        response.body = jsonOfSize(1024 * 1024 + (fault == u"body over 1 MiB" ? 1 : 0));
    } else if (fault.startsWith(u"redirect")) {
        response.status = 302;
        response.headers = {{"Location", fault.endsWith(u"http") ? plain.baseUrl().toUtf8() + "/stolen" : "/moved"}};
    }
    if (server) {
        server->setHandler([response](const RecordedRequest &request) {
            return request.target == "/moved" ? ScriptedResponse::json(R"({"moved":true})") : response;
        });
    }

    for (const bool post : {false, true}) {
        Outcome outcome;
        ConsoleCapture console;
        QVERIFY(
            exchange(post, base + QStringLiteral("/p"), outcome, {{QStringLiteral("Password"), QStringLiteral("pw")}}));
        QCOMPARE(outcome.callCount(), delivered ? 1 : 0);
        QVERIFY(!delivered || outcome.value->isObject());
        QCOMPARE(console.all(), QString());
    }
    QCOMPARE(plain.requestCount(), 0);
    if (fault == u"untrusted certificate")
        QCOMPARE(server->requestCount(), 0);
}

void TransportTest::invalidUrl_sendsNothingAndSaysSo_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("blank in host") << QStringLiteral("https://bad host.example/new/x");
    QTest::newRow("other scheme") << QStringLiteral("ftp://127.0.0.1/x");
    QTest::newRow("empty") << QString();
}

void TransportTest::invalidUrl_sendsNothingAndSaysSo()
{
    QFETCH(QString, url);
    Outcome outcome;
    ConsoleCapture console;
    const quint64 before = UrlSession::shared().finishedTaskCount();
    sendGet(url, outcome.callback());
    sendPost(url, {}, outcome.callback());
    QCOMPARE(console.output().size(), 2);
    QVERIFY(console.output().constFirst().startsWith(QStringLiteral("invalid URL")));
    // Nothing was started: a request sent afterwards is the only one that ends.
    TestServer server;
    Outcome later;
    QVERIFY(exchange(false, server.baseUrl(), later));
    QCOMPARE(UrlSession::shared().finishedTaskCount(), before + 1);
    QCOMPARE(outcome.callCount(), 0);
}

VENNACOTT_TEST_MAIN(TransportTest, QCoreApplication)
#include "tst_transport.moc"
