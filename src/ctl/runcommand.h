// run: the updater in the foreground, for a terminal or a systemd service.
#pragma once

#include "command.h"

#include <memory>

namespace vennacott {
class TerminationSignals;
}

namespace vennacott::ctl {

class EventHook;
class Heartbeat;
class MetricsServer;
class SystemdNotifier;

class RunCommand final : public Command
{
public:
    RunCommand(Core &core, const Options &options);
    ~RunCommand() override;

    QString name() const override { return QStringLiteral("run"); }
    QList<std::pair<QString, QString>> valueOptions() const override;
    QString summary() const override;
    QStringList flags() const override { return {QStringLiteral("--ipv6-temporary")}; }
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;

private:
    // Tells the journal, the hook and the heartbeat what an update changed.
    void statusChanged(const QList<StatusEvent> &events);

    Core &m_core;
    const std::chrono::milliseconds m_hookTimeLimit;
    const std::chrono::milliseconds m_pingGap;
    std::unique_ptr<TerminationSignals> m_signals;
    std::unique_ptr<SystemdNotifier> m_systemd;
    std::unique_ptr<MetricsServer> m_metrics;
    std::unique_ptr<EventHook> m_hook;
    std::unique_ptr<Heartbeat> m_heartbeat;
    QString m_address;      // the address the service reported before the last update, for the hook
    bool m_refused = false; // the last update was refused
};

} // namespace vennacott::ctl
