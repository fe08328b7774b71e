// The window program's place on the desktop.
#include "desktopintegration.h"

#include "appdelegate.h"
#include "autostart.h"
#include "desktoppreferences.h"
#include "networkwatch.h"
#include "notifier.h"
#include "trayicon.h"

namespace vennacott {
namespace {

class Installed final : public DesktopIntegration
{
public:
    Installed(StoryboardWindow &window, AppDelegate &delegate, const MainActions &actions)
        : m_notifier(delegate.updater(), m_preferences)
        , m_tray(window, delegate.updater(), actions, m_preferences, m_autostart)
    {
        // One update per event, through the same path as a tick.
        QObject::connect(&m_network, &NetworkWatch::updateWanted, &delegate.updater(), &Updater::tick);
    }

private:
    DesktopPreferences m_preferences;
    Autostart m_autostart;
    Notifier m_notifier;
    TrayIcon m_tray;
    NetworkWatch m_network;
};

} // namespace

std::unique_ptr<DesktopIntegration> installDesktopIntegration(StoryboardWindow &window, AppDelegate &delegate,
                                                              const MainActions &actions)
{
    return std::make_unique<Installed>(window, delegate, actions);
}

} // namespace vennacott
