// One window per setup: a second start hands over to the window already running and ends.
#pragma once

#include <QObject>

#include <memory>

class QLocalServer;

namespace vennacott {

class ProcessLock;

class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    SingleInstance();
    ~SingleInstance() override;

    // True when this process is the setup's window: it holds the window lock and listens for later starts.
    bool claim();

    // Asks the window that holds the lock to come forward. True once it has said so; waits a few seconds
    // at most, also for a window that is still starting.
    bool handOver();

Q_SIGNALS:
    // A later start asked this window to come forward.
    void activationRequested();

private:
    std::unique_ptr<ProcessLock> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace vennacott
