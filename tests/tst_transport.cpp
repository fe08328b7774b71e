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
#include <QScopeGuard>
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
    std::optional<Exchange::End> end; // set before the session counts the task as finished

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
bool exchange(bool post, const QString &url, Outcome &outcome, const QMap<QString, QString> &data = {},
              const QString &token = QString(), RequestOptions options = {})
{
    const quint64 before = UrlSession::shared().finishedTaskCount();
    const ExchangeObserver observer = [&outcome](const Exchange &ended) { outcome.end = ended.end; };
    if (post)
        sendPost(url, data, token, outcome.callback(), observer, std::move(options));
    else
        sendGet(url, outcome.callback(), observer, std::move(options));
    return QTest::qWaitFor([&] { return UrlSession::shared().finishedTaskCount() > before; }, 10'000);
}

// The peak resident memory since the last reset, in bytes (the kernel keeps it per process), or -1 where
// it says nothing about the code: the address sanitizer keeps freed memory in quarantine.
qint64 peakResidentBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return -1;
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

void resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
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
    void hostileReply_endsAsNoAnswerWithinBoundedMemory_data();
    void hostileReply_endsAsNoAnswerWithinBoundedMemory();
    void requestOptions_familyInterfaceProxyAndCancel_data();
    void requestOptions_familyInterfaceProxyAndCancel();
    void updateRequestUrl_keepsTheLinkOnTheOrigin_data();
    void updateRequestUrl_keepsTheLinkOnTheOrigin();
    void version_namesEachExtraCaTrusted();

private:
    std::unique_ptr<TestServer> m_plain; // where a redirect to plain HTTP would lead
};

void TransportTest::request_headersTokenAndBody_data()
{
    QTest::addColumn<bool>("post");
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("toApi");             // else to the update origin
    QTest::addColumn<int>("redirect");           // the API origin's redirect status, if any
    QTest::addColumn<bool>("elsewhere");         // the redirect leads to the update origin, else to "/moved"
    QTest::addColumn<QByteArrayList>("headers"); // ours, in the order sent, as the last request arrived
    const QByteArray accept = "Accept: application/json";
    const QByteArray json = "Content-Type: application/json";
    const QByteArray bearer = "Authorization: Bearer abc.DEF-123=";
    const QString token = QStringLiteral("abc.DEF-123=");
    // clang-format off
    QTest::newRow("GET")                            << false << QString() << true << 0 << false << QByteArrayList{accept};
    QTest::newRow("POST, empty token")              << true << QString() << true << 0 << false << QByteArrayList{json, accept};
    QTest::newRow("POST, token")                    << true << token << true << 0 << false << QByteArrayList{bearer, json, accept};
    // The token goes to the API origin only, and never with a line break in it; the password (a sign-in
    // has no token yet) and the token never follow a redirect elsewhere, while one within the origin is
    // followed with the same method, headers and body.
    QTest::newRow("POST to the update origin")      << true << token << false << 0 << false << QByteArrayList{json, accept};
    QTest::newRow("POST, line break in the token")  << true << "abc\r\nX-Injected: 1" << true << 0 << false << QByteArrayList{json, accept};
    QTest::newRow("sign-in, 307 elsewhere")         << true << QString() << true << 307 << true << QByteArrayList{json, accept};
    QTest::newRow("POST, token, 308 elsewhere")     << true << token << true << 308 << true << QByteArrayList{bearer, json, accept};
    QTest::newRow("POST, token, 307 within")        << true << token << true << 307 << false << QByteArrayList{bearer, json, accept};
    // clang-format on
}

