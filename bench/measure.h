// What the benchmark's programs share: the programs they start, reading a process's figures from /proc,
// percentiles, and the loopback update server they measure against.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vennacott::bench {

using Clock = std::chrono::steady_clock;

// The value at `p` percent of `values` (nearest rank), or NaN for none.
double percentile(std::vector<double> values, double p);

// A whole small file, such as one under /proc, or the empty text.
std::string readText(const QString &path);

// A "Name:   123 kB" field of a /proc status text, or -1.
long statusField(const std::string &status, const char *name);

// This process's environment as NAME=value entries, `set` replacing or adding and `unset` left out.
QStringList environmentWith(const QStringList &set, const QStringList &unset = {});

// A program the benchmark starts: its standard output and error read line by line under a deadline, or
// discarded; stopped when it goes and killed if the benchmark dies.
class Program final : public QProcess
{
public:
    // False (with a line on standard error) when it could not be started.
    bool start(const QStringList &argv, const QStringList &environment, bool readOutput, bool readErrors = false);
    // The next whole line without its line feed, or nothing at the deadline or the end of the stream.
    std::optional<std::string> readLine(Clock::time_point deadline, ProcessChannel channel = StandardOutput);
    // SIGTERM (and the end of its input), then SIGKILL if it has not ended within `grace`.
    void stop(std::chrono::milliseconds grace = std::chrono::seconds(10));
    ~Program() override { stop(std::chrono::seconds(2)); }
};

// What the update server counted since the last time it was asked.
struct ServerStats
{
    long connections = 0, full = 0, resumed = 0; // TCP connections, full and resumed TLS handshakes
    long requests = 0, answered = 0, dropped = 0, stalled = 0, restarts = 0;
};

// vennacott-bench-server: HTTPS on loopback with plain libssl, told what to do over its standard input.
class UpdateServer final
{
public:
    // Port 0 picks a free one. `traced`: the server writes a line per connection event, read through trace().
    bool start(const QString &program, const QString &certDir, int port = 0, bool traced = false);
    int port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_port); }
    // Drops the connection of every `dropEvery`th request, never answers every `stallEvery`th, and restarts
    // once at request `restartAt` (0: never).
    void injectFaults(long dropEvery, long stallEvery, long restartAt);
    // The counters since the last call; they start again from zero.
    ServerStats takeStats();
    void stop() { m_program.stop(std::chrono::seconds(2)); }
    // The next "<seconds>.<microseconds> fd <n> <event>" line, on the steady clock, the benchmark's own.
    std::optional<std::string> traceLine(Clock::time_point deadline)
    {
        return m_program.readLine(deadline, QProcess::StandardError);
    }

private:
    Program m_program;
    int m_port = 0;
};

} // namespace vennacott::bench
