// An opt-in line on standard error when the window is first drawn, for measuring start-up.
#include "firstscreenreport.h"

#include "console.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace vennacott {
namespace {

// The first expose of the window paints it; the line follows once that event has been handled.
class FirstExposeWatcher final : public QObject
{
public:
    explicit FirstExposeWatcher(QWindow *window)
        : QObject(window)
    {
        if (window->isExposed())
            reportSoon();
        else
            window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            reportSoon();
        }
        return false;
    }

private:
    void reportSoon()
    {
        QMetaObject::invokeMethod(
            this,
            [this] {
                console::logLine(u"vennacott-ddns: first screen shown");
                deleteLater();
            },
            Qt::QueuedConnection);
    }
};

} // namespace

void reportFirstScreenWhenAsked(QWidget &window)
{
    if (qEnvironmentVariableIsEmpty(kFirstScreenReportVariable))
        return;
    if (QWindow *handle = window.windowHandle())
        new FirstExposeWatcher(handle);
}

} // namespace vennacott