void TransportTest::request_headersTokenAndBody()
{
    QFETCH(bool, post);
    QFETCH(QString, token);
    QFETCH(bool, toApi);
    QFETCH(int, redirect);
    QFETCH(bool, elsewhere);
    QFETCH(QByteArrayList, headers);
    const QString password = QStringLiteral("p\"w\\ \n ä");
    TestServer api;
    TestServer update;
    endpoints::overrideForTesting(api.baseUrl(), update.baseUrl());
    const QByteArray location = elsewhere ? update.baseUrl().toUtf8() + "/stolen" : QByteArray("/moved");
    api.setHandler([redirect, location](const RecordedRequest &request) {
        if (!redirect || request.target == "/moved")
            return ScriptedResponse::json("{}");
        return ScriptedResponse{Action::Respond, redirect, {{"Location", location}}, {}, {}, {}, {}};
    });
    Outcome outcome;
    ConsoleCapture console;
    QVERIFY(exchange(post, (toApi ? api : update).baseUrl() + QStringLiteral("/new/Abc"), outcome,
                     {{QStringLiteral("Password"), password}}, token));
    endpoints::overrideForTesting(QString(), QString());
    QCOMPARE(outcome.calls.load(), redirect && elsewhere ? 0 : 1);
    if (redirect)
        QCOMPARE(update.requestCount(), 0);
    const bool unsafe = token.contains(QLatin1Char('\n'));
    QCOMPARE(console.errors().size(), unsafe || (redirect && elsewhere) ? 1 : 0);
    QVERIFY(!console.all().contains(QStringLiteral("abc")));

    const RecordedRequest request = (toApi ? api : update).requests().value((toApi ? api : update).requestCount() - 1);
    QCOMPARE(request.method, post ? QByteArray("POST") : QByteArray("GET"));
    QCOMPARE(request.target, redirect && !elsewhere ? QByteArray("/moved") : QByteArray("/new/Abc"));
    QByteArrayList ours;
    for (const auto &[name, value] : request.headers) {
        if (name == "Authorization" || name == "Content-Type" || name == "Accept" || name == "X-Injected")
            ours.append(name + ": " + value);
    }
    QCOMPARE(ours, headers);
    QCOMPARE(request.header("User-Agent"), QByteArray(buildconfig::kUserAgent));
    QCOMPARE(request.header("Accept-Encoding"), QByteArray("gzip, deflate"));
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
    QTest::addColumn<QString>("limit"); // in the one line on standard error, when a limit ended the exchange
    const auto json = [](const QByteArray &body, int status = 200) { return ScriptedResponse::json(body, status); };
    const auto act = [](Action action) {
        return ScriptedResponse{action, 200, {}, R"({"a":"0123456789"})", {}, {}, {}};
    };
    const auto redirect = [](const QByteArray &to) {
        return ScriptedResponse{Action::Respond, 302, {{"Location", to}}, {}, {}, {}, {}};
    };
    // qCompress() gives a zlib stream behind four bytes of length, which is what "deflate" means on the wire.
    const ScriptedResponse deflated{
        Action::Respond, 200, {{"Content-Encoding", "deflate"}}, qCompress(R"({"a":1})").mid(4), {}, {}, {}};
    const QByteArray mebibyte = R"({"a":")" + QByteArray(1024 * 1024 - 8, 'x') + R"("})"; // a JSON object of 1 MiB
    const QString moved = QStringLiteral(R"(O:{"moved":true})");
    const QString whole = QStringLiteral("O:") + QString::fromLatin1(mebibyte);
    // A reply is decoded whatever its status; only GET says why a body could not be read, on one line of
    // standard output. A failure of the transport is silent unless a limit ended it, and what lies just
    // inside the limits is delivered.
    // clang-format off
    QTest::newRow("500 object")             << "trusted" << json(R"({"e":"x"})", 500) << R"(O:{"e":"x"})" << R"(O:{"e":"x"})" << "";
    QTest::newRow("array")                  << "trusted" << json(R"([{"a":1}])") << "-" << "-" << "";
    QTest::newRow("bare string")            << "trusted" << json(R"("abc")") << "F" << R"(T:"abc")" << "";
    QTest::newRow("500 empty")              << "trusted" << json({}, 500) << "F" << "T:" << "";
    QTest::newRow("not UTF-8")              << "trusted" << json("\xff\xfe\x80") << "F" << "T:" << "";
    QTest::newRow("deflate-encoded")        << "trusted" << deflated << R"(O:{"a":1})" << R"(O:{"a":1})" << "";
    QTest::newRow("refused port")           << "gone" << json("{}") << "-" << "-" << "";
    QTest::newRow("untrusted certificate")  << "rogue" << json("{}") << "-" << "-" << "";
    QTest::newRow("redirect to plain http") << "trusted" << redirect(m_plain->baseUrl().toUtf8() + "/stolen") << "-" << "-" << "another origin";
    QTest::newRow("redirect within https")  << "trusted" << redirect("/moved") << moved << moved << "";
    QTest::newRow("stalled")                << "trusted" << act(Action::Stall) << "-" << "-" << "no progress for 1 s";
    // Closed after the headers; a connection closed before any answer fails the same way (the updater's test).
    QTest::newRow("body cut short")         << "trusted" << act(Action::DropMidBody) << "-" << "-" << "";
    QTest::newRow("body over 1 MiB")        << "trusted" << json(mebibyte.chopped(2) + "x\"}") << "-" << "-" << "body passed 1 MiB";
    QTest::newRow("body of exactly 1 MiB")  << "trusted" << json(mebibyte) << whole << whole << "";
    // clang-format on
}

