// history [--json] [--since DATE]: what the updater of these settings saw change.
#pragma once

#include "command.h"

namespace vennacott::ctl {

class HistoryCommand final : public Command
{
public:
    QString name() const override { return QStringLiteral("history"); }
    QStringList flags() const override { return {QStringLiteral("--json")}; }
    QList<std::pair<QString, QString>> valueOptions() const override
    {
        return {{QStringLiteral("--since"), QStringLiteral("DATE")}};
    }
    QString summary() const override;
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;
};

} // namespace vennacott::ctl
