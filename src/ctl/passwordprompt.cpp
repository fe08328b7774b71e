// The password for signing in: typed at the terminal without echo, or one line of standard input.
#include "passwordprompt.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace vennacott::ctl {
namespace {

// Longer lines are not passwords: they are refused rather than cut.
constexpr qsizetype kMaxPasswordBytes = 4096;

// The terminal's settings while echo is off, for the signal handler to put back.
termios g_saved{};
volatile sig_atomic_t g_echoOff = 0;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void restoreTerminalAndDie(int signalNumber)
{
    if (g_echoOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    // Ends the process as the signal would have, once this handler returns.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// One line from `fd`, read a byte at a time so nothing after it is taken from the stream.
std::optional<QByteArray> readLine(int fd)
{
    QByteArray line;
    bool anything = false;
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        anything = true;
        if (c == '\n')
            break;
        if (line.size() >= kMaxPasswordBytes)
            return std::nullopt;
        line.append(c);
    }
    if (!anything)
        return std::nullopt;
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// Turns echo off for as long as it lives, and on again however the read ends.
class EchoOff final
{
public:
    EchoOff()
    {
        if (::tcgetattr(STDIN_FILENO, &g_saved) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = restoreTerminalAndDie;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &action, &m_previous[i]);
        termios quiet = g_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        g_echoOff = 1;
        m_ok = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (!g_echoOff)
            return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
        g_echoOff = 0;
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
    struct sigaction m_previous[std::size(kSignals)] = {};
};

} // namespace

std::optional<QString> readPassword(const QString &prompt)
{
    std::optional<QByteArray> line;
    if (::isatty(STDIN_FILENO)) {
        const QByteArray shown = prompt.toLocal8Bit();
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, shown.constData(), size_t(shown.size()));
        const EchoOff echoOff;
        // A terminal whose echo cannot be turned off would show the password: read nothing then.
        if (!echoOff.ok())
            return std::nullopt;
        line = readLine(STDIN_FILENO);
    } else {
        line = readLine(STDIN_FILENO);
    }
    if (!line)
        return std::nullopt;
    QString password = QString::fromUtf8(*line);
    line->fill('\0');
    return password;
}

} // namespace vennacott::ctl
