// status [--json]: the sign-in, the host and the updater of these settings, without a network request.
#pragma once

#include "command.h"

#include <QJsonObject>

namespace vennacott::ctl {

class StatusCommand final : public Command
{
public:
    explicit StatusCommand(Core &core)
        : m_core(core)
    {}

    QString name() const override { return QStringLiteral("status"); }
    QStringList flags() const override { return {QStringLiteral("--json")}; }
    QString summary() const override;
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;

    // The object `status --json` prints.
    QJsonObject json();

private:
    Core &m_core;
};

} // namespace vennacott::ctl
