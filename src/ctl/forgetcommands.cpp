// reset and logout: what this computer forgets, without a request to the service.
#include "forgetcommands.h"

namespace vennacott::ctl {
namespace {

QString forgottenHost(Settings &settings)
{
    const std::optional<QString> hostname = settings.registeredHostname();
    return hostname ? QStringLiteral("the host name %1 and its update link").arg(fullName(*hostname))
                    : QStringLiteral("the host name and its update link");
}

} // namespace

QString ResetCommand::summary() const
{
    return QStringLiteral("forget the host name here; the sign-in stays");
}

QStringList ResetCommand::help() const
{
    return {
        QStringLiteral("Forgets the host name and its update link on this computer, as the window's Reset button"),
        QStringLiteral("does; updates stop from the next one on. The sign-in stays, and the host stays registered"),
        QStringLiteral("and saved with the account."),
    };
}

void ResetCommand::start(const Invocation &, const Finish &finish)
{
    const QString what = forgottenHost(m_core.settings());
    if (!reportUnsaved(m_core.session().reset(), QStringLiteral("forgetting the host"), m_core.settings())) {
        finish(ExitStatus::Refused);
        return;
    }
    say(QStringLiteral("Forgot %1; signed in as before").arg(what));
    finish(ExitStatus::Done);
}

QString LogoutCommand::summary() const
{
    return QStringLiteral("forget the sign-in and the host name here");
}

QStringList LogoutCommand::help() const
{
    return {
        QStringLiteral("Forgets the sign-in, the host name and its update link on this computer; updates stop from"),
        QStringLiteral("the next one on. The host stays registered and saved with the account: login fetches it"),
        QStringLiteral("again."),
    };
}

void LogoutCommand::start(const Invocation &, const Finish &finish)
{
    const QString what = forgottenHost(m_core.settings());
    if (!reportUnsaved(m_core.session().signOut(), QStringLiteral("signing out"), m_core.settings())) {
        finish(ExitStatus::Refused);
        return;
    }
    say(QStringLiteral("Signed out; forgot the sign-in, %1").arg(what));
    finish(ExitStatus::Done);
}

} // namespace vennacott::ctl
