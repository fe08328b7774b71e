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
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <atomic>
#include <optional>

using namespace vennacott;
using namespace vennacott::test;
using Action = ScriptedResponse::Action;

Q_DECLARE_METATYPE(ScriptedResponse)

namespace {

// Everything a callback saw, written on the delivery thread; the count goes up last, so the value is set
// once it shows.
struct Outcome
{
    std::atomic<int> calls = 0;
    std::optional<ResponseValue> value;

    ResponseCallback callback()
    {
        return [this](const ResponseValue &received) {
            value = received;
            ++calls;
        };
    }
    // O:<object>, F (false), T:<text>, or - when the callback was not called.
    QString seen() const
    {
        if (calls == 0)
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
    return QTest::qWaitFor([&] { return UrlSession::shared().finishedTaskCount() > before; }, 10'000);
}

} // namespace

class TransportTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_plain = std::make_unique<TestServer>(TestServer::Identity::PlainHttp); }
    void init()
    {
        clearSettings();
        trustTestServer();
    }

    void request_headersTokenAndBody_data();
    void request_headersTokenAndBody();
    void reply_isDeliveredDecodedOrNotAtAll_data();
    void reply_isDeliveredDecodedOrNotAtAll();
    void invalidUrl_sendsNothingAndSaysSo_data();
    void invalidUrl_sendsNothingAndSaysSo();
    void version_namesEachExtraCaTrusted();

private:
    std::unique_ptr<TestServer> m_plain; // where a redirect to plain HTTP would lead
};

void TransportTest::request_headersTokenAndBody_data()
{
    QTest::addColumn<bool>("post");
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("toApi");             // else to the update origin
    QTest::addColumn<int>("redirect");           // the API origin's status sending the request on to the update origin
    QTest::addColumn<QByteArrayList>("headers"); // ours, in the order sent
    const QByteArray accept = "Accept: application/json";
    const QByteArray json = "Content-Type: application/json";
    const QByteArray bearer = "Authorization: Bearer abc.DEF-123=";
    const QString token = QStringLiteral("abc.DEF-123=");
    // clang-format off
    QTest::newRow("GET, token stored")              << false << token << true << 0 << QByteArrayList{accept};
    QTest::newRow("POST, empty token")              << true << QString() << true << 0 << QByteArrayList{json, accept};
    QTest::newRow("POST, token")                    << true << token << true << 0 << QByteArrayList{bearer, json, accept};
    // The token goes to the API origin only, never along a redirect, and never with a line break in it.
    QTest::newRow("POST to the update origin")      << true << token << false << 0 << QByteArrayList{json, accept};
    QTest::newRow("POST, 307 to the update origin") << true << token << true << 307 << QByteArrayList{bearer, json, accept};
    QTest::newRow("POST, line break in the token")  << true << "abc\r\nX-Injected: 1" << true << 0 << QByteArrayList{json, accept};
    // clang-format on
}

