// The application delegate: launch and termination, the periodic address update, the local store and the
// quit decision.
#pragma once

#include "application.h"
#include "updater.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QTimer;

namespace vennacott {

class PersistentContainer;

// The module's name: the local store is named after it and the delegate's log lines carry it.
inline const QString kModuleName = QStringLiteral("Vennacott_DDNS");

struct UpdaterOptions
{
    std::chrono::milliseconds interval = kUpdateInterval;
    QString updateBaseUrl; // empty: the update server the client is built for
};

class AppDelegate final : public QObject, public ApplicationDelegate
{
    Q_OBJECT
public:
    explicit AppDelegate(UpdaterOptions options = {}, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Starts the repeating update timer; the first update comes one interval later.
    void applicationDidFinishLaunching();
    // Nothing to do: no last update and no save happen here (saving belongs to the quit decision).
    void applicationWillTerminate() override;
    // One tick: request the stored update link, if there is one, from the background queue. A window
    // beside another program that sends the updates of these settings leaves them to it.
    void UpdateIP(QTimer *timer);

    // The updater the ticks go through, with its status.
    Updater &updater() { return *m_updater; }

    // The local store, created and loaded on the first call; the same container afterwards. A store that
    // cannot be opened ends the process at once (fatalError).
    PersistentContainer &persistentContainer();
    // File > Save: commits pending edits and saves them; a failed save is shown to the user.
    void saveAction();
    // The quit decision: Now when nothing is left unsaved, Cancel when edits cannot be committed, and
    // after a failed save the user's choice.
    TerminateReply applicationShouldTerminate(Application &sender) override;

private:
    const UpdaterOptions m_options;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<PersistentContainer> m_persistentContainer;
};

} // namespace vennacott
