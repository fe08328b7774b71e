// What every subcommand of vennacott-ddnsctl shares.
#include "command.h"

#include "console.h"
#include "endpoints.h"

namespace vennacott::ctl {

void say(const QString &line)
{
    console::printLine(line);
}

void complain(const QString &line)
{
    console::logLine(kProgram + QStringLiteral(": ") + line, console::Priority::Error);
}

void complain(const QString &line, console::Priority priority)
{
    console::logLine(kProgram + QStringLiteral(": ") + line, priority);
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

ExitStatus statusOf(const OperationResult &result)
{
    switch (result.kind) {
    case OperationResult::Kind::Done:
        return ExitStatus::Done;
    case OperationResult::Kind::NoAnswer:
        return ExitStatus::NoAnswer;
    case OperationResult::Kind::Refused:
    case OperationResult::Kind::Superseded:
        break;
    }
    return ExitStatus::Refused;
}

void reportFailure(const OperationResult &result, const QString &what, const QString &origin)
{
    if (result.kind == OperationResult::Kind::Superseded)
        complain(QStringLiteral("%1: abandoned, the settings were changed meanwhile by another program").arg(what));
    else
        reportFailure(OperationEnd{result.kind == OperationResult::Kind::Refused ? OperationEnd::Kind::Refused
                                                                                 : OperationEnd::Kind::NoAnswer,
                                   result.error,
                                   {}},
                      what, origin);
}

bool reportUnsaved(bool saved, const QString &what, const Settings &settings)
{
    if (!saved)
        complain(
            QStringLiteral("%1 did not reach the settings file %2; nothing is kept").arg(what, settings.filePath()));
    return saved;
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

} // namespace vennacott::ctl
