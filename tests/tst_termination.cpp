// The application object's termination route, with a scripted delegate.
#include "application.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace vennacott;
using namespace vennacott::test;

namespace {

constexpr int kStillRunning = 7;

class ScriptedDelegate final : public ApplicationDelegate
{
public:
    TerminateReply applicationShouldTerminate(Application &) override
    {
        ++asked;
        if (whileAsked)
            whileAsked();
        return replies.value(asked - 1, TerminateReply::Now);
    }
    void applicationWillTerminate() override { ++told; }

    QList<TerminateReply> replies;
    std::function<void()> whileAsked;
    int asked = 0;
    int told = 0;
};

// Runs `requests` inside the application's event loop and returns how the loop ended: 0 when the
// termination route ended it, kStillRunning when it was still running one turn later.
int runEventLoop(const std::function<void()> &requests)
{
    // Timers owned here, so that none is left to fire in a later test's loop.
    QTimer start;
    QTimer probe;
    start.setSingleShot(true);
    probe.setSingleShot(true);
    QObject::connect(&start, &QTimer::timeout, [&] {
        requests();
        probe.start(0);
    });
    QObject::connect(&probe, &QTimer::timeout, [] { QCoreApplication::exit(kStillRunning); });
    start.start(0);
    return QCoreApplication::exec();
}

} // namespace

Q_DECLARE_METATYPE(TerminateReply)

class TerminationTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void terminate_followsTheDelegatesReply_data();
    void terminate_followsTheDelegatesReply();
};

void TerminationTest::cleanup()
{
    Application::shared().setDelegate(nullptr);
}

void TerminationTest::terminate_followsTheDelegatesReply_data()
{
    QTest::addColumn<bool>("delegated");
    QTest::addColumn<QList<TerminateReply>>("replies"); // to each request in turn
    QTest::addColumn<bool>("requestWhileDeciding");     // a signal while the quit alert is up
    QTest::addColumn<int>("loopEnd");

    // The delegate answers Now or Cancel; the program never answers Later.
    using R = TerminateReply;
    // clang-format off
    QTest::newRow("no delegate")                << false << QList<R>{R::Now} << false << 0;
    QTest::newRow("now")                        << true << QList<R>{R::Now} << false << 0;
    QTest::newRow("now, asked again meanwhile") << true << QList<R>{R::Now} << true << 0;
    QTest::newRow("cancel")                     << true << QList<R>{R::Cancel} << false << kStillRunning;
    QTest::newRow("cancel, then asked again")   << true << QList<R>{R::Cancel, R::Now} << false << 0;
    // clang-format on
}

void TerminationTest::terminate_followsTheDelegatesReply()
{
    QFETCH(bool, delegated);
    QFETCH(QList<TerminateReply>, replies);
    QFETCH(bool, requestWhileDeciding);
    QFETCH(int, loopEnd);
    ScriptedDelegate delegate;
    delegate.replies = replies;
    if (requestWhileDeciding)
        delegate.whileAsked = [] { Application::shared().terminate(); };
    Application::shared().setDelegate(delegated ? &delegate : nullptr);

    const int end = runEventLoop([&] {
        for (qsizetype i = 0; i < replies.size(); ++i)
            Application::shared().terminate();
    });
    QCOMPARE(end, loopEnd);
    QCOMPARE(delegate.asked, delegated ? replies.size() : 0);
    QCOMPARE(delegate.told, delegated && loopEnd == 0 ? 1 : 0);
}

VENNACOTT_TEST_MAIN(TerminationTest, QCoreApplication)
#include "tst_termination.moc"
