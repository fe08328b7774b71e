// run: the updater in the foreground, for a terminal or a systemd service.
#pragma once

#include "command.h"

#include <QTimer>

#include <memory>

namespace vennacott {
class TerminationSignals;
}

namespace vennacott::ctl {

class RunCommand final : public Command
{
public:
    RunCommand(std::chrono::milliseconds interval, QString updateBaseUrl);
    ~RunCommand() override;

    QString name() const override { return QStringLiteral("run"); }
    QString summary() const override;
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;

private:
    const std::chrono::milliseconds m_interval;
    const QString m_updateBaseUrl;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<TerminationSignals> m_signals;
    QTimer m_timer;
};

} // namespace vennacott::ctl
