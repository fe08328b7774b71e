// The window's menu: File > Update now, Save, Keep sign-in in the system keyring, History, the address
// families, Sign out and Quit; Help > About.
#pragma once

#include <QList>

class QAction;

namespace vennacott {

class AppDelegate;
class Core;
class StoryboardWindow;

// The menu's actions, also offered by the tray icon.
struct MainActions
{
    QAction *updateNow = nullptr;
    QAction *save = nullptr;
    QAction *signOut = nullptr;
    QAction *keepInKeyring = nullptr;
    QAction *history = nullptr;
    QAction *quit = nullptr;
    // "IPv4 and IPv6", "IPv4 only", "IPv6 only": one of them checked.
    QList<QAction *> families;
};

// Update now sends one update through the same path as a tick; Save sends the delegate's save action;
// Sign out forgets the account on this computer and shows the sign-in screen; Quit asks the application to
// terminate, through the quit decision. Each carries the usual shortcut. The family choice is kept in the
// desktop preferences and given to the updater, now and at each change. Keep sign-in in the system keyring
// is a tick that follows the settings; a keyring that cannot be used is said in a line at the window's foot.
// File > History (Ctrl+H) opens the history window, or brings the open one forward. Help > About opens the
// About box.
MainActions installMainMenu(StoryboardWindow &window, AppDelegate &delegate, Core &core);

} // namespace vennacott
