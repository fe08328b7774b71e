// The main queue and the background work queue.
#include "dispatch.h"

#include <QCoreApplication>
#include <QThreadPool>

namespace vennacott::dispatch {
namespace {

QThreadPool &backgroundPool()
{
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool;
        created->setThreadPriority(QThread::LowestPriority);
        // Work items only hand a request to the network thread, so one thread is plenty.
        created->setMaxThreadCount(1);
        return created;
    }();
    return *pool;
}

} // namespace

void mainAsync(std::function<void()> work)
{
    QCoreApplication *app = QCoreApplication::instance();
    Q_ASSERT(app);
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

void backgroundAsync(std::function<void()> work)
{
    backgroundPool().start(std::move(work));
}

void drainBackground()
{
    backgroundPool().waitForDone();
}

} // namespace vennacott::dispatch
