// The updater's status: what each reply means, what follows a run of attempts, and how it reads.
#include "updaterstatus.h"

#include <QCoreApplication>
#include <QTest>

using namespace vennacott;
using namespace std::chrono_literals;

namespace {

Exchange answered(int status, const QByteArray &body)
{
    return {Exchange::End::Answered, status, decodeBody(body)};
}

const QDateTime kSent = QDateTime(QDate(2026, 12, 6), QTime(19, 3), Qt::UTC);

// "u:<address>" (updated), "u" (updated, no address), "r" (refused) or "n" (no answer), a minute apart.
UpdaterStatus run(const QStringList &attempts, QList<StatusEvent> *lastEvents = nullptr)
{
    UpdaterStatus status;
    status.linkFingerprint = linkFingerprint(QStringLiteral("/update/me/k"));
    for (qsizetype minute = 0; minute < attempts.size(); ++minute) {
        const QString &step = attempts[minute];
        const auto result = step.startsWith(u'u') ? UpdateResult::Updated
                            : step == u'r'        ? UpdateResult::Refused
                                                  : UpdateResult::NoAnswer;
        const UpdaterStatus next = advance(status, {kSent.addSecs(60 * minute), result, step.mid(2),
                                                    step == u'r' ? QStringLiteral("wrong update key") : QString()});
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
        const UpdaterStatus status = run({"u:A", "n", "r"});
        QCOMPARE(UpdaterStatus::fromJson(status.toJson()), status);
        QJsonObject damaged = status.toJson();
        damaged.insert(QStringLiteral("last_update"), QJsonObject{{QStringLiteral("result"), QStringLiteral("maybe")}});
        QCOMPARE(UpdaterStatus::fromJson(damaged), std::nullopt);
        QVERIFY(!status.toJson().value(QStringLiteral("link")).toString().contains(QLatin1String("/update/")));
    }
};

QTEST_GUILESS_MAIN(UpdaterStatusTest)
#include "tst_updaterstatus.moc"
