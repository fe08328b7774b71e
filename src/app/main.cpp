// Process entry: the application, its delegate and the event loop.
#include "appdelegate.h"
#include "application.h"
#include "buildconfig.h"
#include "cursorblink.h"
#include "dispatch.h"
#include "firstscreenreport.h"
#include "mainmenu.h"
#include "mainstoryboard.h"
#include "storyboard.h"
#include "terminationsignals.h"
#include "translations.h"
#include "urlsession.h"

#include <QApplication>
#include <QLocale>

#include <csignal>
#include <cstdio>

namespace {

// Without a display Qt aborts with a core dump; say what to do instead.
bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char *argv[])
{
    // Output to a closed pipe must not kill a client that runs for months.
    std::signal(SIGPIPE, SIG_IGN);
    if (!hasDisplay()) {
        std::fputs("vennacott-ddns: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "Start it from a desktop session, under a virtual display (xvfb-run vennacott-ddns),\n"
                   "or without a visible window (QT_QPA_PLATFORM=offscreen vennacott-ddns).\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("vennacott"));
    QApplication::setApplicationName(QStringLiteral("vennacott-ddns"));
    QApplication::setApplicationVersion(QString::fromUtf8(vennacott::buildconfig::kVersion));

    const vennacott::Translations translations(QLocale{});

    QApplication::setWindowIcon(vennacott::applicationIcon());
    const vennacott::CursorBlinkLimiter cursorBlink(vennacott::kCursorBlinkTimeout);

    vennacott::AppDelegate delegate;
    vennacott::Application::shared().setDelegate(&delegate);
    const std::unique_ptr<vennacott::StoryboardWindow> window = vennacott::createMainWindow();
    vennacott::installMainMenu(*window, delegate);
    // Closing the window asks the quit decision instead of ending the loop behind its back.
    QApplication::setQuitOnLastWindowClosed(false);
    window->show();
    vennacott::reportFirstScreenWhenAsked(*window);
    vennacott::TerminationSignals termination;
    // Queued: the quit decision may run a modal alert, which must not start inside the notifier's callback.
    QObject::connect(
        &termination, &vennacott::TerminationSignals::received, &app,
        [] { vennacott::Application::shared().terminate(); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(&delegate, &vennacott::AppDelegate::applicationDidFinishLaunching, Qt::QueuedConnection);

    // The termination route has told the delegate by the time the loop ends.
    QApplication::exec();
    vennacott::Application::shared().setDelegate(nullptr);
    vennacott::dispatch::drainBackground();
    vennacott::UrlSession::shared().shutdown();
    return 0;
}
