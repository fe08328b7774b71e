// register NAME: registers a host name as the window's host button does.
#pragma once

#include "command.h"

namespace vennacott::ctl {

class RegisterCommand final : public Command
{
public:
    explicit RegisterCommand(Core &core)
        : m_core(core)
    {}

    QString name() const override { return QStringLiteral("register"); }
    QString argumentName() const override { return QStringLiteral("NAME"); }
    QString summary() const override;
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;

private:
    Core &m_core;
};

} // namespace vennacott::ctl
