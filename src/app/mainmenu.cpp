// The window's menu: File > Update now, Save, Keep sign-in in the system keyring, History, the address
// families, Sign out and Quit; Help > About.
#include "mainmenu.h"

#include "aboutdialog.h"
#include "appdelegate.h"
#include "application.h"
#include "core.h"
#include "desktoppreferences.h"
#include "historywindow.h"
#include "setuppaths.h"
#include "storyboard.h"

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QSignalBlocker>
#include <QStatusBar>

namespace vennacott {

MainActions installMainMenu(StoryboardWindow &window, AppDelegate &delegate, Core &core)
{
    MainActions actions;
    QMenu *file = window.menuBar()->addMenu(QCoreApplication::translate("MainMenu", "&File"));

    actions.updateNow =
        file->addAction(QCoreApplication::translate("MainMenu", "&Update now"), &core.updater(), &Updater::updateNow);
    actions.updateNow->setObjectName(QStringLiteral("actionUpdateNow"));
    actions.updateNow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));

    actions.save =
        file->addAction(QCoreApplication::translate("MainMenu", "&Save"), &delegate, &AppDelegate::saveAction);
    actions.save->setObjectName(QStringLiteral("actionSave"));
    actions.save->setShortcut(QKeySequence::Save);

    actions.keepInKeyring =
        file->addAction(QCoreApplication::translate("MainMenu", "Keep sign-in in the system &keyring"));
    actions.keepInKeyring->setObjectName(QStringLiteral("actionKeepInKeyring"));
    actions.keepInKeyring->setCheckable(true);
    Settings &settings = core.settings();
    QObject::connect(actions.keepInKeyring, &QAction::triggered, &settings, &Settings::chooseKeyring);
    // A keyring that is locked or absent is said at the window's foot, never passed over.
    auto *keyringProblem = new QLabel(&window);
    keyringProblem->setObjectName(QStringLiteral("labelKeyringProblem"));
    keyringProblem->setWordWrap(true);
    window.statusBar()->addWidget(keyringProblem, 1);
    window.statusBar()->setSizeGripEnabled(false); // the window keeps the size of its content
    window.statusBar()->hide();                    // shown only while there is something to say
    const auto showKeyring = [&settings, action = actions.keepInKeyring, keyringProblem, &window] {
        const QSignalBlocker quiet(action);
        action->setChecked(settings.keyringChosen());
        keyringProblem->setText(settings.keyringProblem());
        if (window.statusBar()->isHidden() == settings.keyringProblem().isEmpty())
            return;
        window.statusBar()->setHidden(settings.keyringProblem().isEmpty());
        window.fitContent();
    };
    QObject::connect(&settings, &Settings::keyringChanged, keyringProblem, showKeyring);
    showKeyring();

    actions.history = file->addAction(QCoreApplication::translate("MainMenu", "&History"), &window,
                                      [&window, &core, open = QPointer<HistoryWindow>()]() mutable {
                                          if (!open)
                                              open =
                                                  new HistoryWindow(core.updater(), setup::historyFilePath(), &window);
                                          open->show();
                                          open->raise();
                                          open->activateWindow();
                                      });
    actions.history->setObjectName(QStringLiteral("actionHistory"));
    actions.history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));

    file->addSeparator();
    auto *families = new QActionGroup(file);
    const FamilyChoice chosen = DesktopPreferences().familyChoice();
    core.updater().setFamilyChoice(chosen);
    core.updater().setTemporaryIPv6(DesktopPreferences().temporaryIPv6());
    const std::pair<FamilyChoice, QString> choices[] = {
        {FamilyChoice::Both, QCoreApplication::translate("MainMenu", "IPv4 and IPv6")},
        {FamilyChoice::IPv4Only, QCoreApplication::translate("MainMenu", "IPv4 only")},
        {FamilyChoice::IPv6Only, QCoreApplication::translate("MainMenu", "IPv6 only")},
    };
    for (const auto &[choice, text] : choices) {
        QAction *action = file->addAction(text, &core.updater(), [&core, choice = choice] {
            DesktopPreferences().setFamilyChoice(choice);
            core.updater().setFamilyChoice(choice);
        });
        action->setObjectName(QStringLiteral("actionFamily_") + familyChoiceName(choice));
        action->setCheckable(true);
        action->setChecked(choice == chosen);
        families->addAction(action);
        actions.families.append(action);
    }

    file->addSeparator();
    // The window follows the settings to the sign-in screen.
    actions.signOut = file->addAction(QCoreApplication::translate("MainMenu", "Sign &out"), &core.session(),
                                      [&core] { core.session().signOut(); });
    actions.signOut->setObjectName(QStringLiteral("actionSignOut"));

    actions.quit = file->addAction(QCoreApplication::translate("MainMenu", "&Quit"), &Application::shared(),
                                   &Application::terminate);
    actions.quit->setObjectName(QStringLiteral("actionQuit"));
    // Some platforms (the offscreen one, bare X servers) define no Quit key; Ctrl+Q is what people expect.
    const QKeySequence quitKey(QKeySequence::Quit);
    actions.quit->setShortcut(quitKey.isEmpty() ? QKeySequence(Qt::CTRL | Qt::Key_Q) : quitKey);
    actions.quit->setMenuRole(QAction::QuitRole);

    QMenu *help = window.menuBar()->addMenu(QCoreApplication::translate("MainMenu", "&Help"));
    QAction *about = help->addAction(
        QCoreApplication::translate("MainMenu", "&About Vennacott DDNS"), &window, [&window, &core, file] {
            auto *dialog = new AboutDialog(core.settings().filePath(), file->actions(), &window);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->open();
        });
    about->setObjectName(QStringLiteral("actionAbout"));
    about->setMenuRole(QAction::AboutRole);
    return actions;
}

} // namespace vennacott
