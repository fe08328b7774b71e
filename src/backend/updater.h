// The address updater of a setup: its timer, one update, its printed lines, and the status that follows,
// kept by the one process that sends the updates.
#pragma once

#include "addressfamilies.h"
#include "updaterstatus.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

class QFileSystemWatcher;
class QTimer;

namespace vennacott {

class ProcessLock;
class Settings;

inline constexpr std::chrono::milliseconds kUpdateInterval{10'000};

class Updater final : public QObject
{
    Q_OBJECT
public:
    // `updateBaseUrl`: the update server's origin, empty for the one the client is built for.
    Updater(Settings &settings, std::chrono::milliseconds interval = kUpdateInterval, QString updateBaseUrl = {},
            QObject *parent = nullptr);
    ~Updater() override;

    // Only one process sends the updates of a setup: the one holding its updater lock. Takes the lock when
    // it is free; a process that does not hold it shows the status the holder publishes instead.
    bool tryToBecomeTheUpdater();
    bool isTheUpdater() const;

    // The timer: the first tick `firstTick` from now, then one every interval. Stopping it also drops the
    // updates still in flight.
    void start(std::chrono::milliseconds firstTick);
    void stop();
    // Holds the timer back (while the quit alert waits, say) without dropping what is in flight; start() goes on.
    void pause();
    bool isRunning() const;
    // One update at once, beside the timer's (the menu, the network coming back).
    void updateNow();

    // One update, when this process is (or now becomes) the updater: reads the stored update link and,
    // when there is one, prints the URL (the key redacted), requests it and prints the time and the reply;
    // the status follows when the exchange ends. Without a link, or when another process sends the updates,
    // nothing happens.
    void tick();

    // The status about the stored update link: an empty one (waiting for the first update) when there is
    // no link or the last update was about another one.
    UpdaterStatus status();
    std::chrono::milliseconds interval() const { return m_interval; }

    // Which families the ticks from now on go out over (both, where both reach the server, by default).
    void setFamilyChoice(FamilyChoice choice) { m_familyChoice = choice; }
    FamilyChoice familyChoice() const { return m_familyChoice; }
    // The one network interface the updates go out through ("wg0"); empty: as the system routes them.
    void setInterface(const QString &name) { m_interface = name; }
    // IPv6 updates from the temporary (privacy) address the system picks, instead of a stable one.
    void setTemporaryIPv6(bool temporary) { m_temporaryIPv6 = temporary; }
    QString interface() const { return m_interface; }

Q_SIGNALS:
    // After every change of the status, with what is worth telling the user.
    void statusChanged(const QList<vennacott::StatusEvent> &events);

private:
    void finish(const QString &fingerprint, const UpdateAttempt &attempt);
    void adoptPublishedStatus();
    void publish();
    void watchPublishedStatus();
    void linkChanged();
    void dropUpdatesInFlight();
    // What the requests of one tick share; copied to the network thread, so values only (and a guarded pointer
    // that only the main thread follows).
    struct Request
    {
        QPointer<Updater> self;
        QString baseUrl;
        QString link;
        QString interface;
        bool temporaryIPv6 = false;
        std::shared_ptr<std::atomic_bool> cancelled;
        std::shared_ptr<std::atomic_int> pending; // requests of the tick not yet ended
    };
    // One request of a tick: prints its URL line, sends it and, when it ends, its reply's line and status.
    static void send(const Request &request, AddressFamily family);

    Settings &m_settings;
    const std::chrono::milliseconds m_interval;
    const QString m_updateBaseUrl;
    const QString m_updateHost;
    std::unique_ptr<ProcessLock> m_lock;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    QTimer *m_timer = nullptr;
    UpdaterStatus m_status;
    std::optional<UpdaterStatus> m_published; // as last written, without its time
    QByteArray m_statusPath;
    const bool m_statusInMemory; // the runtime folder: memory, not a disk
    QString m_link;
    FamilyChoice m_familyChoice = FamilyChoice::Both;
    QString m_interface;
    bool m_temporaryIPv6 = false;
    // One flag per update in flight: set, the request is dropped or aborted and prints nothing more.
    std::vector<std::shared_ptr<std::atomic_bool>> m_inFlight;
};

// The status the updater of this setup last published, or nothing.
std::optional<UpdaterStatus> readPublishedStatus();

// The printed form of an update reply: the time in UTC, then the value.
QString updateReplyLine(const ResponseValue &value);

} // namespace vennacott
