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
    // A question answered Later and left open would hold back the next test's requests.
    Application::shared().replyToApplicationShouldTerminate(false);
    Application::shared().setDelegate(nullptr);
}

void TerminationTest::terminate_followsTheDelegatesReply_data()
{
    QTest::addColumn<bool>("delegated");
    QTest::addColumn<QList<TerminateReply>>("replies");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("requestWhileDeciding"); // a signal while the quit alert is up
    QTest::addColumn<int>("laterAnswer");           // -1: none; else replyToApplicationShouldTerminate(bool)
    QTest::addColumn<int>("loopEnd");
    QTest::addColumn<int>("told");

    using R = TerminateReply;
    // clang-format off
    QTest::newRow("no delegate")                  << false << QList<R>{} << 1 << false << -1 << 0 << 0;
    QTest::newRow("now")                          << true << QList<R>{R::Now} << 1 << false << -1 << 0 << 1;
    QTest::newRow("now, asked again meanwhile")   << true << QList<R>{R::Now} << 1 << true << -1 << 0 << 1;
    QTest::newRow("cancel")                       << true << QList<R>{R::Cancel} << 1 << false << -1 << kStillRunning << 0;
    QTest::newRow("cancel, then asked again")     << true << QList<R>{R::Cancel, R::Now} << 2 << false << -1 << 0 << 1;
    QTest::newRow("later, then yes")              << true << QList<R>{R::Later} << 1 << false << 1 << 0 << 1;
    QTest::newRow("later, then no")               << true << QList<R>{R::Later} << 1 << false << 0 << kStillRunning << 0;
    QTest::newRow("later, no answer yet")         << true << QList<R>{R::Later} << 1 << false << -1 << kStillRunning << 0;
    QTest::newRow("later, asked again meanwhile") << true << QList<R>{R::Later} << 2 << false << -1 << kStillRunning << 0;
    QTest::newRow("an answer nobody asked for")   << true << QList<R>{} << 0 << false << 1 << kStillRunning << 0;
    // clang-format on
}

void TerminationTest::terminate_followsTheDelegatesReply()
{
    QFETCH(bool, delegated);
    QFETCH(QList<TerminateReply>, replies);
    QFETCH(int, requests);
    QFETCH(bool, requestWhileDeciding);
    QFETCH(int, laterAnswer);
    QFETCH(int, loopEnd);
    QFETCH(int, told);
    ScriptedDelegate delegate;
    delegate.replies = replies;
    if (requestWhileDeciding)
        delegate.whileAsked = [] { Application::shared().terminate(); };
    Application::shared().setDelegate(delegated ? &delegate : nullptr);

    const int end = runEventLoop([&] {
        for (int i = 0; i < requests; ++i)
            Application::shared().terminate();
        if (laterAnswer >= 0)
            Application::shared().replyToApplicationShouldTerminate(laterAnswer == 1);
    });
    QCOMPARE(end, loopEnd);
    QCOMPARE(delegate.told, told);
    QCOMPARE(delegate.asked, delegated ? std::min<int>(requests, replies.size()) : 0);
}

VENNACOTT_TEST_MAIN(TerminationTest, QCoreApplication)
#include "tst_termination.moc"
