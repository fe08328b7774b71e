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
    void terminate_withoutDelegate_endsTheLoop();
    void terminate_whileDeciding_isIgnored();
};

void TerminationTest::cleanup()
{
    // A question answered Later and left open would hold back the next test's requests.
    Application::shared().replyToApplicationShouldTerminate(false);
    Application::shared().setDelegate(nullptr);
}

void TerminationTest::terminate_followsTheDelegatesReply_data()
{
    QTest::addColumn<QList<TerminateReply>>("replies");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("laterAnswer"); // -1: none; else replyToApplicationShouldTerminate(bool)
    QTest::addColumn<int>("loopEnd");
    QTest::addColumn<int>("told");

    using R = TerminateReply;
    QTest::newRow("now") << QList<R>{R::Now} << 1 << -1 << 0 << 1;
    QTest::newRow("cancel") << QList<R>{R::Cancel} << 1 << -1 << kStillRunning << 0;
    QTest::newRow("cancel, then asked again") << QList<R>{R::Cancel, R::Now} << 2 << -1 << 0 << 1;
    QTest::newRow("later, then yes") << QList<R>{R::Later} << 1 << 1 << 0 << 1;
    QTest::newRow("later, then no") << QList<R>{R::Later} << 1 << 0 << kStillRunning << 0;
    QTest::newRow("later, no answer yet") << QList<R>{R::Later} << 1 << -1 << kStillRunning << 0;
    QTest::newRow("later, asked again meanwhile") << QList<R>{R::Later} << 2 << -1 << kStillRunning << 0;
    QTest::newRow("an answer nobody asked for") << QList<R>{} << 0 << 1 << kStillRunning << 0;
}

void TerminationTest::terminate_followsTheDelegatesReply()
{
    QFETCH(QList<TerminateReply>, replies);
    QFETCH(int, requests);
    QFETCH(int, laterAnswer);
    QFETCH(int, loopEnd);
    QFETCH(int, told);
    ScriptedDelegate delegate;
    delegate.replies = replies;
    Application::shared().setDelegate(&delegate);

    const int end = runEventLoop([&] {
        for (int i = 0; i < requests; ++i)
            Application::shared().terminate();
        if (laterAnswer >= 0)
            Application::shared().replyToApplicationShouldTerminate(laterAnswer == 1);
    });
    QCOMPARE(end, loopEnd);
    QCOMPARE(delegate.told, told);
    QCOMPARE(delegate.asked, std::min<int>(requests, replies.size()));
}

void TerminationTest::terminate_withoutDelegate_endsTheLoop()
{
    QCOMPARE(runEventLoop([] { Application::shared().terminate(); }), 0);
}

void TerminationTest::terminate_whileDeciding_isIgnored()
{
    // A second request arriving while the first is being decided (a signal while the quit alert is up).
    ScriptedDelegate delegate;
    delegate.replies = {TerminateReply::Now};
    delegate.whileAsked = [] { Application::shared().terminate(); };
    Application::shared().setDelegate(&delegate);
    QCOMPARE(runEventLoop([] { Application::shared().terminate(); }), 0);
    QCOMPARE(delegate.asked, 1);
    QCOMPARE(delegate.told, 1);
}

VENNACOTT_TEST_MAIN(TerminationTest, QCoreApplication)
#include "tst_termination.moc"
