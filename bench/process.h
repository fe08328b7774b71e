// Child processes for the benchmark: spawned without Qt, so that no handler of ours runs while they do,
// with whole-line reading under a deadline and the rusage of their end.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace vennacott::bench {

using Clock = std::chrono::steady_clock;

// Where a child's standard stream goes.
enum class Stream { Inherit, Pipe, Null };

struct SpawnOptions
{
    std::vector<std::string> argv;
    std::vector<std::string> environment; // NAME=value entries; the whole environment of the child
    Stream in = Stream::Null;
    Stream out = Stream::Null;
    Stream err = Stream::Inherit;
};

// Reads whole lines from a descriptor, waiting no longer than a deadline.
class LineReader final
{
public:
    explicit LineReader(int fd = -1)
        : m_fd(fd)
    {}
    // The next line without its line feed, or nothing at the deadline or the end of the stream.
    std::optional<std::string> readLine(Clock::time_point deadline);
    int fd() const { return m_fd; }

private:
    int m_fd;
    std::string m_buffer;
    bool m_ended = false;
};

class Child final
{
public:
    Child() = default;
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // False (with a line on standard error) when the program could not be started.
    bool spawn(const SpawnOptions &options);
    pid_t pid() const { return m_pid; }
    bool running() const { return m_pid > 0; }

    void writeLine(const std::string &line);
    LineReader &out() { return m_out; }
    LineReader &err() { return m_err; }

    // Waits for the end, at most until `deadline`; then kills it. Returns the wait status.
    int wait(Clock::time_point deadline, rusage *usage = nullptr);
    // Waits for the end without a deadline, for programs that bound their own time (curl --max-time).
    int waitBlocking(rusage *usage);
    // SIGTERM, then SIGKILL if it has not ended within `grace`.
    int stop(std::chrono::milliseconds grace, rusage *usage = nullptr);

private:
    pid_t m_pid = -1;
    int m_in = -1;
    LineReader m_out;
    LineReader m_err;
};

// The environment of this process as NAME=value entries, with `set` entries replacing or adding and
// `unset` names left out.
std::vector<std::string> environmentWith(const std::vector<std::string> &set,
                                         const std::vector<std::string> &unset = {});

} // namespace vennacott::bench
