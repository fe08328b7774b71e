// The JSON transport against the local test server: wire format, decoding, failures and threads.
#include "buildconfig.h"
#include "endpoints.h"
#include "testserver.h"
#include "testsupport.h"
#include "transport.h"
#include "urlsession.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTest>

#include <atomic>
#include <optional>
#include <tuple>

using namespace vennacott;
using namespace vennacott::test;
using Action = ScriptedResponse::Action;

// Sent: whether it is a POST, the token, whether to the API origin (else the update origin), the API origin's
// redirect status (if any), whether that leads elsewhere (the update origin, else "/moved"), and our headers in the
// order sent, as the last request arrived.
using Sent = std::tuple<bool, QString, bool, int, bool, QByteArrayList>;
// Replied: the server ("trusted", "rogue" with an untrusted certificate, "gone" from a refused port), its response,
// what the callback sees for GET and POST (O:<object>, F for false, T:<text>, - for no call), and the limit named in
// the one line on standard error when one ended the exchange.
using Replied = std::tuple<QString, ScriptedResponse, QString, QString, QString>;
// Options: address family, interface, whether to use a proxy, one in the environment, cancelled before it starts,
// and what it reaches: "server", "proxy" or "" (neither).
using Options = std::tuple<int, QString, bool, bool, bool, QString>;
Q_DECLARE_METATYPE(Sent)
Q_DECLARE_METATYPE(Replied)
Q_DECLARE_METATYPE(Options)

namespace {

// What a callback saw, written on the delivery thread; the count goes up last, so the rest is set once it shows.
struct Outcome
{
    std::atomic<int> calls = 0;
    QString seen = QStringLiteral("-"); // O:<object>, F (false), T:<text>, or - when the callback was not called
    std::optional<Exchange::End> end;   // set before the session counts the task as finished

