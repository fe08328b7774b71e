// The application delegate: launch and termination, the periodic address update, the local store and the
// quit decision.
#pragma once

#include "application.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
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
    // The quit decision: Now when nothing is left unsaved, Cancel when edits cannot be committed. After a
    // failed save, Later: the error is shown, then (unless it was resolved, which cancels) the quit alert,
    // and the user's choice goes to sender.replyToApplicationShouldTerminate. Updates are paused meanwhile.
    TerminateReply applicationShouldTerminate(Application &sender) override;
    // How updates are paused (true) while the quit decision waits for the user, and resumed (false) when
    // the program goes on. By default the delegate's own update timer stops and starts again.
    void setUpdatePause(std::function<void(bool paused)> pause) { m_pauseUpdates = std::move(pause); }

private:
    Core &m_core;
    std::unique_ptr<PersistentContainer> m_persistentContainer;
    std::function<void(bool)> m_pauseUpdates;
};

} // namespace vennacott
