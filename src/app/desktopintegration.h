// The window program's place on the desktop: the tray icon, notifications, start at login, and an update
// when the network comes back or the machine wakes.
#pragma once

#include <memory>

namespace vennacott {

class Core;
class StoryboardWindow;
struct MainActions;

class DesktopIntegration
{
public:
    virtual ~DesktopIntegration() = default;
};

// Everything in place for `window` (call it once the window is shown: the parts follow its first drawing);
// it lasts as long as the returned object, which must go before the window and the delegate. Without a tray, a
// notification service or a system bus the part that needs it does nothing.
std::unique_ptr<DesktopIntegration> installDesktopIntegration(StoryboardWindow &window, Core &core,
                                                              const MainActions &actions);

} // namespace vennacott
