// The table behind the sign-in limits, on a clock of the test's own: what it forgets to make room.
#include "signinthrottle.h"

#include <QTest>

using namespace std::chrono_literals;
using vennacott::refsvc::SignInThrottle;

class SignInThrottleTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fullTable_neverForgetsARefusedKey_data();
    void fullTable_neverForgetsARefusedKey();
};

void SignInThrottleTest::fullTable_neverForgetsARefusedKey_data()
{
    QTest::addColumn<int>("refused"); // keys refused before the flood, in a table of three
    QTest::newRow("one refused, the oldest") << 1;
    QTest::newRow("all refused") << 3;
}

void SignInThrottleTest::fullTable_neverForgetsARefusedKey()
{
    QFETCH(int, refused);
    SignInThrottle throttle({2, 10s, 3});
    SignInThrottle::Clock::time_point now{};
    const auto key = [](int i) { return QStringLiteral("refused %1").arg(i); };
    for (int i = 0; i < refused; ++i) {
        throttle.record(key(i), now);
        throttle.record(key(i), now);
    }
    // A flood of new keys, each failing once where it may be tried at all.
    int turnedAway = 0;
    for (int i = 0; i < 20; ++i) {
        now += 1ms;
        const QString flood = QStringLiteral("new %1").arg(i);
        if (throttle.refusedFor(flood, now) > 0ms)
            ++turnedAway;
        else
            throttle.record(flood, now);
    }
    for (int i = 0; i < refused; ++i)
        QVERIFY(throttle.refusedFor(key(i), now) > 0ms);
    // With every key refused a new one waits, until the first refusal is over.
    QCOMPARE(turnedAway, refused == 3 ? 20 : 0);
    now += 10s;
    QCOMPARE(throttle.refusedFor(QStringLiteral("later"), now), 0ms);
}

QTEST_GUILESS_MAIN(SignInThrottleTest)
#include "tst_signinthrottle.moc"
