// The password for signing in: typed at the terminal without echo, or one line of standard input.
#pragma once

#include <QString>

#include <optional>

namespace vennacott::ctl {

// From a terminal: shows `prompt` on standard error and reads one line with echo turned off; the
// terminal's settings come back on every way out, an interrupt or a termination signal included, and
// while the program is stopped (Ctrl-Z), after which the prompt asks again. From anything else (a pipe, a
// file): one line of standard input, without its line end. Nothing at the end of input before any
// character, on a read error, or for a line longer than any password.
std::optional<QString> readPassword(const QString &prompt);

} // namespace vennacott::ctl
