// The JSON transport against the local test server: wire format, decoding, failures and threads.
#include "buildconfig.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "transport.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
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
    QThread *thread = nullptr;

    ResponseCallback callback()
    {
        return [this](const ResponseValue &received) {
            const std::lock_guard lock(mutex);
            ++calls;
            value = received;
            thread = QThread::currentThread();
        };
    }
    int callCount()
    {
        const std::lock_guard lock(mutex);
        return calls;
    }
};

// Waits until `count` more exchanges have ended, called back or not.
bool waitForFinishedTasks(quint64 before, quint64 count = 1)
{
    return QTest::qWaitFor([&] { return UrlSession::shared().finishedTaskCount() >= before + count; }, 10'000);
}

} // namespace

class TransportTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { clearSettings(); }

    void get_sendsAcceptOnlyAndNoAuthorization();
    void post_headersInOrder_data();
    void post_headersInOrder();
    void post_bodyIsPrettyPrintedObjectOfStrings_data();
    void post_bodyIsPrettyPrintedObjectOfStrings();
    void post_tokenWithLineBreak_isNotSent();
    void reply_isDecodedWhateverTheStatus_data();
    void reply_isDecodedWhateverTheStatus();
    void transportFailure_isSilent_data();
    void transportFailure_isSilent();
    void refusedPort_isSilent();
    void untrustedCertificate_isSilent();
    void redirectToPlainHttp_isNotFollowed();
    void redirectWithinHttps_isFollowed();
    void bodyOfExactlyTheLimit_isDelivered();
    void invalidUrl_sendsNothingAndSaysSo_data();
    void invalidUrl_sendsNothingAndSaysSo();
    void callback_runsOnDeliveryThread_fromAnyCaller();
    void tokenStoredLater_doesNotAffectRequestAlreadyStarted();

private:
    RecordedRequest exchange(TestServer &server, const std::function<void(const QString &)> &send);
};

RecordedRequest TransportTest::exchange(TestServer &server, const std::function<void(const QString &)> &send)
{
    const quint64 before = UrlSession::shared().finishedTaskCount();
    send(server.baseUrl());
    if (!waitForFinishedTasks(before) || server.requestCount() == 0)
        return {};
    return server.requests().constLast();
}

void TransportTest::get_sendsAcceptOnlyAndNoAuthorization()
{
    UserDefaults::standard().setObject(QStringLiteral("secret-token"), keys::kToken);
    TestServer server;
    Outcome outcome;
    const RecordedRequest request =
        exchange(server, [&](const QString &base) { sendGet(base + QStringLiteral("/new/Abc"), outcome.callback()); });

    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/new/Abc"));
    QCOMPARE(request.headerCount("Accept"), 1);
    QCOMPARE(request.header("Accept"), QByteArray("application/json"));
    QCOMPARE(request.headerCount("Authorization"), 0);
    QCOMPARE(request.headerCount("Content-Type"), 0);
    QCOMPARE(request.header("User-Agent"), QByteArray(buildconfig::kUserAgent));
    QVERIFY(request.body.isEmpty());
    QCOMPARE(outcome.callCount(), 1);
}

void TransportTest::post_headersInOrder_data()
{
    QTest::addColumn<std::optional<QString>>("token");
    QTest::addColumn<QByteArray>("authorization");

    QTest::newRow("no token") << std::optional<QString>() << QByteArray();
    QTest::newRow("empty token") << std::optional<QString>(QString()) << QByteArray();
    QTest::newRow("token") << std::optional<QString>(QStringLiteral("abc.DEF-123="))
                           << QByteArray("Bearer abc.DEF-123=");
    QTest::newRow("token with blanks kept as stored")
        << std::optional<QString>(QStringLiteral(" tok en ")) << QByteArray("Bearer  tok en");
}

void TransportTest::post_headersInOrder()
{
    QFETCH(std::optional<QString>, token);
    QFETCH(QByteArray, authorization);
    if (token)
        UserDefaults::standard().setObject(*token, keys::kToken);

    TestServer server;
    Outcome outcome;
    const RecordedRequest request = exchange(server, [&](const QString &base) {
        sendPost(base + QStringLiteral("/login"), {{QStringLiteral("Email"), QStringLiteral("a@b.example")}},
                 outcome.callback());
    });

    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/login"));
    QCOMPARE(request.headerCount("Content-Type"), 1);
    QCOMPARE(request.headerCount("Accept"), 1);
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(request.header("Accept"), QByteArray("application/json"));
    QCOMPARE(request.headerCount("Authorization"), authorization.isEmpty() ? 0 : 1);
    // The raw header line keeps inner blanks that the recorded, trimmed value cannot show.
    if (!authorization.isEmpty())
        QVERIFY(request.raw.contains("\r\nAuthorization: " + authorization.trimmed()));

    QList<QByteArray> ours;
    for (const auto &[name, value] : request.headers) {
        if (name == "Authorization" || name == "Content-Type" || name == "Accept")
            ours.append(name);
    }
    QList<QByteArray> expected = {"Content-Type", "Accept"};
    if (!authorization.isEmpty())
        expected.prepend("Authorization");
    QCOMPARE(ours, expected);
}

