// vennacott-ddnsctl's command line: the subcommands, their help and usage errors.
#include "commandline.h"

#include "buildconfig.h"
#include "console.h"
#include "dispatch.h"
#include "endpoints.h"
#include "forgetcommands.h"
#include "historycommand.h"
#include "logincommand.h"
#include "passwordprompt.h"
#include "registercommand.h"
#include "runcommand.h"
#include "statuscommand.h"

#include <atomic>

namespace vennacott::ctl {
namespace {

bool isHelp(const QString &argument)
{
    return argument == QLatin1String("-h") || argument == QLatin1String("--help");
}

// Only the first end counts, and it is told on the main thread whichever thread ends the command.
Finish onceOnMainThread(std::function<void(ExitStatus)> finish)
{
    auto done = std::make_shared<std::atomic_bool>(false);
    return [done, finish = std::move(finish)](ExitStatus status) {
        if (!done->exchange(true))
            dispatch::mainAsync([finish, status] { finish(status); });
    };
}

// What a command says when the sign-in it needs lies in a keyring it cannot reach.
QString keyringProblem(const Settings &settings)
{
    return settings.keyring() == Settings::Keyring::Absent
               ? QStringLiteral("the sign-in is kept in the system keyring, but no keyring is running on this session")
               : QStringLiteral("the sign-in is kept in the system keyring, which is locked; unlock it and try again");
}

bool keyringUnreachable(Settings::Keyring state)
{
    return state == Settings::Keyring::Locked || state == Settings::Keyring::Absent;
}

// Calls `then` once the keyring has answered what was asked of it (at once when the token is in the file).
void afterKeyring(Settings &settings, std::function<void()> then)
{
    if (!settings.keyringBusy())
        return then();
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&settings, &Settings::keyringChanged, &settings, [&settings, connection, then] {
        if (settings.keyringBusy())
            return;
        QObject::disconnect(*connection);
        then();
    });
}

// "register NAME", "status [--json]".
QString callOf(const Command &command)
{
    QString call = command.name();
    for (const QString &flag : command.flags())
        call += QStringLiteral(" [%1]").arg(flag);
    for (const auto &[option, value] : command.valueOptions())
        call += QStringLiteral(" [%1 %2]").arg(option, value);
    if (!command.argumentName().isEmpty())
        call += QLatin1Char(' ') + command.argumentName();
    return call;
}

} // namespace

namespace {

// A command ends right after it writes, so a write may wait a while for the window's.
constexpr std::chrono::milliseconds kSettingsLockWait{2000};

Core::Options coreOptions(const Options &options)
{
    Core::Options core;
    core.lockWait = kSettingsLockWait;
    core.interval = options.updateInterval;
    core.updateBaseUrl = options.updateBaseUrl;
    return core;
}

// The value option `argument` names ("--ping" in "--ping=URL" too), or nothing.
std::optional<QString> valueOptionOf(const Command &command, const QString &argument)
{
    const QString name = argument.section(QLatin1Char('='), 0, 0);
    for (const auto &option : command.valueOptions()) {
        if (option.first == name)
            return name;
    }
    return std::nullopt;
}

} // namespace

CommandLine::CommandLine(Options options)
    : m_core(coreOptions(options))
{
    PasswordReader reader = options.readPassword ? options.readPassword : PasswordReader(readPassword);
    m_commands.push_back(std::make_unique<LoginCommand>(m_core, std::move(reader)));
    m_commands.push_back(std::make_unique<RegisterCommand>(m_core));
    m_commands.push_back(std::make_unique<StatusCommand>(m_core));
    m_commands.push_back(std::make_unique<HistoryCommand>());
    m_commands.push_back(std::make_unique<ResetCommand>(m_core));
    m_commands.push_back(std::make_unique<LogoutCommand>(m_core));
    m_commands.push_back(std::make_unique<RunCommand>(m_core, options));
}

CommandLine::~CommandLine() = default;

Command *CommandLine::find(const QString &name) const
{
    for (const std::unique_ptr<Command> &command : m_commands) {
        if (command->name() == name)
            return command.get();
    }
    return nullptr;
}

