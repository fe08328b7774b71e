// The window program's place on the desktop.
#include "desktopintegration.h"

#include "autostart.h"
#include "core.h"
#include "desktoppreferences.h"
#include "mainmenu.h"
#include "networkwatch.h"
#include "notifier.h"
#include "storyboard.h"
#include "trayicon.h"

#include <QAbstractEventDispatcher>
#include <QEvent>
#include <QGuiApplication>
#include <QWindow>

#include <optional>

namespace vennacott {
namespace {

class Parts final
{
public:
    Parts(StoryboardWindow &window, Core &core, const MainActions &actions)
        : m_notifier(core, m_preferences)
    {
        // No tray can ever show up on a platform without a screen.
        const QString platform = QGuiApplication::platformName();
        if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
            m_tray.emplace(window, core, actions, m_preferences, m_autostart);
        // One update per event, through the same path as a tick.
        QObject::connect(&m_network, &NetworkWatch::updateWanted, &core.updater(), &Updater::updateNow);
    }

private:
    DesktopPreferences m_preferences;
    Autostart m_autostart;
    Notifier m_notifier;
    std::optional<TrayIcon> m_tray;
    NetworkWatch m_network;
};

// The parts come once the window has been drawn and the program would wait: loading the network
// information backend and drawing the icons would otherwise hold up the first screen.
class Installed final : public QObject, public DesktopIntegration
{
public:
    Installed(StoryboardWindow &window, Core &core, const MainActions &actions)
        : m_window(window)
        , m_core(core)
        , m_actions(actions)
    {
        QWindow *handle = window.windowHandle();
        if (handle && !handle->isExposed())
            handle->installEventFilter(this);
        else
            installWhenIdle();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            installWhenIdle();
        }
        return false;
    }

private:
    void installWhenIdle()
    {
        // Through the queue once more, behind whatever the first drawing queued (the start-up report).
        connect(
            QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { QMetaObject::invokeMethod(this, &Installed::install, Qt::QueuedConnection); },
            Qt::SingleShotConnection);
    }
    void install() { m_parts = std::make_unique<Parts>(m_window, m_core, m_actions); }

    StoryboardWindow &m_window;
    Core &m_core;
    const MainActions m_actions;
    std::unique_ptr<Parts> m_parts;
};

} // namespace

std::unique_ptr<DesktopIntegration> installDesktopIntegration(StoryboardWindow &window, Core &core,
                                                              const MainActions &actions)
{
    return std::make_unique<Installed>(window, core, actions);
}

} // namespace vennacott
