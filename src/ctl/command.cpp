// What every subcommand of vennacott-ddnsctl shares.
#include "command.h"

#include "console.h"
#include "endpoints.h"
#include "settingskeys.h"
#include "userdefaults.h"

namespace vennacott::ctl {

void say(const QString &line)
{
    console::printLine(line);
}

void complain(const QString &line)
{
    console::logLine(kProgram + QStringLiteral(": ") + line);
}

ExitStatus statusOf(const OperationEnd &end)
{
    switch (end.kind) {
    case OperationEnd::Kind::Done:
        return ExitStatus::Done;
    case OperationEnd::Kind::Refused:
        return ExitStatus::Refused;
    case OperationEnd::Kind::NoAnswer:
        break;
    }
    return ExitStatus::NoAnswer;
}

void reportFailure(const OperationEnd &end, const QString &what, const QString &origin)
{
    if (end.kind == OperationEnd::Kind::Refused)
        complain(QStringLiteral("%1 refused: %2").arg(what, end.error));
    else if (end.kind == OperationEnd::Kind::NoAnswer)
        complain(QStringLiteral("%1: no answer from %2").arg(what, origin));
}

QString fullName(const QString &hostname)
{
    return hostname + endpoints::zoneSuffix();
}

std::optional<QString> storedHostname()
{
    const QString hostname = UserDefaults::standard().stringForKey(keys::kHostname).value_or(QString());
    if (hostname.isEmpty() || hostname == QLatin1String("ERROR"))
        return std::nullopt;
    return hostname;
}

} // namespace vennacott::ctl
