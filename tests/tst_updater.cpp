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
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
    void tick_sendsOneRequestOverTheChosenFamily_data()
    {
        // The test server listens on 127.0.0.1 alone: one request whatever the choice, except over IPv6 only.
        QTest::addColumn<QString>("choice");
        QTest::addColumn<int>("requests");
        QTest::newRow("both") << "both" << 1;
        QTest::newRow("IPv6 only") << "ipv6" << 0;
    }
    void tick_sendsOneRequestOverTheChosenFamily()
    {
        QFETCH(QString, choice);
        QFETCH(int, requests);
        storeSetting(keys::kDnsLink, QStringLiteral("/update/host/k"));
        TestServer server;
        server.respondWith(ScriptedResponse::json(R"({"ip":"192.0.2.7"})"));
        ConsoleCapture console;
        Core core(coreOptions(server.baseUrl()));
        core.updater().setFamilyChoice(*familyChoiceFromName(choice));
        QSignalSpy statuses(&core.updater(), &Updater::statusChanged);
        core.updater().tick();
        QVERIFY(statuses.wait());
        QVERIFY(!statuses.wait(int(3 * kInterval.count()))); // no second request's status
        QCOMPARE(server.requestCount(), requests);
        QCOMPARE(console.output().size(), 1 + requests); // the URL line, and the reply's when there is one
        QCOMPARE(core.updater().status().last->result, requests ? UpdateResult::Updated : UpdateResult::NoAnswer);
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
    void dualStack_tickUpdatesBothFamilies_andTheServiceKeepsBoth()
    {
        // The checks run in a second copy of this test, in a mount namespace of its own where localhost names
        // both 127.0.0.1 and ::1 (the machine's own hosts file may map it to one of them alone).
        if (qEnvironmentVariableIsEmpty("VENNACOTT_TEST_DUAL_STACK")) {
            QTemporaryDir dir;
            QFile hosts(dir.filePath(QStringLiteral("hosts")));
            QVERIFY(hosts.open(QIODevice::WriteOnly) && hosts.write("127.0.0.1 localhost\n::1 localhost\n") > 0);
            hosts.close();
            const QStringList mount{"sh", "-c", "mount --bind \"$0\" /etc/hosts && exec \"$@\"", hosts.fileName()};
            for (const QStringList &ns :
                 {QStringList{"--user", "--map-root-user", "--mount"}, QStringList{"--mount"}}) {
                if (QProcess::execute(QStringLiteral("unshare"), ns + mount + QStringList{"true"}) != 0)
                    continue;
                QProcess inside;
                inside.setProcessChannelMode(QProcess::MergedChannels);
                QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                environment.insert(QStringLiteral("VENNACOTT_TEST_DUAL_STACK"), QStringLiteral("1"));
                inside.setProcessEnvironment(environment);
                inside.start("unshare",
                             ns + mount +
                                 QStringList{QCoreApplication::applicationFilePath(), QTest::currentTestFunction()});
                const bool ended = inside.waitForFinished(120'000);
                const QByteArray output = inside.readAll();
                QVERIFY2(ended && inside.exitStatus() == QProcess::NormalExit && inside.exitCode() == 0,
                         output.constData());
                if (output.contains("SKIP   :"))
                    QSKIP("no route to ::1 here");
                return;
            }
            QSKIP("cannot give localhost both addresses: unshare(1) needs user namespaces, or root without them");
        }
        sockaddr_in6 loopback{};
        loopback.sin6_family = AF_INET6;
        loopback.sin6_addr = in6addr_loopback;
        loopback.sin6_port = htons(9);
        const int probe = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const bool routed =
            probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr *>(&loopback), sizeof loopback) == 0;
        if (probe >= 0)
            ::close(probe);
        if (!routed)
            QSKIP("no route to ::1 here");
        QTemporaryDir dir;
        refsvc::test::ServiceProcess service(dir.filePath(QStringLiteral("service")));
        QVERIFY2(service.start(), service.errors().constData());
        SessionOptions options = UrlSession::shared().options();
        QFile ca(service.caFile());
        QVERIFY(ca.open(QIODevice::ReadOnly));
        options.extraCaPem += '\n' + ca.readAll();
        UrlSession::shared().setOptions(options);
        refsvc::test::Client client(service.caFile());
        storeSetting(keys::kDnsLink, client.registerHost(service.updateUrl(), "both"));

        // Two requests a tick, each with its lines, and each family's address in the status and on the service.
        ConsoleCapture console;
        Core core(coreOptions(QStringLiteral("https://localhost:%1").arg(service.updatePort())));
        QSignalSpy statuses(&core.updater(), &Updater::statusChanged);
        core.updater().tick();
        QTRY_COMPARE_WITH_TIMEOUT(statuses.count(), 2, refsvc::test::kStepTimeoutMs);
        QCOMPARE(replyValues(console.output()).size(), 2);
        QCOMPARE(console.output().size(), 4);
        const UpdaterStatus status = core.updater().status();
        QCOMPARE(status.ipv4.knownAddress + ' ' + status.ipv6.knownAddress, QStringLiteral("127.0.0.1 ::1"));
        const QString page = QString::fromUtf8(client.get(service.updateUrl() + QStringLiteral("/")).body);
        QVERIFY2(page.contains(QStringLiteral("<td>127.0.0.1 (")) && page.contains(QStringLiteral("<td>::1 (")),
                 qPrintable(page));
    }
};

VENNACOTT_TEST_MAIN(UpdaterTest, QCoreApplication)
#include "tst_updater.moc"
