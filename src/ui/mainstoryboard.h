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

class Updater;

// `updater`: where the done screen reads the updater's status; none in a window without one.
Storyboard mainStoryboard(Updater *updater = nullptr);

// The setup window, titled, on its first screen once shown.
std::unique_ptr<StoryboardWindow> createMainWindow(Updater *updater = nullptr);

QIcon applicationIcon();

} // namespace vennacott
