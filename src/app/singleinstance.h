// One window per setup: a second start hands over to the window already running and ends.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <sys/types.h>

class QLocalServer;
class QWidget;

namespace vennacott {

class ProcessLock;

// How long a second start waits, in all, for the window that holds the setup to answer; a window that is
// still starting may hold the lock a moment before it listens.
inline constexpr std::chrono::milliseconds kHandOverDeadline{5000};

// True when the process at the other end of the connected local socket `descriptor` runs as `user`.
bool peerIsUser(qintptr descriptor, uid_t user);

class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    enum class Claim {
        Owned,         // this process is the setup's window and listens for later starts
        HeldElsewhere, // another process holds the setup's window lock
        Unavailable,   // the lock cannot be taken at all: this window runs without the one-window guarantee
    };

    SingleInstance();
    ~SingleInstance() override;

    Claim claim();
    // Why the claim was Unavailable, as one line for standard error.
    QString failure() const;

    // Asks the window that holds the lock to come forward. `done` is called once, from the event loop: true
    // once a window of this user said so, false when none did by the deadline.
    void handOver(std::function<void(bool shown)> done);

    // Each later start brings `window` forward: shown, not minimised, raised and active.
    void bringForwardOnRequest(QWidget *window);

Q_SIGNALS:
    // A later start of this user asked this window to come forward.
    void activationRequested();

private:
    void listen();

    const QString m_socketPath;
    std::unique_ptr<ProcessLock> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace vennacott
