// What the benchmark's programs share: reading a process's figures from /proc, percentiles, and the
// loopback update server they measure against.
#include "measure.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vennacott::bench {

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(p / 100.0 * values.size())) - 1;
    return values[std::min(index, values.size() - 1)];
}

std::string readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

long statusField(const std::string &status, const char *name)
{
    const std::string key = std::string("\n") + name + ":";
    const std::size_t at = ("\n" + status).find(key);
    if (at == std::string::npos)
        return -1;
    return std::atol(status.c_str() + at + key.size() - 1);
}

bool UpdateServer::start(const QString &program, const QString &certDir, int port, bool traced)
{
    SpawnOptions options;
    options.argv = {program.toStdString(), (certDir + "/server.pem").toStdString(),
                    (certDir + "/server.key").toStdString(), std::to_string(port)};
    options.environment = environmentWith(traced ? std::vector<std::string>{"VENNACOTT_BENCH_SERVER_TRACE=1"}
                                                 : std::vector<std::string>{});
    options.in = Stream::Pipe;
    options.out = Stream::Pipe;
    options.err = traced ? Stream::Pipe : Stream::Inherit;
    if (!m_child.spawn(options))
        return false;
    const std::optional<std::string> line = m_child.out().readLine(Clock::now() + std::chrono::seconds(10));
    if (!line || line->rfind("port ", 0) != 0)
        return false;
    m_port = std::atoi(line->c_str() + 5);
    return true;
}

void UpdateServer::closeIdleConnectionsAfter(std::chrono::milliseconds idle)
{
    m_child.writeLine("close " + std::to_string(idle.count()));
}

void UpdateServer::injectFaults(long dropEvery, long stallEvery, long restartAt)
{
    m_child.writeLine("faults " + std::to_string(dropEvery) + " " + std::to_string(stallEvery) + " " +
                      std::to_string(restartAt));
}

ServerStats UpdateServer::takeStats()
{
    m_child.writeLine("stats");
    ServerStats s;
    if (const std::optional<std::string> line = m_child.out().readLine(Clock::now() + std::chrono::seconds(10)))
        std::sscanf(line->c_str(),
                    "stats connections %ld full %ld resumed %ld requests %ld idle-closes %ld answered %ld "
                    "dropped %ld stalled %ld restarts %ld",
                    &s.connections, &s.full, &s.resumed, &s.requests, &s.idleCloses, &s.answered, &s.dropped,
                    &s.stalled, &s.restarts);
    return s;
}

} // namespace vennacott::bench