void TransportTest::post_bodyIsPrettyPrintedObjectOfStrings_data()
{
    QTest::addColumn<QVariantMap>("data");
    QTest::newRow("empty map") << QVariantMap();
    QTest::newRow("login") << QVariantMap{{QStringLiteral("Email"), QStringLiteral("ä@b.example")},
                                          {QStringLiteral("Password"), QStringLiteral("p\"w\\ \n")}};
    QTest::newRow("empty value") << QVariantMap{{QStringLiteral("Key"), QString()}};
}

void TransportTest::post_bodyIsPrettyPrintedObjectOfStrings()
{
    QFETCH(QVariantMap, data);
    QMap<QString, QString> map;
    for (auto it = data.constBegin(); it != data.constEnd(); ++it)
        map.insert(it.key(), it.value().toString());

    TestServer server;
    Outcome outcome;
    const RecordedRequest request =
        exchange(server, [&](const QString &base) { sendPost(base + QStringLiteral("/x"), map, outcome.callback()); });

    QJsonParseError error{};
    const QJsonDocument body = QJsonDocument::fromJson(request.body, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(body.isObject());
    QCOMPARE(body.object().toVariantMap(), data);
    QVERIFY2(request.body.contains('\n'), "the body is pretty-printed");
}

void TransportTest::post_tokenWithLineBreak_isNotSent()
{
    UserDefaults::standard().setObject(QStringLiteral("abc\r\nX-Injected: 1"), keys::kToken);
    TestServer server;
    Outcome outcome;
    ConsoleCapture console;
    const RecordedRequest request =
        exchange(server, [&](const QString &base) { sendPost(base + QStringLiteral("/x"), {}, outcome.callback()); });
    QCOMPARE(request.headerCount("Authorization"), 0);
    QCOMPARE(request.headerCount("X-Injected"), 0);
    QCOMPARE(console.errors().size(), 1);
    QVERIFY(!console.all().contains(QStringLiteral("abc")));
}

void TransportTest::reply_isDecodedWhateverTheStatus_data()
{
    QTest::addColumn<bool>("post");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("calls");
    QTest::addColumn<int>("kind");         // ResponseValue::Kind when called
    QTest::addColumn<QString>("expected"); // description of the value
    QTest::addColumn<int>("lines");

    const int object = int(ResponseValue::Kind::Object);
    const int falseKind = int(ResponseValue::Kind::False);
    const int text = int(ResponseValue::Kind::Text);
    for (const bool post : {false, true}) {
        const char *m = post ? "POST " : "GET ";
        auto row = [&](const char *name) -> QTestData & {
            return QTest::newRow((QByteArray(m) + name).constData()) << post;
        };
        row("object") << 200 << QByteArray(R"({"a":1})") << 1 << object << QStringLiteral(R"({"a":1})") << 0;
        row("401 object") << 401 << QByteArray(R"({"code":401})") << 1 << object << QStringLiteral(R"({"code":401})")
                          << 0;
        row("500 object") << 500 << QByteArray(R"({"e":"x"})") << 1 << object << QStringLiteral(R"({"e":"x"})") << 0;
        row("400 object") << 400 << QByteArray(R"({"e":"bad"})") << 1 << object << QStringLiteral(R"({"e":"bad"})")
                          << 0;
        row("404 object") << 404 << QByteArray(R"({"e":"nf"})") << 1 << object << QStringLiteral(R"({"e":"nf"})") << 0;
        row("empty array") << 200 << QByteArray("[]") << 0 << 0 << QString() << 0;
        row("array") << 200 << QByteArray(R"([{"a":1}])") << 0 << 0 << QString() << 0;
        row("bare string") << 200 << QByteArray(R"("abc")") << 1 << (post ? text : falseKind)
                           << (post ? QStringLiteral(R"("abc")") : QStringLiteral("false")) << (post ? 0 : 1);
        row("number") << 200 << QByteArray("42") << 1 << (post ? text : falseKind)
                      << (post ? QStringLiteral("42") : QStringLiteral("false")) << (post ? 0 : 1);
        row("empty body") << 200 << QByteArray() << 1 << (post ? text : falseKind)
                          << (post ? QString() : QStringLiteral("false")) << (post ? 0 : 1);
        row("garbage") << 200 << QByteArray("<html>oops</html>") << 1 << (post ? text : falseKind)
                       << (post ? QStringLiteral("<html>oops</html>") : QStringLiteral("false")) << (post ? 0 : 1);
        row("not UTF-8") << 200 << QByteArray("\xff\xfe\x80") << 1 << (post ? text : falseKind)
                         << (post ? QString() : QStringLiteral("false")) << (post ? 0 : 1);
        row("500 empty") << 500 << QByteArray() << 1 << (post ? text : falseKind)
                         << (post ? QString() : QStringLiteral("false")) << (post ? 0 : 1);
    }
}

void TransportTest::reply_isDecodedWhateverTheStatus()
{
    QFETCH(bool, post);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, calls);
    QFETCH(int, kind);
    QFETCH(QString, expected);
    QFETCH(int, lines);

    TestServer server;
    server.respondWith(ScriptedResponse::json(body, status));
    Outcome outcome;
    ConsoleCapture console;
    exchange(server, [&](const QString &base) {
        if (post)
            sendPost(base + QStringLiteral("/p"), {}, outcome.callback());
        else
            sendGet(base + QStringLiteral("/g"), outcome.callback());
    });

    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(outcome.callCount(), calls);
    QCOMPARE(console.output().size(), lines);
    QVERIFY(console.errors().isEmpty());
    if (calls == 1) {
        QCOMPARE(int(outcome.value->kind()), kind);
        QCOMPARE(outcome.value->description(), expected);
    }
}

