// login EMAIL: signs in as the window's sign-in button does, then fetches the host saved with the account.
#include "logincommand.h"

#include "endpoints.h"

namespace vennacott::ctl {

LoginCommand::LoginCommand(Core &core, PasswordReader readPassword)
    : m_core(core)
    , m_readPassword(std::move(readPassword))
{}

QString LoginCommand::summary() const
{
    return QStringLiteral("sign in and fetch the host saved with the account");
}

QStringList LoginCommand::help() const
{
    return {
        QStringLiteral("Signs in to the Vennacott service and keeps the sign-in in the settings, as the window's"),
        QStringLiteral("sign-in button does. The password is read from the terminal without echo, or as one line"),
        QStringLiteral("of standard input when that is not a terminal. Then fetches the host saved with the"),
        QStringLiteral("account, so that a host registered elsewhere is updated from this computer."),
        QString(),
        QStringLiteral("Exit status: 0 signed in, 1 refused or not saved, 2 no answer from the service, 64 no"),
        QStringLiteral("password read."),
    };
}

void LoginCommand::start(const Invocation &invocation, const Finish &finish)
{
    const QString email = invocation.arguments.value(0);
    const std::optional<QString> password = m_readPassword(QStringLiteral("Password for %1: ").arg(email));
    if (!password) {
        complain(QStringLiteral("no password read from the terminal or standard input"));
        finish(ExitStatus::Usage);
        return;
    }
    m_core.session().signIn(email, *password, [this, finish, email](const OperationResult &result) {
        if (result.kind != OperationResult::Kind::Done) {
            reportFailure(result, QStringLiteral("sign-in"), endpoints::apiBaseUrl());
            finish(statusOf(result));
            return;
        }
        if (!reportUnsaved(result.saved, QStringLiteral("the sign-in"), m_core.settings())) {
            finish(ExitStatus::Refused);
            return;
        }
        say(QStringLiteral("Signed in as %1").arg(email));
        fetchSavedHost(finish);
    });
}

// A launch of the window with a stored token fetches the saved host; a server signed in here does the same,
// so a host registered on a desktop is updated from here from now on.
void LoginCommand::fetchSavedHost(const Finish &finish)
{
    m_core.session().fetchSavedHost([this, finish](const OperationResult &result) {
        const QString step = QStringLiteral("signed in, but fetching the host saved with the account");
        if (result.kind == OperationResult::Kind::NoAnswer || result.kind == OperationResult::Kind::Superseded) {
            reportFailure(result, step, endpoints::apiBaseUrl());
            finish(statusOf(result));
            return;
        }
        if (result.kind == OperationResult::Kind::Refused) {
            say(QStringLiteral("No host fetched from the account (%1): register one with %2 register NAME")
                    .arg(result.error, kProgram));
        } else if (!result.host) {
            say(QStringLiteral("The host saved with the account could not be read; nothing stored"));
        } else if (!reportUnsaved(result.saved, QStringLiteral("the host saved with the account"), m_core.settings())) {
            finish(ExitStatus::Refused);
            return;
        } else {
            say(QStringLiteral("The host saved with the account, %1, is updated from this computer from now on")
                    .arg(fullName(result.host->hostname)));
        }
        finish(ExitStatus::Done);
    });
}

} // namespace vennacott::ctl
