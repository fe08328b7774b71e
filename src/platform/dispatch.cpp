// The main queue.
#include "dispatch.h"

#include <QCoreApplication>

namespace vennacott::dispatch {

void mainAsync(std::function<void()> work)
{
    QCoreApplication *app = QCoreApplication::instance();
    Q_ASSERT(app);
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

} // namespace vennacott::dispatch
