// Process entry: the application, its delegate and the event loop.
#include "appdelegate.h"
#include "application.h"
#include "buildconfig.h"
#include "core.h"
#include "coredumps.h"
#include "cursorblink.h"
#include "desktopintegration.h"
#include "endpoints.h"
#include "firstscreenreport.h"
#include "mainmenu.h"
#include "mainstoryboard.h"
#include "singleinstance.h"
#include "storyboard.h"
#include "terminationsignals.h"
#include "translations.h"
#include "urlsession.h"

#include <QApplication>
#include <QLocale>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

// Without a display Qt aborts with a core dump; say what to do instead.
bool hasDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

constexpr char kUsage[] =
    "Usage: vennacott-ddns [options]\n"
    "Keeps a Dynamic DNS host name pointing at this computer: sign in, choose a host name, and the\n"
    "window updates the record every 10 seconds while it runs.\n"
    "\n"
    "Options:\n"
    "  -h, --help     Show this help and exit.\n"
    "  -v, --version  Show the version and exit.\n"
    "\n"
    "Other arguments are ignored. Settings: $XDG_CONFIG_HOME/vennacott/vennacott-ddns.conf.\n"
    "See vennacott-ddns(1); on a machine without a display, vennacott-ddnsctl(1).\n";

// --help and --version answer on standard output and end the program before anything needs a display.
bool answersInformationOption(int &argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return true;
        }
        if (!std::strcmp(argv[i], "--version") || !std::strcmp(argv[i], "-v")) {
            // Reading the compiled-in CAs loads Qt's TLS plugin, which expects an application object.
            const QCoreApplication core(argc, argv);
            const QString text = vennacott::endpoints::versionText(QStringLiteral("vennacott-ddns"),
                                                                   vennacott::buildconfig::kExtraCaPem);
            std::fputs(text.toLocal8Bit().constData(), stdout);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    vennacott::turnCoreDumpsOff();
    // Output to a closed pipe must not kill a client that runs for months.
    std::signal(SIGPIPE, SIG_IGN);
    if (answersInformationOption(argc, argv))
        return 0;
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
    // Wayland compositors find the icon and group the windows through the installed desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("vennacott-ddns"));

    const vennacott::Translations translations(QLocale{});

    // One window per settings file: a second start brings the first window forward and ends.
    // Where the lock cannot be taken at all (the settings folder cannot be created, say), the window
    // still starts, without that guarantee.
    vennacott::SingleInstance instance;
    switch (instance.claim()) {
    case vennacott::SingleInstance::Claim::Owned:
        break;
    case vennacott::SingleInstance::Claim::Unavailable:
        std::fprintf(stderr, "%s\n", instance.failure().toLocal8Bit().constData());
        break;
    case vennacott::SingleInstance::Claim::HeldElsewhere:
        // The hand-over runs on this, the process's only event loop, which ends with its answer.
        instance.handOver([](bool shown) {
            if (!shown)
                std::fputs("vennacott-ddns: another window runs for these settings and does not answer\n", stderr);
            QCoreApplication::exit(shown ? 0 : 1);
        });
        return QApplication::exec();
    }

    QApplication::setWindowIcon(vennacott::applicationIcon());
    const vennacott::CursorBlinkLimiter cursorBlink(vennacott::kCursorBlinkTimeout);

    vennacott::Core core(vennacott::Core::Options{});
    vennacott::AppDelegate delegate(core);
    vennacott::Application::shared().setDelegate(&delegate);
    const std::unique_ptr<vennacott::StoryboardWindow> window = vennacott::createMainWindow(core);
    const vennacott::MainActions actions = vennacott::installMainMenu(*window, delegate, core);
    // Closing the window asks the quit decision instead of ending the loop behind its back.
    QApplication::setQuitOnLastWindowClosed(false);
    window->show();
    const std::unique_ptr<vennacott::DesktopIntegration> desktop =
        vennacott::installDesktopIntegration(*window, core, actions);
    instance.bringForwardOnRequest(window.get());
    vennacott::reportFirstScreenWhenAsked(*window);
    vennacott::TerminationSignals termination;
    // Queued: the quit decision shows its alerts from the event loop, not inside the notifier's callback.
    QObject::connect(
        &termination, &vennacott::TerminationSignals::received, &app,
        [] { vennacott::Application::shared().terminate(); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(&delegate, &vennacott::AppDelegate::applicationDidFinishLaunching, Qt::QueuedConnection);

    // The termination route has told the delegate by the time the loop ends.
    QApplication::exec();
    vennacott::Application::shared().setDelegate(nullptr);
    vennacott::UrlSession::shared().shutdown();
    return 0;
}