void TransportTest::reply_isDeliveredDecodedOrNotAtAll()
{
    QFETCH(QString, server);
    QFETCH(ScriptedResponse, response);
    QFETCH(QString, get);
    QFETCH(QString, post);
    QFETCH(QString, limit);
    auto scripted =
        std::make_unique<TestServer>(server == u"rogue" ? TestServer::Identity::Rogue : TestServer::Identity::Trusted);
    const QString base = scripted->baseUrl();
    scripted->setHandler([response](const RecordedRequest &request) {
        return request.target == "/moved" ? ScriptedResponse::json(R"({"moved":true})") : response;
    });
    if (server == u"gone")
        scripted.reset();
    if (response.action == Action::Stall)
        trustTestServer(std::chrono::milliseconds(1000));

    for (const bool isPost : {false, true}) {
        Outcome outcome;
        ConsoleCapture console;
        QVERIFY(exchange(isPost, base + QStringLiteral("/p"), outcome,
                         {{QStringLiteral("Password"), QStringLiteral("pw")}}));
        const QString wanted = isPost ? post : get;
        QCOMPARE(outcome.seen(), wanted);
        QCOMPARE(console.output().size(), wanted == u"F" ? 1 : 0);
        QCOMPARE(console.errors().size(), limit.isEmpty() ? 0 : 1);
        QVERIFY2(console.errors().join(QString()).contains(limit), qPrintable(console.errors().join(QString())));
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
    sendPost(url, {}, QString(), outcome.callback());
    QCOMPARE(console.output().size(), 2);
    QVERIFY(console.output().constFirst().startsWith(QStringLiteral("invalid URL")));
    // Nothing was started: a request sent afterwards is the only one that ends.
    TestServer server;
    Outcome later;
    QVERIFY(exchange(false, server.baseUrl(), later));
    QCOMPARE(UrlSession::shared().finishedTaskCount(), before + 1);
    QCOMPARE(outcome.calls.load(), 0);
}

void TransportTest::hostileReply_endsAsNoAnswerWithinBoundedMemory_data()
{
    QTest::addColumn<ScriptedResponse>("response");
    QTest::addColumn<QString>("limit"); // in the one line on standard error
    const auto endless = [](const HeaderList &headers, const QByteArray &head, const QByteArray &unit,
                            std::chrono::milliseconds pace = {}) {
        return ScriptedResponse{Action::Endless, 200, headers, head, {}, unit, pace};
    };
    const QByteArray data(64 * 1024, 'x');
    const ScriptedResponse bomb{Action::Respond,
                                200,
                                {{"Content-Encoding", "deflate"}},
                                qCompress(QByteArray(64 * 1024 * 1024, ' '), 9).mid(4),
                                {},
                                {},
                                {}};
    // clang-format off
    QTest::newRow("endless headers")        << endless({}, {}, "X-Filler: " + QByteArray(1000, 'x') + "\r\n") << "headers passed 64 KiB";
    QTest::newRow("endless header line")    << endless({}, "X-Filler: ", data) << "headers passed 64 KiB";
    QTest::newRow("100 MB with length")     << endless({{"Content-Length", "104857600"}}, "\r\n", data) << "body passed 1 MiB";
    QTest::newRow("100 MB without length")  << endless({{"Connection", "close"}}, "\r\n", data) << "body passed 1 MiB";
    QTest::newRow("chunked without end")    << endless({{"Transfer-Encoding", "chunked"}}, "\r\n", "10000\r\n" + data + "\r\n") << "body passed 1 MiB";
    QTest::newRow("compression bomb")       << bomb << "body passed 1 MiB";
    QTest::newRow("trickled headers")       << endless({}, {}, "X-Slow: 1\r\n", std::chrono::milliseconds(20)) << "headers did not end within 1 s";
    // clang-format on
}

void TransportTest::hostileReply_endsAsNoAnswerWithinBoundedMemory()
{
    QFETCH(ScriptedResponse, response);
    QFETCH(QString, limit);
    trustTestServer(std::chrono::milliseconds(1000));
    TestServer server;
    server.setHandler([response](const RecordedRequest &request) {
        return request.target == "/next" ? ScriptedResponse::json(R"({"next":true})") : response;
    });
    resetPeakResident();
    const qint64 before = peakResidentBytes();
    Outcome outcome;
    ConsoleCapture console;
    QVERIFY(exchange(false, server.baseUrl() + QStringLiteral("/p"), outcome));
    QCOMPARE(outcome.seen(), QStringLiteral("-"));
    QCOMPARE(outcome.end, Exchange::End::NoAnswer);
    QCOMPARE(console.errors().size(), 1);
    QVERIFY2(console.errors().constFirst().contains(limit), qPrintable(console.errors().constFirst()));
    if (before > 0)
        QCOMPARE_LT(peakResidentBytes() - before, 10 * 1024 * 1024);

    Outcome next;
    QVERIFY(exchange(false, server.baseUrl() + QStringLiteral("/next"), next));
    QCOMPARE(next.seen(), QStringLiteral(R"(O:{"next":true})"));
}

void TransportTest::requestOptions_familyInterfaceProxyAndCancel_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<bool>("useProxy");
    QTest::addColumn<bool>("proxyInEnvironment");
    QTest::addColumn<QString>("cancel");  // "before" it starts, or "" (never)
    QTest::addColumn<QString>("reaches"); // "server", "proxy" or "" (neither)
    const int any = int(AddressFamily::Any);
    // A request cancelled before it starts ends with neither callback nor line, and never reaches the server.
    // clang-format off
    QTest::newRow("IPv4 only")                  << int(AddressFamily::IPv4) << QString() << true << false << "" << "server";
    QTest::newRow("IPv6 only, to IPv4")         << int(AddressFamily::IPv6) << QString() << true << false << "" << "";
    QTest::newRow("from a missing interface")   << any << "if!vennacott-no" << true << false << "" << "";
    QTest::newRow("proxy from the environment") << any << QString() << true << true << "" << "proxy";
    QTest::newRow("kept off the proxy")         << any << QString() << false << true << "" << "server";
    QTest::newRow("cancelled before it starts") << any << QString() << true << false << "before" << "";
    // clang-format on
}

