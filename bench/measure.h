// What the benchmark's programs share: reading a process's figures from /proc, percentiles, and the
// loopback update server they measure against.
#pragma once

#include "process.h"

#include <QString>

#include <chrono>
#include <string>
#include <vector>

namespace vennacott::bench {

// The value at `p` percent of `values` (nearest rank), or NaN for none.
double percentile(std::vector<double> values, double p);

// A whole small file, such as one under /proc, or the empty text.
std::string readText(const QString &path);

// A "Name:   123 kB" field of a /proc status text, or -1.
long statusField(const std::string &status, const char *name);

// What the update server counted since the last time it was asked.
struct ServerStats
{
    long connections = 0;
    long full = 0;    // full TLS handshakes
    long resumed = 0; // resumed ones
    long requests = 0;
    long idleCloses = 0;
    long answered = 0;
    long dropped = 0;
    long stalled = 0;
    long restarts = 0;
};

// vennacott-bench-server: HTTPS on loopback with plain libssl, told what to do over its standard input.
class UpdateServer final
{
public:
    // Port 0 picks a free one. `traced`: the server writes a line per connection event, read through trace().
    bool start(const QString &program, const QString &certDir, int port = 0, bool traced = false);
    int port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_port); }
    void keepIdleConnections() { m_child.writeLine("keep"); }
    void closeIdleConnectionsAfter(std::chrono::milliseconds idle);
    // Drops the connection of every `dropEvery`th request, never answers every `stallEvery`th, and restarts
    // once at request `restartAt` (0: never).
    void injectFaults(long dropEvery, long stallEvery, long restartAt);
    // The counters since the last call; they start again from zero.
    ServerStats takeStats();
    void stop() { m_child.stop(std::chrono::seconds(2)); }
    // "<seconds>.<microseconds> fd <n> <event>" on the steady clock, the benchmark's own.
    LineReader &trace() { return m_child.err(); }

private:
    Child m_child;
    int m_port = 0;
};

} // namespace vennacott::bench
