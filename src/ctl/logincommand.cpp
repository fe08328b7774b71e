// login EMAIL: signs in as the window's sign-in button does, then fetches the host saved with the account.
#include "logincommand.h"

#include "endpoints.h"
#include "savedhost.h"

namespace vennacott::ctl {
namespace {

// A launch of the window with a stored token fetches the saved host; a server signed in here does the same,
// so a host registered on a desktop is updated from here from now on.
void fetchSavedHost(const Finish &finish)
{
    getSavedHost(storeSavedHost, [finish](const OperationEnd &end) {
        // Runs after the callback above has stored what came.
        const QString step = QStringLiteral("signed in, but fetching the host saved with the account");
        if (end.kind == OperationEnd::Kind::NoAnswer) {
            reportFailure(end, step, endpoints::apiBaseUrl());
            finish(statusOf(end));
            return;
        }
        if (end.kind == OperationEnd::Kind::Refused) {
            say(QStringLiteral("No host fetched from the account (%1): register one with %2 register NAME")
                    .arg(end.error, kProgram));
        } else if (const std::optional<QString> hostname = storedHostname()) {
            say(QStringLiteral("The host saved with the account, %1, is updated from this computer from now on")
                    .arg(fullName(*hostname)));
        } else {
            say(QStringLiteral("The host saved with the account could not be read; nothing stored"));
        }
        finish(ExitStatus::Done);
    });
}

} // namespace

LoginCommand::LoginCommand(PasswordReader readPassword)
    : m_readPassword(std::move(readPassword))
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
        QStringLiteral("Exit status: 0 signed in, 1 refused, 2 no answer from the service, 64 no password read."),
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
    login(
        email, *password, [](bool) {},
        [finish, email](const OperationEnd &end) {
            if (end.kind != OperationEnd::Kind::Done) {
                reportFailure(end, QStringLiteral("sign-in"), endpoints::apiBaseUrl());
                finish(statusOf(end));
                return;
            }
            say(QStringLiteral("Signed in as %1").arg(email));
            fetchSavedHost(finish);
        });
}

} // namespace vennacott::ctl
