// Desktop notifications of what is worth telling about the updates: they started failing, they work
// again, the service sees another address. Never one per tick.
#pragma once

#include "updaterstatus.h"

#include <QDBusConnection>
#include <QObject>

#include <array>
#include <optional>

namespace vennacott {

class Core;
class DesktopPreferences;
class Settings;

// The host name with its zone as the desktop shows it, or the program's name before one is chosen.
QString shownName(Settings &settings);

struct NotificationText
{
    QString summary;
    QString body;
};

// What a notification about `event` says. `before` is the address the service reported until now. Holds no
// update key and no token, even when the server's error text repeats them.
NotificationText notificationText(Settings &settings, StatusEvent event, const UpdaterStatus &status,
                                  const QString &before, std::chrono::milliseconds interval);

// Sends the updater's events to the desktop's notification service (org.freedesktop.Notifications on
// the session bus), unless the user turned notifications off. Without a service nothing happens.
class Notifier final : public QObject
{
    Q_OBJECT
public:
    Notifier(Core &core, DesktopPreferences &preferences, QDBusConnection bus = QDBusConnection::sessionBus(),
             QObject *parent = nullptr);

private:
    void statusChanged(const QList<StatusEvent> &events);
    // Failing and working again are one subject, so the news replaces the stale one; the address another.
    enum Subject { Health, Address, SubjectCount };
    static Subject subjectOf(StatusEvent event);
    void notify(Subject subject, const NotificationText &text);

    // One notification on screen per subject: the next waits for the service's id of the one before.
    struct Shown
    {
        uint id = 0; // 0 until the service has answered
        bool sending = false;
        std::optional<NotificationText> next;
    };

    Core &m_core;
    DesktopPreferences &m_preferences;
    QDBusConnection m_bus;
    QString m_knownAddresses[3]; // by AddressFamily: either, IPv4, IPv6
    std::array<Shown, SubjectCount> m_shown;
    bool m_bodyMarkup = true; // until the service says otherwise, its bodies are read as markup
};

} // namespace vennacott
