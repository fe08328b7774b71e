// The desktop's own choices (notifications on or off, the address families updated), kept in a file of their own beside
// the settings.
#pragma once

#include "addressfamilies.h"

#include <QString>

namespace vennacott {

// $XDG_CONFIG_HOME/vennacott/vennacott-ddns-desktop.conf: never the settings file, whose three keys are the
// account and the host. Read at every question, so an edit by hand counts at once.
class DesktopPreferences final
{
public:
    explicit DesktopPreferences(QString filePath = defaultFilePath());

    static QString defaultFilePath();
    QString filePath() const { return m_filePath; }

    // On unless the user turned them off.
    bool notificationsEnabled() const;
    // A choice that does not reach the disk is reported with one line on standard error.
    void setNotificationsEnabled(bool enabled);

    // Both families unless the user chose one.
    FamilyChoice familyChoice() const;
    void setFamilyChoice(FamilyChoice choice);
    // IPv6 updates from the temporary (privacy) address: off unless set in the file (ipv6_temporary=true).
    bool temporaryIPv6() const;

private:
    const QString m_filePath;
};

} // namespace vennacott
