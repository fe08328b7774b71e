// What the benchmark's programs share: the programs they start, reading a process's figures from /proc,
// and percentiles.
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

// Milliseconds in `d`.
inline double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// printf() to standard output, then a line feed, flushed.
__attribute__((format(printf, 1, 2))) void say(const char *format, ...);

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

} // namespace vennacott::bench
