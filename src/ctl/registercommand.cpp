// register NAME: registers a host name as the window's host button does.
#include "registercommand.h"

#include "endpoints.h"
#include "savedhost.h"
#include "settingskeys.h"
#include "userdefaults.h"

namespace vennacott::ctl {
namespace {

// The link is stored already: the updater uses it whatever the backend says about saving it.
void saveWithAccount(const QString &hostname, const QString &link, const Finish &finish)
{
    setSavedHost(
        link, [](bool) {},
        [finish, hostname](const OperationEnd &end) {
            if (end.kind == OperationEnd::Kind::Done)
                say(fullName(hostname));
            else
                reportFailure(end,
                              QStringLiteral("%1 is registered and updated from this computer, but saving it with the "
                                             "account")
                                  .arg(fullName(hostname)),
                              endpoints::apiBaseUrl());
            finish(statusOf(end));
        });
}

} // namespace

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
        QStringLiteral("Exit status: 0 registered and saved, 1 refused (the reason on standard error), 2 no answer"),
        QStringLiteral("from the service."),
    };
}

void RegisterCommand::start(const Invocation &invocation, const Finish &finish)
{
    if (UserDefaults::standard().stringForKey(keys::kToken).value_or(QString()).isEmpty()) {
        complain(QStringLiteral("not signed in: sign in first with %1 login EMAIL").arg(kProgram));
        finish(ExitStatus::Refused);
        return;
    }
    const QString name = invocation.arguments.value(0);
    registerHost(
        name,
        [name, finish](bool success, const QString &link) {
            if (!success)
                return; // told when the operation ends
            storeRegisteredHost(name, link);
            saveWithAccount(name, link, finish);
        },
        [finish](const OperationEnd &end) {
            if (end.kind == OperationEnd::Kind::Done)
                return; // goes on with the save
            reportFailure(end, QStringLiteral("registration"), endpoints::updateBaseUrl());
            finish(statusOf(end));
        });
}

} // namespace vennacott::ctl
