// reset and logout: what this computer forgets, without a request to the service.
#pragma once

#include "command.h"

namespace vennacott::ctl {

// As the window's Reset button: forgets the host name and its update link; the sign-in stays.
class ResetCommand final : public Command
{
public:
    explicit ResetCommand(Core &core)
        : m_core(core)
    {}

    QString name() const override { return QStringLiteral("reset"); }
    QString summary() const override;
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;

private:
    Core &m_core;
};

// Forgets the sign-in, the host name and its update link.
class LogoutCommand final : public Command
{
public:
    explicit LogoutCommand(Core &core)
        : m_core(core)
    {}

    QString name() const override { return QStringLiteral("logout"); }
    QString summary() const override;
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;

private:
    Core &m_core;
};

} // namespace vennacott::ctl