void CommandLine::overview() const
{
    say(QStringLiteral("Usage: %1 COMMAND [ARGUMENT]").arg(kProgram));
    say(QStringLiteral("Keeps a Vennacott DDNS host name pointing at this machine, without a window, from the same"));
    say(QStringLiteral("settings as the window (vennacott-ddns)."));
    say(QString());
    say(QStringLiteral("Commands:"));
    for (const std::unique_ptr<Command> &command : m_commands)
        say(QStringLiteral("  %1 %2").arg(callOf(*command).leftJustified(16), command->summary()));
    say(QString());
    say(QStringLiteral("Options:"));
    say(QStringLiteral("  -h, --help       this help; after a command, that command's help"));
    say(QStringLiteral("  --version        the program's version"));
    say(QString());
    say(QStringLiteral("Exit status: 0 done, 1 refused by the service or by a local check (the reason on"));
    say(QStringLiteral("standard error), 2 no answer from the service, 64 a usage error."));
}

void CommandLine::commandHelp(const Command &command) const
{
    say(QStringLiteral("Usage: %1 %2").arg(kProgram, callOf(command)));
    say(QString());
    for (const QString &line : command.help())
        say(line);
}

void CommandLine::start(const QStringList &arguments, std::function<void(ExitStatus)> finishWith)
{
    const Finish finish = onceOnMainThread(std::move(finishWith));
    const auto usageError = [&finish](const QString &problem, const QString &helpCall) {
        complain(problem);
        console::logLine(QStringLiteral("Try '%1 --help'.").arg(helpCall));
        finish(ExitStatus::Usage);
    };
    const QString first = arguments.value(0);
    if (arguments.isEmpty())
        return usageError(QStringLiteral("no command given"), kProgram);
    if (isHelp(first)) {
        overview();
        return finish(ExitStatus::Done);
    }
    if (first == QLatin1String("--version")) {
        const QStringList lines =
            endpoints::versionText(kProgram, buildconfig::kExtraCaPem).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : lines)
            say(line);
        return finish(ExitStatus::Done);
    }
    Command *command = find(first);
    if (!command)
        return usageError(first.startsWith(QLatin1Char('-')) ? QStringLiteral("unknown option '%1'").arg(first)
                                                             : QStringLiteral("unknown command '%1'").arg(first),
                          kProgram);
    const QString commandCall = kProgram + QLatin1Char(' ') + command->name();

    Invocation invocation;
    bool help = false;
    bool optionsEnded = false;
    const QStringList rest = arguments.mid(1);
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const QString &argument = rest.at(i);
        const std::optional<QString> valueOption = optionsEnded ? std::nullopt : valueOptionOf(*command, argument);
        if (valueOption) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            if (equals < 0 && i + 1 >= rest.size())
                return usageError(QStringLiteral("%1 needs a value").arg(*valueOption), commandCall);
            const QString value = equals >= 0 ? argument.mid(equals + 1) : rest.at(++i);
            if (invocation.values.contains(*valueOption))
                return usageError(QStringLiteral("%1 given twice").arg(*valueOption), commandCall);
            invocation.values.insert(*valueOption, value);
        } else if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            invocation.arguments.append(argument);
        } else if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (isHelp(argument)) {
            help = true;
        } else if (command->flags().contains(argument)) {
            invocation.flags.insert(argument);
        } else {
            return usageError(QStringLiteral("unknown option '%1' for %2").arg(argument, command->name()), commandCall);
        }
    }
    if (help) {
        commandHelp(*command);
        return finish(ExitStatus::Done);
    }
    const qsizetype expected = command->argumentName().isEmpty() ? 0 : 1;
    if (invocation.arguments.size() < expected)
        return usageError(QStringLiteral("%1 needs %2").arg(command->name(), command->argumentName()), commandCall);
    if (invocation.arguments.size() > expected)
        return usageError(QStringLiteral("unexpected argument '%1'").arg(invocation.arguments.at(expected)),
                          commandCall);
    // Every command but run (which needs only the update link) reads or writes the sign-in: with the sign-in
    // in the keyring, it starts once the keyring has answered and ends once what it wrote there has arrived.
    Settings &settings = m_core.settings();
    if (!settings.keyringChosen() || command->name() == QLatin1String("run"))
        return command->start(invocation, finish);
    const Finish keyringFinish = onceOnMainThread([&settings, finish](ExitStatus status) {
        afterKeyring(settings, [&settings, finish, status] {
            if (status == ExitStatus::Done && keyringUnreachable(settings.keyring())) {
                complain(keyringProblem(settings));
                return finish(ExitStatus::Refused);
            }
            finish(status);
        });
    });
    afterKeyring(settings, [&settings, command, invocation, keyringFinish] {
        if (keyringUnreachable(settings.keyring())) {
            complain(keyringProblem(settings));
            return keyringFinish(ExitStatus::Refused);
        }
        command->start(invocation, keyringFinish);
    });
}

} // namespace vennacott::ctl
