// run: the updater in the foreground, for a terminal or a systemd service.
#pragma once

#include "command.h"

#include <memory>

namespace vennacott {
class TerminationSignals;
}

namespace vennacott::ctl {

class RunCommand final : public Command
{
public:
    explicit RunCommand(Core &core);
    ~RunCommand() override;

    QString name() const override { return QStringLiteral("run"); }
    QString summary() const override;
    QList<std::pair<QString, QString>> valueOptions() const override;
    QStringList flags() const override { return {QStringLiteral("--ipv6-temporary")}; }
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;

private:
    Core &m_core;
    std::unique_ptr<TerminationSignals> m_signals;
};

} // namespace vennacott::ctl
