// The window's menu: File > Save and Quit.
#include "mainmenu.h"

#include "appdelegate.h"
#include "application.h"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenuBar>

namespace vennacott {

void installMainMenu(QMainWindow &window, AppDelegate &delegate)
{
    QMenu *file = window.menuBar()->addMenu(QCoreApplication::translate("MainMenu", "&File"));

    QAction *save =
        file->addAction(QCoreApplication::translate("MainMenu", "&Save"), &delegate, &AppDelegate::saveAction);
    save->setObjectName(QStringLiteral("actionSave"));
    save->setShortcut(QKeySequence::Save);

    file->addSeparator();
    QAction *quit = file->addAction(QCoreApplication::translate("MainMenu", "&Quit"), &Application::shared(),
                                    &Application::terminate);
    quit->setObjectName(QStringLiteral("actionQuit"));
    // Some platforms (the offscreen one, bare X servers) define no Quit key; Ctrl+Q is what people expect.
    const QKeySequence quitKey(QKeySequence::Quit);
    quit->setShortcut(quitKey.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Q) : quitKey);
    quit->setMenuRole(QAction::QuitRole);
}

} // namespace vennacott
