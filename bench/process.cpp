// Child processes for the benchmark: spawned without Qt, so that no handler of ours runs while they do,
// with whole-line reading under a deadline and the rusage of their end.
#include "process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace vennacott::bench {

std::optional<std::string> LineReader::readLine(Clock::time_point deadline)
{
    for (;;) {
        const std::size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return line;
        }
        if (m_ended || m_fd < 0)
            return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t got = read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            m_ended = true;
        else
            m_buffer.append(buffer, static_cast<std::size_t>(got));
    }
}

Child::~Child()
{
    if (m_pid > 0)
        stop(std::chrono::milliseconds(2000));
    for (const int fd : {m_in, m_out.fd(), m_err.fd()}) {
        if (fd >= 0)
            close(fd);
    }
}

bool Child::spawn(const SpawnOptions &options)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipes[3][2] = {{-1, -1}, {-1, -1}, {-1, -1}};
    const Stream streams[3] = {options.in, options.out, options.err};
    for (int fd = 0; fd < 3; ++fd) {
        if (streams[fd] == Stream::Null) {
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
        } else if (streams[fd] == Stream::Pipe) {
            if (pipe2(pipes[fd], O_CLOEXEC) < 0) {
                std::perror("pipe");
                return false;
            }
            posix_spawn_file_actions_adddup2(&actions, pipes[fd][fd == 0 ? 0 : 1], fd);
        }
    }
    std::vector<char *> argv;
    for (const std::string &arg : options.argv)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const std::string &entry : options.environment)
        envp.push_back(const_cast<char *>(entry.c_str()));
    envp.push_back(nullptr);

    const int result = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd = 0; fd < 3; ++fd) {
        if (pipes[fd][0] < 0)
            continue;
        close(pipes[fd][fd == 0 ? 0 : 1]);
        const int ours = pipes[fd][fd == 0 ? 1 : 0];
        if (fd == 0)
            m_in = ours;
        else if (fd == 1)
            m_out = LineReader(ours);
        else
            m_err = LineReader(ours);
    }
    if (result != 0) {
        m_pid = -1;
        std::fprintf(stderr, "bench: cannot start %s: %s\n", argv[0], std::strerror(result));
        return false;
    }
    return true;
}

void Child::writeLine(const std::string &line)
{
    if (m_in < 0)
        return;
    const std::string bytes = line + '\n';
    const ssize_t written = write(m_in, bytes.data(), bytes.size());
    (void)written;
}

int Child::wait(Clock::time_point deadline, rusage *usage)
{
    if (m_pid <= 0)
        return -1;
    rusage ignored{};
    int status = 0;
    for (;;) {
        const pid_t ended = wait4(m_pid, &status, WNOHANG, usage ? usage : &ignored);
        if (ended == m_pid)
            break;
        if (ended < 0 && errno != EINTR)
            break;
        if (Clock::now() >= deadline) {
            kill(m_pid, SIGKILL);
            wait4(m_pid, &status, 0, usage ? usage : &ignored);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_pid = -1;
    return status;
}

int Child::waitBlocking(rusage *usage)
{
    int status = 0;
    while (m_pid > 0 && wait4(m_pid, &status, 0, usage) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return status;
}

int Child::stop(std::chrono::milliseconds grace, rusage *usage)
{
    if (m_pid <= 0)
        return -1;
    if (m_in >= 0) {
        close(m_in); // servers of ours end at the end of their input
        m_in = -1;
    }
    kill(m_pid, SIGTERM);
    return wait(Clock::now() + grace, usage);
}

std::vector<std::string> environmentWith(const std::vector<std::string> &set, const std::vector<std::string> &unset)
{
    auto nameOf = [](const std::string &entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> result;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        const std::string name = nameOf(text);
        bool replaced = false;
        for (const std::string &other : set)
            replaced = replaced || nameOf(other) == name;
        for (const std::string &other : unset)
            replaced = replaced || other == name;
        if (!replaced)
            result.push_back(text);
    }
    result.insert(result.end(), set.begin(), set.end());
    return result;
}

} // namespace vennacott::bench
