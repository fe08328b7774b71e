// The setup window's storyboard: its three screens and the segues between them.
#pragma once

#include "storyboard.h"

#include <QIcon>
#include <QString>

#include <memory>

namespace vennacott {

namespace screens {
inline const QString kSignIn = QStringLiteral("signIn");
inline const QString kHost = QStringLiteral("host");
inline const QString kDone = QStringLiteral("done");
} // namespace screens

namespace segues {
inline const QString kLoginToHost = QStringLiteral("loginToHost");
inline const QString kHostToDone = QStringLiteral("hostToDone");
inline const QString kDoneToHost = QStringLiteral("doneToHost");
} // namespace segues

inline const QString kWindowTitle = QStringLiteral("Vennacott DDNS");

class Core;

// The screens drive `core`.
Storyboard mainStoryboard(Core &core);

// Moves `window` as the settings change: signed out (here or by the other program) it shows the sign-in
// screen; a sign-in, a host registered or forgotten by the other program brings it to the screen a launch
// with those settings would show.
void followSettings(StoryboardWindow &window, Core &core);

// The setup window, titled, on its first screen once shown, following the settings.
std::unique_ptr<StoryboardWindow> createMainWindow(Core &core);

QIcon applicationIcon();

} // namespace vennacott
