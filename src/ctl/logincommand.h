// login EMAIL: signs in as the window's sign-in button does, then fetches the host saved with the account.
#pragma once

#include "command.h"

namespace vennacott::ctl {

class LoginCommand final : public Command
{
public:
    LoginCommand(Core &core, PasswordReader readPassword);

    QString name() const override { return QStringLiteral("login"); }
    QString argumentName() const override { return QStringLiteral("EMAIL"); }
    QString summary() const override;
    QStringList help() const override;
    void start(const Invocation &invocation, const Finish &finish) override;

private:
    void fetchSavedHost(const Finish &finish);

    Core &m_core;
    PasswordReader m_readPassword;
};

} // namespace vennacott::ctl