    ResponseCallback callback()
    {
        return [this](const ResponseValue &value) {
            seen = value.isFalse() ? QStringLiteral("F") : (value.isObject() ? "O:" : "T:") + value.description();
            ++calls;
        };
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

// The peak resident memory since the last reset, in bytes, or -1 where it says nothing about the code: the
// address sanitizer keeps freed memory in quarantine.
qint64 peakResidentBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return -1;
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmHWM:");
    return at < 0 ? -1
                  : text.mid(at + 6, text.indexOf('\n', at) - at - 6).trimmed().split(' ').value(0).toLongLong() * 1024;
}

} // namespace

class TransportTest final : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestServer> m_plain; // where a redirect to plain HTTP would lead

private Q_SLOTS:
    void initTestCase() { m_plain = std::make_unique<TestServer>(TestServer::Identity::PlainHttp); }
    void init()
    {
        clearSettings();
        trustTestServer();
    }
    void request_headersTokenAndBody_data()
    {
        QTest::addColumn<Sent>("row");
        const QByteArray accept = "Accept: application/json", json = "Content-Type: application/json";
        const QByteArray bearer = "Authorization: Bearer abc.DEF-123=";
        const QString token = QStringLiteral("abc.DEF-123=");
        // The token goes to the API origin only, and never with a line break in it; the password (a sign-in has no
        // token yet) and the token never follow a redirect elsewhere, while one within the origin is followed with
        // the same method, headers and body.
        // clang-format off
        QTest::newRow("GET")                           << Sent{false, QString(), true, 0, false, QByteArrayList{accept}};
        QTest::newRow("POST, token")                   << Sent{true, token, true, 0, false, QByteArrayList{bearer, json, accept}};
        QTest::newRow("POST to the update origin")     << Sent{true, token, false, 0, false, QByteArrayList{json, accept}};
        QTest::newRow("POST, line break in the token") << Sent{true, "abc\r\nX-Injected: 1", true, 0, false, QByteArrayList{json, accept}};
        QTest::newRow("sign-in, 307 elsewhere")        << Sent{true, QString(), true, 307, true, QByteArrayList{json, accept}};
        QTest::newRow("POST, token, 308 elsewhere")    << Sent{true, token, true, 308, true, QByteArrayList{bearer, json, accept}};
        QTest::newRow("POST, token, 307 within")       << Sent{true, token, true, 307, false, QByteArrayList{bearer, json, accept}};
        // clang-format on
    }
    void request_headersTokenAndBody()
    {
        QFETCH(Sent, row);
        const auto &[post, token, toApi, redirect, elsewhere, headers] = row;
        const QString password = QStringLiteral("p\"w\\ \n ä");
        TestServer api, update;
        TestServer &target = toApi ? api : update;
        endpoints::overrideForTesting(api.baseUrl(), update.baseUrl());
        const QByteArray location = elsewhere ? update.baseUrl().toUtf8() + "/stolen" : QByteArray("/moved");
        api.setHandler([redirect = redirect, location](const RecordedRequest &request) {
            if (!redirect || request.target == "/moved")
                return ScriptedResponse::json("{}");
            return ScriptedResponse{Action::Respond, redirect, {{"Location", location}}, {}, {}, {}, {}};
        });
        Outcome outcome;
        ConsoleCapture console;
        QVERIFY(
            exchange(post, target.baseUrl() + "/new/Abc", outcome, {{QStringLiteral("Password"), password}}, token));
        endpoints::overrideForTesting(QString(), QString());
        QCOMPARE(outcome.calls.load(), redirect && elsewhere ? 0 : 1);
        if (redirect)
            QCOMPARE(update.requestCount(), 0);
        QCOMPARE(console.errors().size(), token.contains(QLatin1Char('\n')) || (redirect && elsewhere) ? 1 : 0);
        QVERIFY(!console.all().contains(QStringLiteral("abc")));

        const RecordedRequest request = target.requests().value(target.requestCount() - 1);
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
        // A POST sends a pretty-printed object of strings, a GET nothing.
        const QJsonObject sent{{"Password", password}};
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), post ? sent : QJsonObject());
        QCOMPARE(request.body.contains('\n'), post);
        QCOMPARE(request.body.isEmpty(), !post);
    }
    void reply_isDeliveredDecodedOrNotAtAll_data()
    {
        QTest::addColumn<Replied>("row");
        const auto json = [](const QByteArray &body, int status = 200) { return ScriptedResponse::json(body, status); };
        const auto act = [](Action action) {
            return ScriptedResponse{action, 200, {}, R"({"a":"0123456789"})", {}, {}, {}};
        };
        const auto redirect = [](const QByteArray &to) {
            return ScriptedResponse{Action::Respond, 302, {{"Location", to}}, {}, {}, {}, {}};
        };
        const auto endless = [](const HeaderList &headers, const QByteArray &head, const QByteArray &unit,
                                std::chrono::milliseconds pace = {}) {
            return ScriptedResponse{Action::Endless, 200, headers, head, {}, unit, pace};
        };
        // qCompress() gives a zlib stream behind four bytes of length, which is what "deflate" means on the wire.
        const auto deflated = [](const QByteArray &body) {
            return ScriptedResponse{
                Action::Respond, 200, {{"Content-Encoding", "deflate"}}, qCompress(body, 9).mid(4), {}, {}, {}};
        };
        const QByteArray data(64 * 1024, 'x');
        const QByteArray mebibyte = "{\"a\":\"" + QByteArray(1024 * 1024 - 8, 'x') + "\"}"; // a JSON object of 1 MiB
        const QString moved = QStringLiteral(R"(O:{"moved":true})"), whole = "O:" + QString::fromLatin1(mebibyte);
        const QString body = QStringLiteral("body passed 1 MiB"), headers = QStringLiteral("headers passed 64 KiB");
        // A reply is decoded whatever its status; only GET says why a body could not be read, on one line of standard
        // output. A failure of the transport is silent unless a limit ended it; what lies just inside them is
        // delivered. A hostile reply ends within bounded memory, and the next request on that server is answered.
        // clang-format off
        QTest::newRow("500 object")             << Replied{"trusted", json(R"({"e":"x"})", 500), R"(O:{"e":"x"})", R"(O:{"e":"x"})", ""};
        QTest::newRow("array")                  << Replied{"trusted", json(R"([{"a":1}])"), "-", "-", ""};
        QTest::newRow("bare string")            << Replied{"trusted", json(R"("abc")"), "F", R"(T:"abc")", ""};
        QTest::newRow("500 empty")              << Replied{"trusted", json({}, 500), "F", "T:", ""};
        QTest::newRow("not UTF-8")              << Replied{"trusted", json("\xff\xfe\x80"), "F", "T:", ""};
        QTest::newRow("deflate-encoded")        << Replied{"trusted", deflated(R"({"a":1})"), R"(O:{"a":1})", R"(O:{"a":1})", ""};
        QTest::newRow("refused port")           << Replied{"gone", json("{}"), "-", "-", ""};
        QTest::newRow("untrusted certificate")  << Replied{"rogue", json("{}"), "-", "-", ""};
        QTest::newRow("redirect to plain http") << Replied{"trusted", redirect(m_plain->baseUrl().toUtf8() + "/stolen"), "-", "-", "another origin"};
        QTest::newRow("redirect within https")  << Replied{"trusted", redirect("/moved"), moved, moved, ""};
        QTest::newRow("stalled")                << Replied{"trusted", act(Action::Stall), "-", "-", "no progress for 1 s"};
        // Closed after the headers; a connection closed before any answer fails the same way (the updater's test).
        QTest::newRow("body cut short")         << Replied{"trusted", act(Action::DropMidBody), "-", "-", ""};
        QTest::newRow("body over 1 MiB")        << Replied{"trusted", json(mebibyte.chopped(2) + "x\"}"), "-", "-", body};
        QTest::newRow("body of exactly 1 MiB")  << Replied{"trusted", json(mebibyte), whole, whole, ""};
        QTest::newRow("endless headers")        << Replied{"trusted", endless({}, {}, "X-Filler: " + QByteArray(1000, 'x') + "\r\n"), "-", "-", headers};
        QTest::newRow("endless header line")    << Replied{"trusted", endless({}, "X-Filler: ", data), "-", "-", headers};
        QTest::newRow("100 MB with length")     << Replied{"trusted", endless({{"Content-Length", "104857600"}}, "\r\n", data), "-", "-", body};
        QTest::newRow("100 MB without length")  << Replied{"trusted", endless({{"Connection", "close"}}, "\r\n", data), "-", "-", body};
        QTest::newRow("chunked without end")    << Replied{"trusted", endless({{"Transfer-Encoding", "chunked"}}, "\r\n", "10000\r\n" + data + "\r\n"), "-", "-", body};
        QTest::newRow("compression bomb")       << Replied{"trusted", deflated(QByteArray(64 * 1024 * 1024, ' ')), "-", "-", body};
        QTest::newRow("trickled headers")       << Replied{"trusted", endless({}, {}, "X-Slow: 1\r\n", std::chrono::milliseconds(20)), "-", "-", "headers did not end within 1 s"};
        // clang-format on
    }
    void reply_isDeliveredDecodedOrNotAtAll()
    {
        QFETCH(Replied, row);
        const auto &[server, response, get, post, limit] = row;
        trustTestServer(std::chrono::milliseconds(1000));
        auto scripted = std::make_unique<TestServer>(server == u"rogue" ? TestServer::Identity::Rogue
                                                                        : TestServer::Identity::Trusted);
        const QString base = scripted->baseUrl();
        scripted->setHandler([response = response](const RecordedRequest &request) {
            return request.target == "/p" ? response : ScriptedResponse::json(R"({"moved":true})");
        });
        if (server == u"gone")
            scripted.reset();
        for (const bool isPost : {false, true}) {
            if (QFile clear(QStringLiteral("/proc/self/clear_refs")); clear.open(QIODevice::WriteOnly))
                clear.write("5"); // resets the peak
            const qint64 before = peakResidentBytes();
            Outcome outcome, next;
            ConsoleCapture console;
            QVERIFY(exchange(isPost, base + "/p", outcome, {{QStringLiteral("Password"), QStringLiteral("pw")}}));
            const QString wanted = isPost ? post : get;
            QCOMPARE(outcome.seen, wanted);
            QCOMPARE(console.output().size(), wanted == u"F" ? 1 : 0);
            QCOMPARE(console.errors().size(), limit.isEmpty() ? 0 : 1);
            QVERIFY2(console.errors().join(QString()).contains(limit), qPrintable(console.errors().join(QString())));
            if (limit.isEmpty())
                continue;
            QCOMPARE(outcome.end, Exchange::End::NoAnswer);
            if (before > 0)
                QCOMPARE_LT(peakResidentBytes() - before, 10 * 1024 * 1024);
            QVERIFY(exchange(false, base + "/next", next));
            QCOMPARE(next.seen, QStringLiteral(R"(O:{"moved":true})"));
        }
        QCOMPARE(m_plain->requestCount(), 0);
        if (server == u"rogue")
            QCOMPARE(scripted->requestCount(), 0);
    }
    void requestOptions_familyInterfaceProxyAndCancel_data()
    {
        QTest::addColumn<Options>("row");
        const int any = int(AddressFamily::Any);
        // A request cancelled before it starts ends with neither callback nor line, and never reaches the server.
        // clang-format off
        QTest::newRow("IPv4 only")                  << Options{int(AddressFamily::IPv4), QString(), true, false, false, "server"};
        QTest::newRow("IPv6 only, to IPv4")         << Options{int(AddressFamily::IPv6), QString(), true, false, false, ""};
        QTest::newRow("from a missing interface")   << Options{any, "if!vennacott-no", true, false, false, ""};
        QTest::newRow("proxy from the environment") << Options{any, QString(), true, true, false, "proxy"};
        QTest::newRow("kept off the proxy")         << Options{any, QString(), false, true, false, "server"};
        QTest::newRow("cancelled before it starts") << Options{any, QString(), true, false, true, ""};
        // clang-format on
    }
    void requestOptions_familyInterfaceProxyAndCancel()
    {
        QFETCH(Options, row);
        const auto &[family, interface, useProxy, proxyInEnvironment, cancel, reaches] = row;
        // Far beyond the wait for the exchange's end: a stalled request can only end in time by being cancelled.
        trustTestServer(std::chrono::minutes(1));
        TestServer server, proxy(TestServer::Identity::PlainHttp);
        if (cancel)
            server.respondWith({Action::Stall, 200, {}, {}, {}, {}, {}});
        proxy.respondWith(ScriptedResponse::json({}, 403)); // no tunnel
        if (proxyInEnvironment)
            qputenv("https_proxy", proxy.baseUrl().toUtf8());
        const auto restore = qScopeGuard([] { qunsetenv("https_proxy"); });
        RequestOptions options{AddressFamily(family), interface, useProxy, {}};
        if (cancel)
            options.cancelled = std::make_shared<std::atomic_bool>(true);
        Outcome outcome;
        ConsoleCapture console;
        QVERIFY(exchange(true, server.baseUrl(), outcome, {}, QString(), options));
        QCOMPARE(outcome.seen, reaches == u"server" ? QStringLiteral("O:{}") : QStringLiteral("-"));
        if (cancel)
            QCOMPARE(outcome.end, Exchange::End::Cancelled);
        QVERIFY(console.all().isEmpty());
        QCOMPARE(server.requestCount(), reaches == u"server" ? 1 : 0);
        QCOMPARE(proxy.requestCount(), reaches == u"proxy" ? 1 : 0);
    }
    void updateRequestUrl_keepsTheLinkOnTheOrigin_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("url"); // empty: refused
        const QString origin = QStringLiteral("https://u.example:8444");
        // clang-format off
        QTest::newRow("path")               << "/update/h/K3y" << origin + "/update/h/K3y";
        QTest::newRow("path and query")     << "/update/h/K3y?ip=1" << origin + "/update/h/K3y?ip=1";
        QTest::newRow("dot segments")       << "/update/../../h/K3y" << origin + "/h/K3y";
        QTest::newRow("user info and port") << "@evil:1/update/h/K3y" << "";
        QTest::newRow("runs into the host") << "abc/K3y" << "";
        QTest::newRow("another host")       << "//evil/update/h/K3y" << "";
        QTest::newRow("another port")       << ":1/update/h/K3y" << "";
        QTest::newRow("absolute URL")       << "http://evil/update/h/K3y" << "";
        QTest::newRow("blank")              << "/update/h /K3y" << "";
        // clang-format on
    }
    void updateRequestUrl_keepsTheLinkOnTheOrigin()
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
    void version_namesEachExtraCaTrusted()
    {
        QFile ca(QStringLiteral(VENNACOTT_TEST_CERT_DIR "/ca.pem"));
        QVERIFY(ca.open(QIODevice::ReadOnly));
        // As `openssl x509 -noout -subject -fingerprint -sha256` names it (make-certs.sh makes a new one).
        QCOMPARE(endpoints::versionText(QStringLiteral("p"), ca.readAll()),
                 QStringLiteral("p %1\nTrusts an extra CA compiled in: CN=Vennacott Test CA, SHA-256 "
                                "07:88:41:C4:54:2D:70:7B:E0:D2:52:59:44:1D:D7:E0:E1:90:FD:BB:95:1D:65:BB:C7:9C:72:3A:"
                                "45:53:19:6B\n")
                     .arg(QString::fromUtf8(buildconfig::kVersion)));
    }
};

VENNACOTT_TEST_MAIN(TransportTest, QCoreApplication)
#include "tst_transport.moc"