void TransportTest::request_headersTokenAndBody()
{
    QFETCH(bool, post);
    QFETCH(QString, token);
    QFETCH(bool, toApi);
    QFETCH(int, redirect);
    QFETCH(QByteArrayList, headers);
    UserDefaults::standard().setObject(token, keys::kToken);
    const QString password = QStringLiteral("p\"w\\ \n ä");
    TestServer api;
    TestServer update;
    endpoints::overrideForTesting(api.baseUrl(), update.baseUrl());
    if (redirect)
        api.respondWith({Action::Respond, redirect, {{"Location", update.baseUrl().toUtf8() + "/stolen"}}, {}, {}});
    Outcome outcome;
    ConsoleCapture console;
    QVERIFY(exchange(post, (toApi ? api : update).baseUrl() + QStringLiteral("/new/Abc"), outcome,
                     {{QStringLiteral("Password"), password}}));
    endpoints::overrideForTesting(QString(), QString());
    QCOMPARE(outcome.calls.load(), redirect ? 0 : 1);
    for (const RecordedRequest &request : update.requests())
        QVERIFY(request.header("Authorization").isNull());
    const bool unsafe = token.contains(QLatin1Char('\n'));
    QCOMPARE(console.errors().size(), unsafe ? 1 : 0);
    QVERIFY(!console.all().contains(QStringLiteral("abc")));

    const RecordedRequest request = (toApi ? api : update).requests().value(0);
    QCOMPARE(request.method, post ? QByteArray("POST") : QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/new/Abc"));
    QByteArrayList ours;
    for (const auto &[name, value] : request.headers) {
        if (name == "Authorization" || name == "Content-Type" || name == "Accept" || name == "X-Injected")
            ours.append(name + ": " + value);
    }
    QCOMPARE(ours, headers);
    QCOMPARE(request.header("User-Agent"), QByteArray(buildconfig::kUserAgent));
    if (!post) {
        QVERIFY(request.body.isEmpty());
        return;
    }
    // A pretty-printed object of strings.
    QCOMPARE(QJsonDocument::fromJson(request.body).object(), (QJsonObject{{"Password", password}}));
    QVERIFY(request.body.contains('\n'));
}

void TransportTest::reply_isDeliveredDecodedOrNotAtAll_data()
{
    QTest::addColumn<QString>("server"); // "trusted", "rogue" (an untrusted certificate) or "gone" (a refused port)
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<QString>("get"); // what the callback sees: O:<object>, F (false), T:<text>, - (no call)
    QTest::addColumn<QString>("post");
    const auto json = [](const QByteArray &body, int status = 200) { return ScriptedResponse::json(body, status); };
    const auto act = [](Action action) { return ScriptedResponse{action, 200, {}, R"({"a":"0123456789"})", {}}; };
    const auto redirect = [](const QByteArray &to) {
        return ScriptedResponse{Action::Respond, 302, {{"Location", to}}, {}, {}};
    };
    const QByteArray mebibyte = R"({"a":")" + QByteArray(1024 * 1024 - 8, 'x') + R"("})"; // a JSON object of 1 MiB
    const QString moved = QStringLiteral(R"(O:{"moved":true})");
    const QString whole = QStringLiteral("O:") + QString::fromLatin1(mebibyte);
    // A reply is decoded whatever its status; only GET says why a body could not be read, on one line of
    // standard output. A failure of the transport is silent, and what lies just inside its limits is delivered.
    // clang-format off
    QTest::newRow("500 object")             << "trusted" << json(R"({"e":"x"})", 500) << R"(O:{"e":"x"})" << R"(O:{"e":"x"})";
    QTest::newRow("array")                  << "trusted" << json(R"([{"a":1}])") << "-" << "-";
    QTest::newRow("bare string")            << "trusted" << json(R"("abc")") << "F" << R"(T:"abc")";
    QTest::newRow("500 empty")              << "trusted" << json({}, 500) << "F" << "T:";
    QTest::newRow("not UTF-8")              << "trusted" << json("\xff\xfe\x80") << "F" << "T:";
    QTest::newRow("refused port")           << "gone" << json("{}") << "-" << "-";
    QTest::newRow("untrusted certificate")  << "rogue" << json("{}") << "-" << "-";
    QTest::newRow("redirect to plain http") << "trusted" << redirect(m_plain->baseUrl().toUtf8() + "/stolen") << "-" << "-";
    QTest::newRow("redirect within https")  << "trusted" << redirect("/moved") << moved << moved;
    QTest::newRow("stalled")                << "trusted" << act(Action::Stall) << "-" << "-";
    // Closed after the headers; a connection closed before any answer fails the same way (the updater's test).
    QTest::newRow("body cut short")         << "trusted" << act(Action::DropMidBody) << "-" << "-";
    QTest::newRow("body without end")       << "trusted" << act(Action::StreamForever) << "-" << "-";
    QTest::newRow("body over 1 MiB")        << "trusted" << json(mebibyte.chopped(2) + "x\"}") << "-" << "-";
    QTest::newRow("body of exactly 1 MiB")  << "trusted" << json(mebibyte) << whole << whole;
    // clang-format on
}

void TransportTest::reply_isDeliveredDecodedOrNotAtAll()
{
    QFETCH(QString, server);
    QFETCH(ScriptedResponse, response);
    QFETCH(QString, get);
    QFETCH(QString, post);
    auto scripted =
        std::make_unique<TestServer>(server == u"rogue" ? TestServer::Identity::Rogue : TestServer::Identity::Trusted);
    const QString base = scripted->baseUrl();
    scripted->setHandler([response](const RecordedRequest &request) {
        return request.target == "/moved" ? ScriptedResponse::json(R"({"moved":true})") : response;
    });
    if (server == u"gone")
        scripted.reset();
    if (response.action == Action::Stall)
        trustTestServer(std::chrono::milliseconds(300));

    for (const bool isPost : {false, true}) {
        Outcome outcome;
        ConsoleCapture console;
        QVERIFY(exchange(isPost, base + QStringLiteral("/p"), outcome,
                         {{QStringLiteral("Password"), QStringLiteral("pw")}}));
        const QString wanted = isPost ? post : get;
        QCOMPARE(outcome.seen(), wanted);
        QCOMPARE(console.output().size(), wanted == u"F" ? 1 : 0);
        QVERIFY(console.errors().isEmpty());
    }
    QCOMPARE(m_plain->requestCount(), 0);
    if (server == u"rogue")
        QCOMPARE(scripted->requestCount(), 0);
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
    QCOMPARE(outcome.calls.load(), 0);
}

void TransportTest::version_namesEachExtraCaTrusted()
{
    QFile ca(QStringLiteral(VENNACOTT_TEST_CERT_DIR "/ca.pem"));
    QVERIFY(ca.open(QIODevice::ReadOnly));
    // As `openssl x509 -noout -subject -fingerprint -sha256` names it (make-certs.sh makes a new one).
    QCOMPARE(endpoints::versionText(QStringLiteral("p"), ca.readAll()),
             QStringLiteral(
                 "p %1\nTrusts an extra CA compiled in: CN=Vennacott Test CA, SHA-256 "
                 "07:88:41:C4:54:2D:70:7B:E0:D2:52:59:44:1D:D7:E0:E1:90:FD:BB:95:1D:65:BB:C7:9C:72:3A:45:53:19:6B\n")
                 .arg(QString::fromUtf8(buildconfig::kVersion)));
}

VENNACOTT_TEST_MAIN(TransportTest, QCoreApplication)
#include "tst_transport.moc"
