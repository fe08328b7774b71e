// The periodic address update: timer, stored link, printed lines, against the local test server.
#include "appdelegate.h"
#include "refsvcharness.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "updater.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kInterval = 100ms;

const QRegularExpression kReplyLine(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 (.*)$)"));

QStringList replyValues(const QStringList &lines)
{
    QStringList values;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = kReplyLine.match(line);
        if (match.hasMatch())
            values.append(match.captured(1));
    }
    return values;
}

} // namespace

class UpdaterTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { clearSettings(); }

    void link_isRequestedFromTheFirstTickOn_changedOrRemovedBetweenTicks();
    void secondUpdater_leavesUpdatesToTheFirstAndShowsItsStatus();
    void serviceKilledAndRestarted_nextTickIsAnsweredAndNothingStoredChanges();
};

void UpdaterTest::link_isRequestedFromTheFirstTickOn_changedOrRemovedBetweenTicks()
{
    UserDefaults::standard().setObject(QStringLiteral("/update/first/k"), keys::kDnsLink);
    TestServer server;
    server.setHandler([](const RecordedRequest &request) {
        ScriptedResponse response = ScriptedResponse::json(R"({"done":true})");
        response.delay = request.target == "/update/second/k" ? 3 * kInterval : 0ms;
        return response;
    });
    ConsoleCapture console;
    AppDelegate delegate(UpdaterOptions{kInterval, server.baseUrl()});
    delegate.applicationDidFinishLaunching();
    QCOMPARE(console.all(), QString()); // nothing at launch itself: the first request waits for the first tick
    QTRY_VERIFY_WITH_TIMEOUT(server.requestCount() >= 2, 5000);
    QCOMPARE(console.output().constFirst(), server.baseUrl() + QStringLiteral("/update/first/[redacted]"));
    // A changed link is used from the next tick on.
    UserDefaults::standard().setObject(QStringLiteral("/update/second/k"), keys::kDnsLink);
    QTRY_VERIFY_WITH_TIMEOUT(server.requests().constLast().target == "/update/second/k", 5000);
    // A removed link sends and prints nothing more, and the request in flight still finishes and prints its reply:
    // every URL line is followed by its reply's line.
    UserDefaults::standard().removeObjectForKey(keys::kDnsLink);
    const auto allAnswered = [&] {
        const QStringList lines = console.output();
        return replyValues(lines).size() * 2 == lines.size();
    };
    QTRY_VERIFY_WITH_TIMEOUT(allAnswered(), 5000);
    const qsizetype lines = console.output().size();
    const QSignalSpy ticks(delegate.findChild<QTimer *>(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 5000);
    QCOMPARE(console.output().size(), lines);
    QCOMPARE(replyValues(console.output()).constLast(), QStringLiteral(R"({"done":true})"));
}

void UpdaterTest::secondUpdater_leavesUpdatesToTheFirstAndShowsItsStatus()
{
    UserDefaults::standard().setObject(QStringLiteral("/update/host/k3y"), keys::kDnsLink);
    TestServer server;
    server.respondWith(ScriptedResponse::json(R"({"ip":"192.0.2.7"})"));
    ConsoleCapture console;
    auto first = std::make_unique<Updater>(server.baseUrl(), kInterval);
    Updater second(server.baseUrl(), kInterval);
    QVERIFY(first->tryToBecomeTheUpdater());
    QVERIFY(!second.tryToBecomeTheUpdater());

    // The second shows what the first publishes, and sends nothing itself.
    first->tick();
    second.tick();
    QTRY_VERIFY_WITH_TIMEOUT(second.status().last.has_value(), 5000);
    QCOMPARE(second.status(), first->status());
    QCOMPARE(second.status().last->address, QStringLiteral("192.0.2.7"));
    QCOMPARE(server.requestCount(), 1);

    // Once the first has gone, the second's next tick takes over.
    first.reset();
    second.tick();
    QVERIFY(second.isTheUpdater());
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 2, 5000);
    // A status about another link is not shown for the stored one.
    UserDefaults::standard().setObject(QStringLiteral("/update/other/k"), keys::kDnsLink);
    QCOMPARE(second.status().last.has_value(), false);
}

void UpdaterTest::serviceKilledAndRestarted_nextTickIsAnsweredAndNothingStoredChanges()
{
    QTemporaryDir dir;
    refsvc::test::ServiceProcess service(dir.filePath(QStringLiteral("service")));
    QVERIFY2(service.start(), service.errors().constData());
    const SessionOptions trusted = UrlSession::shared().options();
    const auto restoreTrust = qScopeGuard([&] { UrlSession::shared().setOptions(trusted); });
    SessionOptions options = trusted;
    QFile ca(service.caFile());
    QVERIFY(ca.open(QIODevice::ReadOnly));
    options.extraCaPem += '\n' + ca.readAll();
    UrlSession::shared().setOptions(options);
    const QString link = refsvc::test::Client(service.caFile()).registerHost(service.updateUrl(), "phoenix");
    QVERIFY(!link.isEmpty());
    UserDefaults::standard().setObject(link, keys::kDnsLink);
    QFile settings(UserDefaults::standard().filePath());
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray stored = settings.readAll();

    ConsoleCapture console;
    Updater updater(service.updateUrl(), kInterval);
    const auto tickToTheEnd = [&updater] {
        const quint64 before = UrlSession::shared().finishedTaskCount();
        updater.tick();
        return QTest::qWaitFor([&] { return UrlSession::shared().finishedTaskCount() > before; }, 70'000);
    };
    QVERIFY(tickToTheEnd());
    // Killed as a crash would, with the client's connection open: the tick meanwhile prints only its URL.
    service.kill();
    QVERIFY(tickToTheEnd());
    QCOMPARE(replyValues(console.output()).size(), 1);
    // Back on the same ports: the very next tick is answered and printed, and the settings are as they were.
    QVERIFY2(service.start(service.apiPort(), service.updatePort()), service.errors().constData());
    QVERIFY(tickToTheEnd());
    const QStringList replies = replyValues(console.output());
    QCOMPARE(replies.size(), 2);
    QVERIFY2(replies.constLast().contains(QStringLiteral(R"("host":"phoenix")")), qPrintable(replies.constLast()));
    settings.close();
    QVERIFY(settings.open(QIODevice::ReadOnly));
    QCOMPARE(settings.readAll(), stored);
    QVERIFY(service.stop());
}

VENNACOTT_TEST_MAIN(UpdaterTest, QCoreApplication)
#include "tst_updater.moc"