void TransportTest::transportFailure_isSilent_data()
{
    QTest::addColumn<int>("action");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("stalled past the timeout") << int(Action::Stall) << QByteArray();
    QTest::newRow("connection dropped") << int(Action::Drop) << QByteArray();
    QTest::newRow("body cut short") << int(Action::DropMidBody) << QByteArray(R"({"a":"0123456789"})");
    QTest::newRow("body over 1 MiB, announced")
        << int(Action::Respond) << QByteArray(R"({"a":")") + QByteArray(1024 * 1024, 'x') + QByteArray(R"("})");
    QTest::newRow("body without end") << int(Action::StreamForever) << QByteArray();
}

void TransportTest::transportFailure_isSilent()
{
    QFETCH(int, action);
    QFETCH(QByteArray, body);
    UrlSession::shared().setOptions([] {
        SessionOptions options = UrlSession::shared().options();
        options.inactivityTimeout = std::chrono::milliseconds(300);
        return options;
    }());

    for (const bool post : {false, true}) {
        TestServer server;
        ScriptedResponse response = ScriptedResponse::json(body);
        response.action = Action(action);
        server.respondWith(response);
        Outcome outcome;
        ConsoleCapture console;
        exchange(server, [&](const QString &base) {
            if (post)
                sendPost(base + QStringLiteral("/p"), {}, outcome.callback());
            else
                sendGet(base + QStringLiteral("/g"), outcome.callback());
        });
        // Qt itself may send the request again on a fresh connection when one is dropped unanswered.
        QVERIFY(server.requestCount() >= 1);
        QCOMPARE(outcome.callCount(), 0);
        QCOMPARE(console.all(), QString());
    }
    trustTestServer();
}

void TransportTest::refusedPort_isSilent()
{
    QString base;
    {
        TestServer closed;
        base = closed.baseUrl();
    }
    Outcome outcome;
    ConsoleCapture console;
    const quint64 before = UrlSession::shared().finishedTaskCount();
    sendGet(base + QStringLiteral("/g"), outcome.callback());
    sendPost(base + QStringLiteral("/p"), {}, outcome.callback());
    QVERIFY(waitForFinishedTasks(before, 2));
    QCOMPARE(outcome.callCount(), 0);
    QCOMPARE(console.all(), QString());
}

void TransportTest::untrustedCertificate_isSilent()
{
    TestServer rogue(TestServer::Identity::Rogue);
    Outcome outcome;
    ConsoleCapture console;
    const quint64 before = UrlSession::shared().finishedTaskCount();
    sendGet(rogue.baseUrl() + QStringLiteral("/g"), outcome.callback());
    QVERIFY(waitForFinishedTasks(before));
    QCOMPARE(outcome.callCount(), 0);
    QCOMPARE(rogue.requestCount(), 0);
    QCOMPARE(console.all(), QString());
}

