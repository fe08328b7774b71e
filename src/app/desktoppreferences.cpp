// The desktop's own choices, kept in a file of their own beside the settings.
#include "desktoppreferences.h"

#include "console.h"
#include "setuppaths.h"

#include <QFileInfo>
#include <QSettings>

namespace vennacott {
namespace {

const QString kNotificationsKey = QStringLiteral("notifications");

} // namespace

DesktopPreferences::DesktopPreferences(QString filePath)
    : m_filePath(std::move(filePath))
{}

QString DesktopPreferences::defaultFilePath()
{
    return QFileInfo(setup::settingsFilePath()).absolutePath() + QStringLiteral("/vennacott-ddns-desktop.conf");
}

bool DesktopPreferences::notificationsEnabled() const
{
    const QSettings settings(m_filePath, QSettings::NativeFormat);
    return settings.value(kNotificationsKey, true).toBool();
}

void DesktopPreferences::setNotificationsEnabled(bool enabled)
{
    QSettings settings(m_filePath, QSettings::NativeFormat);
    settings.setValue(kNotificationsKey, enabled);
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        console::logLine(QStringLiteral("vennacott-ddns: could not save the notification choice in ") + m_filePath);
}

} // namespace vennacott
