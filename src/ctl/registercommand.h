// register NAME: registers a host name as the window's host button does.
#pragma once

#include "command.h"

namespace vennacott::ctl {

class RegisterCommand final : public Command
{
public:
    QString name() const override { return QStringLiteral("register"); }
    QString argumentName() const override { return QStringLiteral("NAME"); }
    QString summary() const override;
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;
};

} // namespace vennacott::ctl
