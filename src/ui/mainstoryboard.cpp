// The setup window's storyboard: its three screens and the segues between them.
#include "mainstoryboard.h"

#include "endpoints.h"
#include "ui_donescreen.h"
#include "ui_hostscreen.h"
#include "ui_signinscreen.h"
#include "viewcontroller.h"

// Resources of a static library are registered by hand; the linker would drop their initialiser.
static void initResources()
{
    Q_INIT_RESOURCE(ui);
}

namespace vennacott {
namespace {

std::shared_ptr<ViewControllerBase> instantiate(const QString &screen, Updater *updater)
{
    auto controller = ViewControllerBase::create<ViewController>();
    controller->setUpdater(updater);
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

Storyboard mainStoryboard(Updater *updater)
{
    Storyboard storyboard;
    storyboard.initialScreen = screens::kSignIn;
    storyboard.segues = {
        {segues::kLoginToHost, screens::kSignIn, screens::kHost},
        {segues::kHostToDone, screens::kHost, screens::kDone},
        {segues::kDoneToHost, screens::kDone, screens::kHost},
    };
    storyboard.instantiate = [updater](const QString &screen) { return instantiate(screen, updater); };
    return storyboard;
}

std::unique_ptr<StoryboardWindow> createMainWindow(Updater *updater)
{
    auto window = std::make_unique<StoryboardWindow>(mainStoryboard(updater));
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
