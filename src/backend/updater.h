// The address updater shared by the window and the command line: one update, its printed lines, and the
// status that follows, kept by the one process that sends the updates for a setup.
#pragma once

#include "updaterstatus.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QFileSystemWatcher;

namespace vennacott {

class ProcessLock;

inline constexpr std::chrono::milliseconds kUpdateInterval{10'000};

class Updater final : public QObject
{
    Q_OBJECT
public:
    // `updateBaseUrl`: the update server's origin, empty for the one the client is built for.
    explicit Updater(QString updateBaseUrl = {}, std::chrono::milliseconds interval = kUpdateInterval,
                     QObject *parent = nullptr);
    ~Updater() override;

    // Only one process sends the updates of a setup: the one holding its updater lock. Takes the lock when
    // it is free; a process that does not hold it shows the status the holder publishes instead.
    bool tryToBecomeTheUpdater();
    bool isTheUpdater() const;

    // One update, when this process is (or now becomes) the updater: reads the stored update link and,
    // when there is one, prints the URL (the key redacted), requests it from the background queue and
    // prints the time and the reply; the status follows when the exchange ends. Without a link, or when
    // another process sends the updates, nothing happens. Main thread only.
    void tick();

    // The status about the stored update link: an empty one (waiting for the first update) when there is
    // no link or the last update was about another one.
    UpdaterStatus status();
    std::chrono::milliseconds interval() const { return m_interval; }
    QString updateBaseUrl() const { return m_updateBaseUrl; }

Q_SIGNALS:
    // After every change of the status, with what is worth telling the user.
    void statusChanged(const QList<vennacott::StatusEvent> &events);

private:
    void finish(const QString &fingerprint, const UpdateAttempt &attempt);
    void adoptPublishedStatus();
    void publish();
    void watchPublishedStatus();

    const QString m_updateBaseUrl;
    const std::chrono::milliseconds m_interval;
    std::unique_ptr<ProcessLock> m_lock;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    UpdaterStatus m_status;
};

// The status the updater of this setup last published, or nothing.
std::optional<UpdaterStatus> readPublishedStatus();

// The printed form of an update reply: the time in UTC, then the value.
QString updateReplyLine(const ResponseValue &value);

} // namespace vennacott
