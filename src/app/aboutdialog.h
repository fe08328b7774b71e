// Help > About: the version, the service, the licence, where the files are and the File menu's keys.
#pragma once

#include <QDialog>
#include <QList>

class QAction;

namespace vennacott {

// Everything is plain text, selectable so a path can be copied. `settingsFile` is the core's settings file;
// the status and history paths follow from it and the user's folders. `menuActions` are listed with their
// shortcuts (those without one are left out).
class AboutDialog final : public QDialog
{
    Q_OBJECT
public:
    AboutDialog(const QString &settingsFile, const QList<QAction *> &menuActions, QWidget *parent = nullptr);

    // Where the updater keeps its history: $XDG_STATE_HOME/vennacott-ddns/.
    static QString historyFolder();
};

} // namespace vennacott
