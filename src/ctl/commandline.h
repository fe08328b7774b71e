// vennacott-ddnsctl's command line: the subcommands, their help and usage errors.
#pragma once

#include "command.h"

#include <memory>
#include <vector>

namespace vennacott::ctl {

class CommandLine final
{
public:
    explicit CommandLine(Options options = {});
    ~CommandLine();
    CommandLine(const CommandLine &) = delete;
    CommandLine &operator=(const CommandLine &) = delete;

    // Runs what `arguments` (without the program's name) ask for. `finish` comes once, on the main thread on
    // a later turn of its event loop, also for a command that ends at once. A command that runs until it is
    // stopped (run) lives as long as this object.
    void start(const QStringList &arguments, std::function<void(ExitStatus)> finish);

private:
    Command *find(const QString &name) const;
    void overview() const;
    void commandHelp(const Command &command) const;

    Core m_core;
    std::vector<std::unique_ptr<Command>> m_commands;
};

} // namespace vennacott::ctl
