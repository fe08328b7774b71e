// The window's menu: File > Save and Quit.
#pragma once

class QMainWindow;

namespace vennacott {

class AppDelegate;

// Save sends the delegate's save action; Quit asks the application to terminate, through the quit
// decision. Both carry the platform's usual shortcuts.
void installMainMenu(QMainWindow &window, AppDelegate &delegate);

} // namespace vennacott
