// The setup window's storyboard: its three screens and the segues between them.
#include "mainstoryboard.h"

#include "core.h"
#include "endpoints.h"
#include "ui_donescreen.h"
#include "ui_hostscreen.h"
#include "ui_signinscreen.h"
#include "viewcontroller.h"

#include <QTimer>

// Resources of a static library are registered by hand; the linker would drop their initialiser.
static void initResources()
{
    Q_INIT_RESOURCE(ui);
}

namespace vennacott {
namespace {

std::shared_ptr<ViewControllerBase> instantiate(const QString &screen, Core &core)
{
    auto controller = ViewControllerBase::create<ViewController>();
    controller->setCore(&core);
    if (screen == screens::kSignIn) {
        Ui::SignInScreen widgets;
        widgets.setupUi(controller.get());
    } else if (screen == screens::kHost) {
        Ui::HostScreen widgets;
        widgets.setupUi(controller.get());
        widgets.zoneSuffixLabel->setText(endpoints::zoneSuffix());
        // The warning's room is kept while it is hidden, so showing it never squeezes the screen.
        QSizePolicy policy = widgets.labelHostUnavailable->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widgets.labelHostUnavailable->setSizePolicy(policy);
    } else if (screen == screens::kDone) {
        Ui::DoneScreen widgets;
        widgets.setupUi(controller.get());
    } else {
        return nullptr;
    }
    controller->didLoadScreen(screen);
    return controller;
}

} // namespace

// Several keys change in one write: the move waits for the last of them.
void followSettings(StoryboardWindow &window, Core &core)
{
    auto *pending = new QTimer(&window);
    pending->setSingleShot(true);
    pending->setInterval(0);
    auto elsewhere = std::make_shared<bool>(false);
    QObject::connect(&core.settings(), &Settings::changed, pending, [pending, elsewhere](const QString &, bool other) {
        *elsewhere = *elsewhere || other;
        pending->start();
    });
    QObject::connect(pending, &QTimer::timeout, &window, [&window, &core, elsewhere] {
        const bool changedElsewhere = std::exchange(*elsewhere, false);
        const QString screen = window.currentScreen();
        if (core.settings().token().isEmpty()) {
            if (screen != screens::kSignIn)
                window.showInitialScreen();
            return;
        }
        // This window's own sign-in, registration and reset move it themselves.
        if (!changedElsewhere)
            return;
        const bool hasHost = core.settings().registeredHostname().has_value();
        if (screen == screens::kSignIn)
            window.showInitialScreen(); // as a launch with these settings: fetch the saved host, then route
        else if (screen == screens::kHost && hasHost)
            window.showScreen(screens::kDone);
        else if (screen == screens::kDone)
            window.showScreen(hasHost ? screens::kDone : screens::kHost);
    });
}

Storyboard mainStoryboard(Core &core)
{
    Storyboard storyboard;
    storyboard.initialScreen = screens::kSignIn;
    storyboard.segues = {
        {segues::kLoginToHost, screens::kSignIn, screens::kHost},
        {segues::kHostToDone, screens::kHost, screens::kDone},
        {segues::kDoneToHost, screens::kDone, screens::kHost},
    };
    storyboard.instantiate = [&core](const QString &screen) { return instantiate(screen, core); };
    return storyboard;
}

std::unique_ptr<StoryboardWindow> createMainWindow(Core &core)
{
    auto window = std::make_unique<StoryboardWindow>(mainStoryboard(core));
    followSettings(*window, core);
    window->setWindowTitle(kWindowTitle);
    window->setWindowIcon(applicationIcon());
    window->showInitialScreen();
    return window;
}

QIcon applicationIcon()
{
    initResources();
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/vennacott-ddns-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace vennacott
