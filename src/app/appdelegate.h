// The application delegate: launch and termination, the periodic address update, the local store and the
// quit decision.
#pragma once

#include "application.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QTimer;

namespace vennacott {

class Core;
class PersistentContainer;

// The module's name: the local store is named after it and the delegate's log lines carry it.
inline const QString kModuleName = QStringLiteral("Vennacott_DDNS");

class AppDelegate final : public QObject, public ApplicationDelegate
{
    Q_OBJECT
public:
    explicit AppDelegate(Core &core, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Starts the core's update timer; the first update comes one interval later.
    void applicationDidFinishLaunching();
    // Nothing to do: no last update and no save happen here (saving belongs to the quit decision).
    void applicationWillTerminate() override;
    // One tick: request the stored update link, if there is one, from the background queue. A window
    // beside another program that sends the updates of these settings leaves them to it.
    void UpdateIP(QTimer *timer);

    // The local store, created and loaded on the first call; the same container afterwards. A store that
    // cannot be opened ends the process at once (fatalError).
    PersistentContainer &persistentContainer();
    // File > Save: commits pending edits and saves them; a failed save is shown to the user.
    void saveAction();
    // The quit decision: Now when nothing is left unsaved, Cancel when edits cannot be committed, and
    // after a failed save the user's choice.
    TerminateReply applicationShouldTerminate(Application &sender) override;

private:
    Core &m_core;
    std::unique_ptr<PersistentContainer> m_persistentContainer;
};

} // namespace vennacott
