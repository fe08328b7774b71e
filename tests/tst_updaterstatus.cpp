// The updater's status: what each reply means, what follows a run of attempts, and how it reads.
#include "addressfamilies.h"
#include "history.h"
#include "timetext.h"
#include "updaterstatus.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vennacott;
using namespace std::chrono_literals;

namespace {

Exchange answered(int status, const QByteArray &body)
{
    return {Exchange::End::Answered, status, decodeBody(body)};
}

const QDateTime kSent = QDateTime(QDate(2026, 12, 6), QTime(19, 3), Qt::UTC);

// "u:<address>" (updated), "u" (updated, no address), "r" (refused) or "n" (no answer), a minute apart; after
// "4" or "6", over that family.
UpdaterStatus run(const QStringList &attempts, QList<StatusEvent> *lastEvents = nullptr)
{
    UpdaterStatus status;
    status.linkFingerprint = linkFingerprint(QStringLiteral("/update/me/k"));
    for (qsizetype minute = 0; minute < attempts.size(); ++minute) {
        QString step = attempts[minute];
        const AddressFamily family = step.startsWith(u'4')   ? AddressFamily::IPv4
                                     : step.startsWith(u'6') ? AddressFamily::IPv6
                                                             : AddressFamily::Any;
        if (family != AddressFamily::Any)
            step.remove(0, 1);
        const auto result = step.startsWith(u'u') ? UpdateResult::Updated
                            : step == u'r'        ? UpdateResult::Refused
                                                  : UpdateResult::NoAnswer;
        const UpdaterStatus next =
            advance(status, {kSent.addSecs(60 * minute), result, step.mid(2),
                             step == u'r' ? QStringLiteral("wrong update key") : QString(), family});
        if (lastEvents)
            *lastEvents = eventsBetween(status, next);
        status = next;
    }
    return status;
}

} // namespace

class UpdaterStatusTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void attempt_meansWhatTheReplySays_data()
    {
        QTest::addColumn<Exchange>("exchange");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("error"); // "ours" for a text of the client's own
        // clang-format off
        QTest::newRow("updated")            << answered(200, R"({"host":"me","ip":"203.0.113.7"})") << "updated" << "203.0.113.7" << "";
        QTest::newRow("error text, 200")    << answered(200, R"({"error":"slow down"})") << "refused" << "" << "slow down";
        QTest::newRow("error status alone") << answered(502, R"({"ip":"203.0.113.7"})") << "refused" << "203.0.113.7" << "ours";
        QTest::newRow("proxy page")         << answered(200, "<html>hello</html>") << "refused" << "" << "ours";
        QTest::newRow("no answer")          << Exchange{Exchange::End::NoAnswer, 0, {}} << "no_answer" << "" << "";
        QTest::newRow("not sent")           << Exchange{Exchange::End::NotSent, 0, {}} << "refused" << "" << "ours";
        // clang-format on
    }
    void attempt_meansWhatTheReplySays()
    {
        QFETCH(Exchange, exchange);
        QFETCH(QString, result);
        QFETCH(QString, address);
        QFETCH(QString, error);
        const UpdateAttempt attempt = attemptOf(exchange, kSent);
        QCOMPARE(resultName(attempt.result), result);
        QCOMPARE(attempt.address, address);
        QVERIFY2(error == QLatin1String("ours") ? !attempt.error.isEmpty() : attempt.error == error,
                 qPrintable(attempt.error));
    }
    void run_givesEventsAtTurningPointsAndItsLine_data()
    {
        // The first update, a new address, the third failure in a row and the first success after it are walked
        // by tst_notifier, one notification each and none for the other attempts.
        QTest::addColumn<QStringList>("attempts");
        QTest::addColumn<int>("failures");
        QTest::addColumn<QList<StatusEvent>>("events"); // after the last attempt
        QTest::addColumn<QString>("line"); // %1 and %2 stand for the local times of the first and last attempt
        using E = QList<StatusEvent>;
        const QString updated = QStringLiteral("Updated at %2 — the service sees ");
        // clang-format off
        QTest::newRow("same address")      << QStringList{"u:A", "u:A"} << 0 << E{} << updated + "A";
        QTest::newRow("refused")           << QStringList{"u:A", "n", "r"} << 2 << E{} << "The update server refused the last update at %2: wrong update key";
        QTest::newRow("no answer")         << QStringList{"n", "n", "n", "n"} << 4 << E{} << "No answer from the update server since %1; trying again every 10 seconds";
        QTest::newRow("back, new address") << QStringList{"u:A", "n", "n", "n", "u:B"} << 0 << E{StatusEvent::WorkingAgain, StatusEvent::AddressChanged} << updated + "B";
        QTest::newRow("back after two")    << QStringList{"u:A", "n", "n", "u:A"} << 0 << E{} << updated + "A";
        QTest::newRow("no address is no change") << QStringList{"u:A", "u"} << 0 << E{} << "Updated at %2";
        QTest::newRow("both, unchanged")   << QStringList{"4u:192.0.2.1", "6u:2001:db8::1", "4u:192.0.2.1"} << 0 << E{} << updated + "192.0.2.1 (IPv4) and 2001:db8::1 (IPv6)";
        QTest::newRow("IPv6 fails, IPv4 works") << QStringList{"6n", "4u:192.0.2.1", "4u:192.0.2.1"} << 0 << E{} << updated + "192.0.2.1\nIPv6: No answer from the update server since %1; trying again every 10 seconds";
        QTest::newRow("both, IPv6 moved")  << QStringList{"4u:192.0.2.1", "6u:2001:db8::1", "4u:192.0.2.1", "6u:2001:db8::2"} << 0 << E{StatusEvent::AddressChanged} << updated + "192.0.2.1 (IPv4) and 2001:db8::2 (IPv6)";
        // clang-format on
    }
    void run_givesEventsAtTurningPointsAndItsLine()
    {
        QFETCH(QStringList, attempts);
        QFETCH(int, failures);
        QFETCH(QList<StatusEvent>, events);
        QFETCH(QString, line);
        QList<StatusEvent> seen;
        const UpdaterStatus status = run(attempts, &seen);
        QCOMPARE(status.failuresInARow, failures);
        QCOMPARE(seen, events);
        const auto local = [](const QDateTime &time) {
            return QLocale().toString(time.toLocalTime().time(), QLocale::ShortFormat);
        };
        const QString last = local(kSent.addSecs(60 * (attempts.size() - 1)));
        QCOMPARE(statusLine(status, 10s),
                 line.replace(QLatin1String("%1"), local(kSent)).replace(QLatin1String("%2"), last));
    }
    void published_readsBackOrIsRefused()
    {
        UpdaterStatus status = run({"4u:192.0.2.1", "6u:2001:db8::1", "6n", "r"});
        // The server's text as it may come: quotes, a backslash, control characters, letters beyond ASCII.
        status.last->error = QStringLiteral("a \"quoted\" C:\\path\n\t\x01 \u00e9t\u00e9 \u65e5\U0001F600");
        const auto parsed = [](const QByteArray &text) {
            QJsonParseError error{};
            const QJsonObject object = QJsonDocument::fromJson(text, &error).object();
            return error.error == QJsonParseError::NoError ? object : QJsonObject();
        };
        const QJsonObject written = parsed(status.toJson());
        QCOMPARE(UpdaterStatus::fromJson(written), status);
        QCOMPARE(written.value(QStringLiteral("addresses")),
                 (QJsonObject{{QStringLiteral("ipv4"), QStringLiteral("192.0.2.1")},
                              {QStringLiteral("ipv6"), QStringLiteral("2001:db8::1")}}));
        QJsonObject damaged = written;
        damaged.insert(QStringLiteral("last_update"), QJsonObject{{QStringLiteral("result"), QStringLiteral("maybe")}});
        QCOMPARE(UpdaterStatus::fromJson(damaged), std::nullopt);
        QVERIFY(!written.value(QStringLiteral("link")).toString().contains(QLatin1String("/update/")));
    }
    void history_keepsChangesOnly_andSkipsATornEntry()
    {
        // Each family's first update, a failure, the update after it and a new address: five of eight ticks.
        const QStringList attempts{"4u:192.0.2.1", "6u:2001:db8::1", "4u:192.0.2.1",  "6u:2001:db8::1", "4n",
                                   "4n",           "4u:192.0.2.1",   "6u:2001:db8::2"};
        QList<HistoryEntry> entries;
        for (qsizetype i = 0; i < attempts.size(); ++i) {
            if (const auto entry = historyEntryBetween(run(attempts.mid(0, i)), run(attempts.mid(0, i + 1))))
                entries.append(*entry);
        }
        QCOMPARE(entries.size(), 5);
        QCOMPARE(entries.at(2).result, UpdateResult::NoAnswer);
        QCOMPARE(entries.at(2).address, QStringLiteral("192.0.2.1"));
        QCOMPARE(entries.constLast().family, AddressFamily::IPv6);

        QTemporaryDir dir;
        History history(dir.filePath(QStringLiteral("state/history.jsonl")));
        for (qsizetype i = 0; i < entries.size() - 1; ++i)
            QVERIFY(history.append(entries.at(i)));
        QFile torn(history.filePath());
        QVERIFY(torn.open(QIODevice::Append));
        torn.write("{\"time\":\"2026-12-07T19:0");
        torn.close();
        QCOMPARE(history.read(), entries.mid(0, entries.size() - 1));
        QVERIFY(history.append(entries.constLast()));
        QCOMPARE(history.read(), entries);
        QCOMPARE(history.read(entries.at(3).time), entries.mid(3));
        QCOMPARE(QFileInfo(history.filePath()).permissions() & 0x0077, QFileDevice::Permissions());
    }
    void warnings_nameTheVpnAndSharedOrPrivateAddresses_data()
    {
        QTest::addColumn<QString>("interface");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("warnings"); // the start of each
        const QString vpn = QStringLiteral("sent through the VPN interface ");
        const QString shared = QStringLiteral("your provider shares this address");
        const QString privateAddress = QStringLiteral("the service saw the private address ");
        // clang-format off
        QTest::newRow("public, ethernet")  << "eth0" << "203.0.113.7" << QStringList{};
        QTest::newRow("WireGuard")         << "wg0" << "198.51.100.1" << QStringList{vpn + "wg0"};
        QTest::newRow("tun, shared")       << "tun1" << "100.127.255.254" << QStringList{vpn + "tun1", shared};
        QTest::newRow("beside shared")     << "ppp0x" << "100.128.0.1" << QStringList{vpn + "ppp0x"};
        QTest::newRow("10/8")              << "eth0" << "10.1.2.3" << QStringList{privateAddress + "10.1.2.3"};
        QTest::newRow("172.16/12 edge")    << "eth0" << "172.31.255.1" << QStringList{privateAddress + "172.31.255.1"};
        QTest::newRow("beside 172.16/12")  << "eth0" << "172.32.0.1" << QStringList{};
        QTest::newRow("192.168/16")        << "" << "192.168.1.20" << QStringList{privateAddress + "192.168.1.20"};
        QTest::newRow("unique local IPv6") << "" << "fd12:3456::1" << QStringList{privateAddress + "fd12:3456::1"};
        QTest::newRow("global IPv6")       << "" << "2001:db8::1" << QStringList{};
        // clang-format on
    }
    void warnings_nameTheVpnAndSharedOrPrivateAddresses()
    {
        QFETCH(QString, interface);
        QFETCH(QString, address);
        QFETCH(QStringList, warnings);
        UpdateAttempt attempt;
        attempt.time = kSent;
        attempt.result = UpdateResult::Updated;
        attempt.address = address;
        attempt.interface = interface;
        const QStringList seen = warningsAbout(attempt);
        QCOMPARE(seen.size(), warnings.size());
        for (qsizetype i = 0; i < seen.size(); ++i)
            QVERIFY2(seen.at(i).startsWith(warnings.at(i)), qPrintable(seen.at(i)));
        UpdaterStatus status = advance(UpdaterStatus(), attempt);
        for (const QString &warning : seen)
            QVERIFY(statusLine(status, 10s).contains(warning));
    }
    void ipv6Source_isTheStableAddressBesideATemporaryOne_data()
    {
        QTest::addColumn<QByteArray>("ifInet6");
        QTest::addColumn<QString>("source");
        const QByteArray stable = "20010db8000000000000000000000005 02 40 00 00 eth0\n";
        const QByteArray temporary = "20010db80000000012345678abcdef01 02 40 00 01 eth0\n";
        const QByteArray loopback = "00000000000000000000000000000001 01 80 10 80 lo\n";
        // clang-format off
        QTest::newRow("stable and temporary") << loopback + temporary + stable << "host!2001:db8::5";
        QTest::newRow("stable only")          << loopback + stable << QString();
        QTest::newRow("stable deprecated")    << temporary + QByteArray(stable).replace(" 00 00 ", " 00 20 ") << QString();
        QTest::newRow("on another interface") << temporary + QByteArray(stable).replace("eth0", "wlan0") << QString();
        QTest::newRow("torn line")            << temporary + stable.left(20) << QString();
        // clang-format on
    }
    void ipv6Source_isTheStableAddressBesideATemporaryOne()
    {
        QFETCH(QByteArray, ifInet6);
        QFETCH(QString, source);
        QCOMPARE(stableIPv6Source(ifInet6), source);
    }
    void timeText_isWhatQtWrites_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::newRow("now-ish") << qint64(1796680352123);
        QTest::newRow("whole second") << qint64(1796680352000);
        QTest::newRow("leap day, last ms") << qint64(1709251199999);
        QTest::newRow("before 1970") << qint64(-1501);
        QTest::newRow("1 March 2000") << qint64(951868800000);
        QTest::newRow("31 December 2399") << qint64(13569465599999);
    }
    void timeText_isWhatQtWrites()
    {
        QFETCH(qint64, ms);
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        QCOMPARE(utcIsoText(time), time.toString(Qt::ISODateWithMs));
        QCOMPARE(utcLineText(time.toLocalTime()), time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        QCOMPARE(utcIsoText(QDateTime()), QString());
    }
    void routeInterface_isAskedAgainWhenTheRoutesChange()
    {
        // In a network namespace of its own, where this copy of the test may add an address.
        if (qEnvironmentVariableIsEmpty("VENNACOTT_TEST_NETNS")) {
            QProcess inside;
            inside.setProcessChannelMode(QProcess::MergedChannels);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("VENNACOTT_TEST_NETNS"), QStringLiteral("1"));
            inside.setProcessEnvironment(environment);
            inside.start("unshare", {"--user", "--map-root-user", "--net", QCoreApplication::applicationFilePath(),
                                     QTest::currentTestFunction()});
            QVERIFY(inside.waitForFinished(60'000));
            const QByteArray output = inside.readAll();
            if (output.startsWith("unshare:"))
                QSKIP("no user and network namespaces here");
            QVERIFY2(inside.exitStatus() == QProcess::NormalExit && inside.exitCode() == 0, output.constData());
            return;
        }
        const auto ip = [](const QString &arguments) { return QProcess::execute("ip", arguments.split(u' ')) == 0; };
        QVERIFY(ip("link set lo up"));
        QCOMPARE(routeInterface("10.9.9.2", AddressFamily::IPv4), QString()); // no route yet
        QVERIFY(ip("addr add 10.9.9.1/24 dev lo"));
        QCOMPARE(routeInterface("10.9.9.2", AddressFamily::IPv4), QStringLiteral("lo"));
    }
};

QTEST_GUILESS_MAIN(UpdaterStatusTest)
#include "tst_updaterstatus.moc"
