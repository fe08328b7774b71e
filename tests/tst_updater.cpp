// The periodic address update: sign-out, a new host and a restarted service.
#include "core.h"
#include "refsvcharness.h"
#include "settingskeys.h"
#include "setuppaths.h"
#include "testserver.h"
#include "testsupport.h"
#include "urlsession.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kInterval = 100ms;

// The replies among the printed lines, each after its time in UTC.
QStringList replyValues(const QStringList &lines)
{
    static const QRegularExpression reply(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 (.*)$)"));
    QStringList values;
    for (const QString &line : lines) {
        if (const QRegularExpressionMatch match = reply.match(line); match.hasMatch())
            values.append(match.captured(1));
    }
    return values;
}

Core::Options coreOptions(const QString &updateBaseUrl)
{
    Core::Options options;
    options.interval = kInterval;
    options.updateBaseUrl = updateBaseUrl;
    return options;
}

} // namespace

class UpdaterTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        clearSettings();
        QFile::remove(setup::statusFilePath());
    }
    void signOut_dropsTheUpdatesInFlightAndSendsNoMore()
    {
        storeSetting(keys::kToken, QStringLiteral("t"));
        storeSetting(keys::kDnsLink, QStringLiteral("/update/host/k"));
        TestServer server;
        ScriptedResponse slow = ScriptedResponse::json(R"({"ip":"192.0.2.7"})");
        slow.delay = 5 * kInterval;
        server.respondWith(slow);
        ConsoleCapture console;
        Core core(coreOptions(server.baseUrl()));
        core.updater().start(kInterval);
        QCOMPARE(console.all(), QString()); // nothing at launch itself: the first request waits for the first tick
        QTRY_COMPARE_WITH_TIMEOUT(console.output().value(0), server.baseUrl() + "/update/host/[redacted]", 5000);
        QTRY_VERIFY_WITH_TIMEOUT(server.requestCount() >= 1, 5000);
        // However the ticks and the requests in flight lie, no request and no URL line follow the press; a request
        // already on its way may still print its reply.
        const auto urlLines = [&console] { return console.output().size() - replyValues(console.output()).size(); };
        QVERIFY(core.session().signOut());
        const qsizetype printed = urlLines();
        const int sent = server.requestCount();
        QTest::qWait(int(8 * kInterval.count()));
        QCOMPARE(urlLines(), printed);
        QCOMPARE(server.requestCount(), sent);
        QCOMPARE(storedSetting(keys::kDnsLink), std::nullopt);
    }
    void newHost_startsWithoutTheOldRunOfFailures()
    {
        storeSetting(keys::kDnsLink, QStringLiteral("/update/a/key-SECRET-a"));
        TestServer server; // its refusal quotes the key, which no output and no status may then hold
        server.setHandler([](const RecordedRequest &request) {
            return ScriptedResponse::json("{\"error\":\"unknown key " + request.target.mid(10) + "\"}", 403);
        });
        ConsoleCapture console;
        Core core(coreOptions(server.baseUrl()));
        QSignalSpy statuses(&core.updater(), &Updater::statusChanged);
        for (int tick = 0; tick < 3; ++tick) {
            if (tick == 2)
                QVERIFY(core.settings().setHost(QStringLiteral("b"), QStringLiteral("/update/b/key-SECRET-b")));
            core.updater().tick();
            QVERIFY(statuses.wait());
        }
        QCOMPARE(server.requests().constLast().target, QByteArray("/update/b/key-SECRET-b")); // from the next tick on
        QCOMPARE(core.updater().status().failuresInARow, 1);
        QCOMPARE(statuses.constLast().constFirst().value<QList<StatusEvent>>(), QList<StatusEvent>());
        QCOMPARE(core.updater().status().last->error, QStringLiteral("unknown key [redacted]"));
        QFile published(setup::statusFilePath());
        QVERIFY(published.open(QIODevice::ReadOnly) && !published.readAll().contains("SECRET"));
        QVERIFY2(!console.all().contains(QLatin1String("SECRET")), qPrintable(console.all()));
    }
    void serviceKilledAndRestarted_nextTickIsAnsweredAndNothingStoredChanges()
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
        storeSetting(keys::kDnsLink, link);
        QFile settings(Settings::defaultFilePath());
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QByteArray stored = settings.readAll();

        ConsoleCapture console;
        Core core(coreOptions(service.updateUrl()));
        const auto tickToTheEnd = [&core] {
            const quint64 before = UrlSession::shared().finishedTaskCount();
            core.updater().tick();
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
};

VENNACOTT_TEST_MAIN(UpdaterTest, QCoreApplication)
#include "tst_updater.moc"
