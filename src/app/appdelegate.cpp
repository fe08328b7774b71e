// The application delegate: launch and termination, the periodic address update, the local store and the
// quit decision.
#include "appdelegate.h"

#include "alert.h"
#include "console.h"
#include "core.h"
#include "fatalerror.h"
#include "persistentcontainer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

namespace vennacott {
namespace {

// The delegate's class as the log names it: module-qualified.
void logFromDelegate(const QString &text)
{
    console::logLine(kModuleName + QStringLiteral(".AppDelegate ") + text);
}

} // namespace

AppDelegate::AppDelegate(Core &core, QObject *parent)
    : QObject(parent)
    , m_core(core)
    , m_pauseUpdates([this](bool paused) {
        Updater &updater = m_core.updater();
        if (paused)
            updater.pause();
        else if (updater.isTheUpdater())
            updater.start(updater.interval());
    })
{}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    Updater &updater = m_core.updater();
    updater.tryToBecomeTheUpdater();
    updater.start(updater.interval());
}

void AppDelegate::applicationWillTerminate()
{}

void AppDelegate::UpdateIP(QTimer *)
{
    m_core.updater().tick();
}

PersistentContainer &AppDelegate::persistentContainer()
{
    if (!m_persistentContainer) {
        auto container = std::make_unique<PersistentContainer>(kModuleName);
        container->loadPersistentStores([](const std::optional<Error> &error) {
            if (error)
                fatalError(QStringLiteral("Unresolved error ") + error->description());
        });
        m_persistentContainer = std::move(container);
    }
    return *m_persistentContainer;
}

void AppDelegate::saveAction()
{
    ManagedObjectContext &context = persistentContainer().viewContext();
    // A refused commit leaves that input out, but whatever was committed is still saved.
    if (!context.commitEditing())
        logFromDelegate(QStringLiteral("unable to commit editing before saving"));
    if (!context.hasChanges())
        return;
    if (const std::optional<Error> error = context.save())
        Application::shared().presentError(*error); // whether it is resolved changes nothing here
}

TerminateReply AppDelegate::applicationShouldTerminate(Application &sender)
{
    ManagedObjectContext &context = persistentContainer().viewContext();
    if (!context.commitEditing()) {
        logFromDelegate(QStringLiteral("unable to commit editing to terminate"));
        return TerminateReply::Cancel;
    }
    if (!context.hasChanges())
        return TerminateReply::Now;
    const std::optional<Error> error = context.save();
    if (!error)
        return TerminateReply::Now;

    // No update goes out while the user decides; Cancel lets them go on.
    if (m_pauseUpdates)
        m_pauseUpdates(true);
    const QPointer<AppDelegate> self(this);
    const auto reply = [self, &sender](bool quit) {
        if (self && self->m_pauseUpdates && !quit)
            self->m_pauseUpdates(false);
        sender.replyToApplicationShouldTerminate(quit);
    };
    sender.presentError(*error, [self, reply](bool resolved) {
        if (!self || resolved)
            return reply(false);
        //: Quit without saves error question message
        const QString question =
            QCoreApplication::translate("AppDelegate", "Could not save changes while quitting. Quit anyway?");
        //: Quit without saves error question info
        const QString info = QCoreApplication::translate(
            "AppDelegate", "Quitting now will lose any changes you have made since the last successful save");
        //: Quit anyway button title
        const QString quitButton = QCoreApplication::translate("AppDelegate", "Quit anyway");
        //: Cancel button title
        const QString cancelButton = QCoreApplication::translate("AppDelegate", "Cancel");

        Alert alert;
        alert.setMessageText(question);
        alert.setInformativeText(info);
        alert.addButton(quitButton);
        alert.addButton(cancelButton);
        // Cancel, which Escape and closing the alert also choose, keeps the program; any other end quits.
        alert.open([reply](ModalResponse response) { reply(response != ModalResponse::SecondButton); });
    });
    return TerminateReply::Later;
}

} // namespace vennacott
