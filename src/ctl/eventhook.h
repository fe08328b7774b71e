// run --exec: a program of the user's run on the updater's events, one at a time, never waited for.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

class QProcess;
class QTimer;

namespace vennacott::ctl {

// What a hook is told, in its environment as VENNACOTT_EVENT, VENNACOTT_HOST and so on. Never a secret.
struct HookEvent
{
    QString event; // "address-changed", "failing", "working-again"
    QString host;
    QString family;
    QString address;
    QString previousAddress;
    QString error;
};

class EventHook final : public QObject
{
    Q_OBJECT
public:
    // `timeLimit`: a run still going after it is killed.
    EventHook(QString program, std::chrono::milliseconds timeLimit, QObject *parent = nullptr);
    ~EventHook() override;

    // Runs the program now, or once the one running has ended; of the events waiting, only the newest runs.
    void trigger(const HookEvent &event);

private:
    void runNext();
    void ended(const QString &how);

    const QString m_program;
    const std::chrono::milliseconds m_timeLimit;
    QProcess *m_process = nullptr;
    QTimer *m_deadline = nullptr;
    QString m_running;   // the event of the run going on
    QByteArray m_output; // its first lines
    std::optional<HookEvent> m_waiting;
};

} // namespace vennacott::ctl
