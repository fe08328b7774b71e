// The tray icon: how the updates go at a glance, a tooltip with the name and the last update, and a menu.
#pragma once

#include "updaterstatus.h"

#include <QIcon>
#include <QObject>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace vennacott {

class Autostart;
class Core;
class DesktopPreferences;
class StoryboardWindow;
struct MainActions;

enum class TrayLook {
    Updating, // a link is stored and the last update, if any, went through
    Failing,  // the last update was refused or got no answer
    NotSetUp, // no update link stored: signed out, or no host name chosen
};
TrayLook trayLook(bool hasLink, const UpdaterStatus &status);

// Drawn for every panel: a filled tile that stands out on light panels, with a light rim for dark ones,
// and a badge that differs in shape as well as in colour.
QIcon trayIconFor(TrayLook look);

// Shown where the desktop has a tray (StatusNotifierItem on the session bus, or the X11 tray); elsewhere it
// changes nothing. Redrawn only when the updater's status or the settings change.
class TrayIcon final : public QObject
{
    Q_OBJECT
public:
    TrayIcon(StoryboardWindow &window, Core &core, const MainActions &actions, DesktopPreferences &preferences,
             Autostart &autostart, QObject *parent = nullptr);
    ~TrayIcon() override;

    QSystemTrayIcon &systemTrayIcon() { return *m_icon; }
    QMenu &menu() { return *m_menu; }

private:
    void refresh();
    void showWindow();
    void toggleWindow();
    void menuAboutToShow();

    StoryboardWindow &m_window;
    Core &m_core;
    DesktopPreferences &m_preferences;
    Autostart &m_autostart;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    QAction *m_startAtLogin = nullptr;
    QAction *m_notifications = nullptr;
    std::optional<TrayLook> m_look;
};

} // namespace vennacott
