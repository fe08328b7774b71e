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

// The terminal's settings before and while echo is off, and the prompt, for the signal handlers.
termios g_saved{};
termios g_quiet{};
const char *g_prompt = nullptr;
size_t g_promptSize = 0;
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

// Ctrl-Z: the shell gets its terminal back as it was, echo on, while this program is stopped. What was
// typed so far is dropped rather than left for the shell to read; after `fg` echo goes off again and the
// prompt asks for the whole password anew.
extern "C" void stopWithTerminalRestored(int)
{
    const int savedErrno = errno;
    if (g_echoOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
    struct sigaction stop = {};
    struct sigaction ours = {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGTSTP, &stop, &ours);
    sigset_t tstp;
    sigemptyset(&tstp);
    sigaddset(&tstp, SIGTSTP);
    ::sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
    ::raise(SIGTSTP); // returns once continued
    ::sigaction(SIGTSTP, &ours, nullptr);
    if (g_echoOff) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_quiet);
        [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, "\n", 1);
        written = ::write(STDERR_FILENO, g_prompt, g_promptSize);
    }
    errno = savedErrno;
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
        action.sa_handler = stopWithTerminalRestored;
        ::sigaction(SIGTSTP, &action, &m_previousStop);
        if (m_previousStop.sa_handler == SIG_IGN) // started where stopping is not wanted: it stays so
            ::sigaction(SIGTSTP, &m_previousStop, nullptr);
        g_quiet = g_saved;
        g_quiet.c_lflag &= ~tcflag_t(ECHO);
        g_quiet.c_lflag |= ECHONL;
        g_echoOff = 1;
        m_ok = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_quiet) == 0;
    }
    ~EchoOff()
    {
        if (!g_echoOff)
            return;
        // First, so that a stop from here on cannot turn echo off again.
        ::sigaction(SIGTSTP, &m_previousStop, nullptr);
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
    struct sigaction m_previousStop = {};
};

} // namespace

std::optional<QString> readPassword(const QString &prompt)
{
    std::optional<QByteArray> line;
    if (::isatty(STDIN_FILENO)) {
        const QByteArray shown = prompt.toLocal8Bit();
        g_prompt = shown.constData();
        g_promptSize = size_t(shown.size());
        const EchoOff echoOff;
        // A terminal whose echo cannot be turned off would show the password: read nothing then.
        if (!echoOff.ok())
            return std::nullopt;
        // Asked once echo is off: what is typed from then on is never shown.
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, shown.constData(), size_t(shown.size()));
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
