// The table behind the sign-in limits, on a clock of the test's own: what it forgets to make room.
#include "signinthrottle.h"

#include <QTest>

using namespace std::chrono_literals;
using vennacott::refsvc::SignInThrottle;

class SignInThrottleTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fullTable_neverForgetsARefusedKey_data()
    {
        QTest::addColumn<int>("refused"); // keys refused before the flood, in a table of three
        QTest::newRow("one refused, the oldest") << 1;
        QTest::newRow("all refused") << 3;
    }
    void fullTable_neverForgetsARefusedKey()
    {
        QFETCH(int, refused);
        SignInThrottle throttle({2, 10s, 3});
        SignInThrottle::Clock::time_point now{};
        for (int i = 0; i < refused * 2; ++i)
            throttle.record(QString::number(i / 2), now);
        // A flood of new keys, each failing once where it may be tried at all.
        int turnedAway = 0;
        for (int i = 0; i < 20; ++i) {
            now += 1ms;
            const QString flood = QStringLiteral("new %1").arg(i);
            throttle.refusedFor(flood, now) > 0ms ? void(++turnedAway) : throttle.record(flood, now);
        }
        for (int i = 0; i < refused; ++i)
            QVERIFY(throttle.refusedFor(QString::number(i), now) > 0ms);
        // With every key refused a new one waits, until the first refusal is over.
        QCOMPARE(turnedAway, refused == 3 ? 20 : 0);
        QCOMPARE(throttle.refusedFor(QStringLiteral("later"), now + 10s), 0ms);
    }
};

QTEST_GUILESS_MAIN(SignInThrottleTest)
#include "tst_signinthrottle.moc"