void TransportTest::requestOptions_familyInterfaceProxyAndCancel()
{
    QFETCH(int, family);
    QFETCH(QString, interface);
    QFETCH(bool, useProxy);
    QFETCH(bool, proxyInEnvironment);
    QFETCH(QString, cancel);
    QFETCH(QString, reaches);
    // Far beyond the wait for the exchange's end: a stalled request can only end in time by being cancelled.
    trustTestServer(std::chrono::minutes(1));
    TestServer server;
    if (!cancel.isEmpty())
        server.respondWith({Action::Stall, 200, {}, {}, {}, {}, {}});
    TestServer proxy(TestServer::Identity::PlainHttp);
    proxy.respondWith(ScriptedResponse::json({}, 403)); // no tunnel
    if (proxyInEnvironment)
        qputenv("https_proxy", proxy.baseUrl().toUtf8());
    const auto restore = qScopeGuard([] { qunsetenv("https_proxy"); });
    RequestOptions options{AddressFamily(family), interface, useProxy, {}};
    const auto cancelled = std::make_shared<std::atomic_bool>(cancel == u"before");
    if (!cancel.isEmpty())
        options.cancelled = cancelled;
    connect(&server, &TestServer::requestReceived, this, [cancelled] { *cancelled = true; });
    Outcome outcome;
    ConsoleCapture console;
    QVERIFY(exchange(true, server.baseUrl(), outcome, {}, QString(), options));
    QCOMPARE(outcome.seen(), reaches == u"server" && cancel.isEmpty() ? QStringLiteral("O:{}") : QStringLiteral("-"));
    if (!cancel.isEmpty())
        QCOMPARE(outcome.end, Exchange::End::Cancelled);
    QVERIFY(console.all().isEmpty());
    QCOMPARE(server.requestCount(), reaches == u"server" ? 1 : 0);
    QCOMPARE(proxy.requestCount(), reaches == u"proxy" ? 1 : 0);
}

void TransportTest::updateRequestUrl_keepsTheLinkOnTheOrigin_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("url"); // empty: refused
    const QString origin = QStringLiteral("https://u.example:8444");
    // clang-format off
    QTest::newRow("path")              << "/update/h/K3y" << origin + "/update/h/K3y";
    QTest::newRow("path and query")    << "/update/h/K3y?ip=1" << origin + "/update/h/K3y?ip=1";
    QTest::newRow("dot segments")      << "/update/../../h/K3y" << origin + "/h/K3y";
    QTest::newRow("user info and port")<< "@evil:1/update/h/K3y" << "";
    QTest::newRow("runs into the host")<< "abc/K3y" << "";
    QTest::newRow("another host")      << "//evil/update/h/K3y" << "";
    QTest::newRow("another port")      << ":1/update/h/K3y" << "";
    QTest::newRow("absolute URL")      << "http://evil/update/h/K3y" << "";
    QTest::newRow("blank")             << "/update/h /K3y" << "";
    // clang-format on
}

void TransportTest::updateRequestUrl_keepsTheLinkOnTheOrigin()
{
    QFETCH(QString, link);
    QFETCH(QString, url);
    ConsoleCapture console;
    const std::optional<QUrl> built = updateRequestUrl(QStringLiteral("https://u.example:8444"), link);
    QCOMPARE(built.value_or(QUrl()).toString(QUrl::FullyEncoded), url);
    QCOMPARE(console.output().size(), url.isEmpty() ? 1 : 0);
    if (url.isEmpty())
        QVERIFY(console.output().constFirst().startsWith(QStringLiteral("invalid URL, request not sent: ")));
    QVERIFY(!console.all().contains(QStringLiteral("K3y")));
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
