// What every subcommand of vennacott-ddnsctl shares: its exit statuses, what it may be given from outside,
// and how it ends.
#pragma once

#include "console.h"
#include "core.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace vennacott::ctl {

inline const QString kProgram = QStringLiteral("vennacott-ddnsctl");

// The exit statuses scripts rely on.
enum class ExitStatus {
    Done = 0,
    Refused = 1,  // by the service or by a local check; the reason is on standard error
    NoAnswer = 2, // no answer from the service: no connection, or nothing within the request timeout
    Usage = 64,   // a usage error (EX_USAGE)
};

// Reads the password, showing `prompt` where a person would see it; nothing when none could be read.
using PasswordReader = std::function<std::optional<QString>(const QString &prompt)>;

// What the commands take from outside; tests replace it.
struct Options
{
    PasswordReader readPassword; // empty: the terminal without echo, or one line of standard input
    std::chrono::milliseconds updateInterval = kUpdateInterval;
    QString updateBaseUrl;                           // empty: the update server the program is built for
    std::chrono::milliseconds hookTimeLimit{30'000}; // run --exec: a hook still running then is ended
    std::chrono::milliseconds pingGap{60'000};       // run --ping: the least time between two pings
};

// A command as invoked: its positional arguments and the options given.
struct Invocation
{
    QStringList arguments;
    QSet<QString> flags;
    QHash<QString, QString> values; // options with a value: "--metrics" -> "9101"
};

// Ends a command with its status. May be called from any thread; only the first call counts.
using Finish = std::function<void(ExitStatus status)>;

class Command
{
public:
    virtual ~Command() = default;

    virtual QString name() const = 0;
    // The one positional argument ("EMAIL"), or empty when the command takes none.
    virtual QString argumentName() const { return {}; }
    // Options besides --help, such as "--json".
    virtual QStringList flags() const { return {}; }
    // Options that take a value (given as "--name VALUE" or "--name=VALUE"), each with its value's name.
    virtual QList<std::pair<QString, QString>> valueOptions() const { return {}; }
    // One line for the overview.
    virtual QString summary() const = 0;
    // What follows the usage line in the command's own help.
    virtual QStringList help() const = 0;

    // Runs the command with arguments already checked against the above.
    virtual void start(const Invocation &invocation, const Finish &finish) = 0;
};

// A line for people on standard output.
void say(const QString &line);
// A line on standard error, after the program's name: an error for the journal, or `priority`.
void complain(const QString &line);
void complain(const QString &line, console::Priority priority);

// The exit status of an operation's end, and the line that tells a refusal or a missing answer
// (`what` names the step, `origin` the service asked).
ExitStatus statusOf(const OperationEnd &end);
ExitStatus statusOf(const OperationResult &result);
void reportFailure(const OperationEnd &end, const QString &what, const QString &origin);
void reportFailure(const OperationResult &result, const QString &what, const QString &origin);

// One line when what an operation stored did not reach the disk: the process ends right after, so the value
// is lost. True when it did reach it.
bool reportUnsaved(bool saved, const QString &what, const Settings &settings);

// The host name with its zone, as the window's done screen shows it.
QString fullName(const QString &hostname);

} // namespace vennacott::ctl
