// register NAME: registers a host name as the window's host button does.
#include "registercommand.h"

#include "endpoints.h"

namespace vennacott::ctl {

QString RegisterCommand::summary() const
{
    return QStringLiteral("register a host name and update it from this computer");
}

QStringList RegisterCommand::help() const
{
    return {
        QStringLiteral("Asks the update server for the host name NAME, as the window's host button does. Once it is"),
        QStringLiteral("granted, stores the name and its update link in the settings, saves the link with the"),
        QStringLiteral("account and prints the full name. The updater (the window or run) uses it from its next"),
        QStringLiteral("update on. Needs a sign-in (login)."),
        QString(),
        QStringLiteral("Exit status: 0 registered and saved, 1 refused or not saved (the reason on standard error),"),
        QStringLiteral("2 no answer from the service."),
    };
}

void RegisterCommand::start(const Invocation &invocation, const Finish &finish)
{
    if (m_core.settings().token().isEmpty()) {
        complain(QStringLiteral("not signed in: sign in first with %1 login EMAIL").arg(kProgram));
        finish(ExitStatus::Refused);
        return;
    }
    const QString name = invocation.arguments.value(0);
    m_core.session().registerHost(name, [this, finish, name](const OperationResult &result) {
        if (result.kind != OperationResult::Kind::Done) {
            reportFailure(result, QStringLiteral("registration"), endpoints::updateBaseUrl());
            finish(statusOf(result));
            return;
        }
        if (!reportUnsaved(result.saved, QStringLiteral("the host name %1 and its update link").arg(fullName(name)),
                           m_core.settings())) {
            finish(ExitStatus::Refused);
            return;
        }
        // The link is stored already: the updater uses it whatever the backend says about saving it.
        if (result.accountSave.kind == OperationEnd::Kind::Done)
            say(fullName(name));
        else
            reportFailure(
                result.accountSave,
                QStringLiteral("%1 is registered and updated from this computer, but saving it with the account")
                    .arg(fullName(name)),
                endpoints::apiBaseUrl());
        finish(statusOf(result.accountSave));
    });
}

} // namespace vennacott::ctl
