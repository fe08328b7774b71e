// Application-wide window operations and the immediate end of the process.
#include "windows.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace vennacott::windows {

void miniaturizeAll()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->isVisible())
            window->setWindowState(window->windowState() | Qt::WindowMinimized);
    }
}

void exitNow(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace vennacott::windows
