// Start at login: an XDG autostart entry for the window program, written or removed on request.
#pragma once

#include <QString>

namespace vennacott {

class Autostart final
{
public:
    // `installedProgram`: where an installation puts the window program, preferred when it is there.
    explicit Autostart(QString installedProgram = defaultInstalledProgram());

    static QString defaultInstalledProgram();

    // $XDG_CONFIG_HOME/autostart/vennacott-ddns.desktop.
    static QString entryPath();
    // What the check box shows: whether the entry is on disk now, whoever wrote it.
    static bool isEnabled();

    // Writes the entry (starting program()) or removes it. False, with a line on standard error, when the
    // disk refused; isEnabled() tells what is there afterwards.
    bool setEnabled(bool enabled);

    // The installed program when it exists, else the running one.
    QString program() const;

private:
    const QString m_installedProgram;
};

// A desktop entry that starts `program`, or an empty text for a path no Exec line can hold (control
// characters).
QString autostartEntry(const QString &program);

} // namespace vennacott