void TransportTest::redirectToPlainHttp_isNotFollowed()
{
    TestServer plain(TestServer::Identity::PlainHttp);
    TestServer server;
    ScriptedResponse redirect;
    redirect.status = 302;
    redirect.headers = {{"Location", (plain.baseUrl() + QStringLiteral("/stolen")).toUtf8()}};
    server.respondWith(redirect);
    Outcome outcome;
    exchange(server, [&](const QString &base) {
        sendPost(base + QStringLiteral("/login"), {{QStringLiteral("Password"), QStringLiteral("pw")}},
                 outcome.callback());
    });
    QCOMPARE(outcome.callCount(), 0);
    QCOMPARE(plain.requestCount(), 0);
}

void TransportTest::redirectWithinHttps_isFollowed()
{
    TestServer server;
    server.setHandler([](const RecordedRequest &request) {
        if (request.target == "/old") {
            ScriptedResponse redirect;
            redirect.status = 302;
            redirect.headers = {{"Location", "/new"}};
            return redirect;
        }
        return ScriptedResponse::json(R"({"moved":true})");
    });
    Outcome outcome;
    const quint64 before = UrlSession::shared().finishedTaskCount();
    sendGet(server.baseUrl() + QStringLiteral("/old"), outcome.callback());
    QVERIFY(waitForFinishedTasks(before));
    QCOMPARE(outcome.callCount(), 1);
    QCOMPARE(outcome.value->description(), QStringLiteral(R"({"moved":true})"));
}

void TransportTest::bodyOfExactlyTheLimit_isDelivered()
{
    const QByteArray prefix = R"({"a":")";
    const QByteArray suffix = R"("})";
    const QByteArray body = prefix + QByteArray(1024 * 1024 - prefix.size() - suffix.size(), 'x') + suffix;
    QCOMPARE(body.size(), 1024 * 1024);
    TestServer server;
    server.respondWith(ScriptedResponse::json(body));
    Outcome outcome;
    exchange(server, [&](const QString &base) { sendGet(base + QStringLiteral("/g"), outcome.callback()); });
    QCOMPARE(outcome.callCount(), 1);
    QVERIFY(outcome.value->isObject());
}

void TransportTest::invalidUrl_sendsNothingAndSaysSo_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("blank in host") << QStringLiteral("https://bad host.example/new/x");
    QTest::newRow("blank in path") << QStringLiteral("https://127.0.0.1:1/new/a b");
    QTest::newRow("no scheme") << QStringLiteral("127.0.0.1/new/x");
    QTest::newRow("other scheme") << QStringLiteral("ftp://127.0.0.1/x");
    QTest::newRow("no host") << QStringLiteral("https:///x");
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
    // Nothing was started: no task ends later.
    QTest::qWait(50);
    QCOMPARE(UrlSession::shared().finishedTaskCount(), before);
    QCOMPARE(outcome.callCount(), 0);
}

void TransportTest::callback_runsOnDeliveryThread_fromAnyCaller()
{
    TestServer server;
    const QString base = server.baseUrl();
    Outcome fromMain;
    Outcome fromWorker;
    const quint64 before = UrlSession::shared().finishedTaskCount();
    sendGet(base + QStringLiteral("/main"), fromMain.callback());
    std::unique_ptr<QThread> worker(
        QThread::create([&] { sendPost(base + QStringLiteral("/worker"), {}, fromWorker.callback()); }));
    worker->start();
    QVERIFY(worker->wait(10'000));
    QVERIFY(waitForFinishedTasks(before, 2));
    QCOMPARE(fromMain.callCount(), 1);
    QCOMPARE(fromWorker.callCount(), 1);
    QCOMPARE(fromMain.thread, UrlSession::shared().deliveryThread());
    QCOMPARE(fromWorker.thread, UrlSession::shared().deliveryThread());
}

void TransportTest::tokenStoredLater_doesNotAffectRequestAlreadyStarted()
{
    TestServer server;
    Outcome outcome;
    const RecordedRequest request = exchange(server, [&](const QString &base) {
        sendPost(base + QStringLiteral("/p"), {}, outcome.callback());
        UserDefaults::standard().setObject(QStringLiteral("later"), keys::kToken);
    });
    QCOMPARE(request.headerCount("Authorization"), 0);
}

VENNACOTT_TEST_MAIN(TransportTest, QCoreApplication)
#include "tst_transport.moc"
