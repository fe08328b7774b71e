// The desktop's own choices, kept in a file of their own beside the settings.
#include "desktoppreferences.h"

#include "console.h"
#include "setuppaths.h"

#include <QFileInfo>
#include <QSettings>

namespace vennacott {
namespace {

const QString kNotificationsKey = QStringLiteral("notifications");
const QString kFamiliesKey = QStringLiteral("address_families");

void store(const QString &filePath, const QString &key, const QVariant &value, const QString &what)
{
    QSettings settings(filePath, QSettings::NativeFormat);
    settings.setValue(key, value);
    settings.sync();
    if (settings.status() == QSettings::AccessError)
        console::logLine(QStringLiteral("vennacott-ddns: could not save the %1 choice in %2").arg(what, filePath));
}

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
    store(m_filePath, kNotificationsKey, enabled, QStringLiteral("notification"));
}

FamilyChoice DesktopPreferences::familyChoice() const
{
    const QSettings settings(m_filePath, QSettings::NativeFormat);
    return familyChoiceFromName(settings.value(kFamiliesKey).toString()).value_or(FamilyChoice::Both);
}

bool DesktopPreferences::temporaryIPv6() const
{
    const QSettings settings(m_filePath, QSettings::NativeFormat);
    return settings.value(QStringLiteral("ipv6_temporary"), false).toBool();
}

void DesktopPreferences::setFamilyChoice(FamilyChoice choice)
{
    store(m_filePath, kFamiliesKey, familyChoiceName(choice), QStringLiteral("address family"));
}

} // namespace vennacott
