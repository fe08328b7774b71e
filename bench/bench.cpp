// The benchmark: what one address update costs the client next to a hand-written HTTP/1.1 socket and a
// minimal libcurl program, what the idle client holds and spends per tick at the real pace, how long it
// takes to show its first screen, how soon the headless updater's first update reaches the server, and a
// soak run. Prints one table and writes the same figures as JSON. scripts/bench builds everything and runs
// it; see docs/performance.md.
#include "appdelegate.h"
#include "console.h"
#include "core.h"
#include "desktopsession.h"
#include "firstscreenreport.h"
#include "measure.h"
#include "transport.h"
#include "updater.h"
#include "urlsession.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <numeric>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using namespace vennacott;
using namespace vennacott::bench;
using namespace std::chrono_literals;

namespace {

const QString kLink = QStringLiteral("/update/bench/k3y");

// What the benchmark runs and how; the paths are programs and files it needs.
struct BenchSettings
{
    QString certDir, serverPath, curlPath; // the test certificates, the update server, the libcurl floor
    QString clientPath, startupPath;       // the window built for the server at `port`, and the normal build's
    QString ctlPath, trayHostPath;         // the headless updater built for `port`, a StatusNotifier host
    QString bundle;                        // the system roots and the test CA in one file, the client's trust
    int port, updates, warmup;
    std::chrono::milliseconds interval; // between back-to-back updates
    int idleSeconds, startupRuns, soakUpdates;
    std::chrono::milliseconds soakTimeout; // the client's timeout without progress in the soak
    long dropEvery, stallEvery; // the soak server drops the connection of every Nth request, never answers every Nth
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
    // Port 0 picks a free one. `traced`: the server writes a line per connection event, read by traceLine().
    bool start(const QString &program, const QString &certDir, int port = 0, bool traced = false)
    {
        const QStringList trace = traced ? QStringList{"VENNACOTT_BENCH_SERVER_TRACE=1"} : QStringList{};
        if (!m_program.start({program, certDir + "/server.pem", certDir + "/server.key", QString::number(port)},
                             environmentWith(trace), true, traced))
            return false;
        const std::optional<std::string> line = m_program.readLine(Clock::now() + 10s);
        m_port = line && line->rfind("port ", 0) == 0 ? std::atoi(line->c_str() + 5) : 0;
        return m_port > 0;
    }
    int port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_port); }
    // Drops the connection of every `dropEvery`th request, never answers every `stallEvery`th, and restarts
    // once at request `restartAt` (0: never).
    void injectFaults(long dropEvery, long stallEvery, long restartAt)
    {
        m_program.write(QString::asprintf("faults %ld %ld %ld\n", dropEvery, stallEvery, restartAt).toLatin1());
        m_program.waitForBytesWritten(10'000);
    }
    // The counters since the last call; they start again from zero.
    ServerStats takeStats()
    {
        m_program.write("stats\n");
        ServerStats s;
        if (const std::optional<std::string> line = m_program.readLine(Clock::now() + 10s))
            std::sscanf(line->c_str(),
                        "stats connections %ld full %ld resumed %ld requests %ld answered %ld dropped %ld stalled %ld "
                        "restarts %ld",
                        &s.connections, &s.full, &s.resumed, &s.requests, &s.answered, &s.dropped, &s.stalled,
                        &s.restarts);
        return s;
    }
    void stop() { m_program.stop(2s); }
    // The next "<seconds>.<microseconds> fd <n> <event>" line, on the steady clock, the benchmark's own.
    std::optional<std::string> traceLine(Clock::time_point deadline)
    {
        return m_program.readLine(deadline, QProcess::StandardError);
    }

private:
    Program m_program;
    int m_port = 0;
};

// The client's trust: the test CA on top of the system roots, as a build with VENNACOTT_EXTRA_CA_FILE has,
// set on the shared session before the first request.
bool trustTestCa(const QString &certDir, std::chrono::milliseconds timeout = 60s)
{
    SessionOptions session;
    session.inactivityTimeout = timeout;
    QFile ca(certDir + "/ca.pem");
    if (ca.open(QIODevice::ReadOnly))
        session.extraCaPem = ca.readAll();
    UrlSession::shared().setOptions(session);
    return !session.extraCaPem.isEmpty();
}

double cpuMs(const rusage &u, bool userOnly = false)
{
    const double user = u.ru_utime.tv_sec * 1e3 + u.ru_utime.tv_usec / 1e3;
    return userOnly ? user : user + u.ru_stime.tv_sec * 1e3 + u.ru_stime.tv_usec / 1e3;
}

bool isReply(const std::string &line)
{
    return !line.empty() && line.front() >= '0' && line.front() <= '9';
}

struct ThreadSample
{
    std::string name;
    double cpuNs = 0;
    long switches = 0;
};

std::map<int, ThreadSample> sampleThreads(pid_t pid)
{
    std::map<int, ThreadSample> threads;
    const QString base = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ThreadSample sample;
        sample.name = QString::fromStdString(readText(base + "/" + tid + "/comm")).trimmed().toStdString();
        sample.cpuNs = std::atof(readText(base + "/" + tid + "/schedstat").c_str());
        const std::string status = readText(base + "/" + tid + "/status");
        sample.switches =
            statusField(status, "voluntary_ctxt_switches") + statusField(status, "nonvoluntary_ctxt_switches");
        threads.emplace(tid.toInt(), sample);
    }
    return threads;
}

double totalCpuNs(const std::map<int, ThreadSample> &threads)
{
    return std::accumulate(threads.begin(), threads.end(), 0.0,
                           [](double sum, const auto &thread) { return sum + thread.second.cpuNs; });
}

// "name 0.123, ..." of the threads that spent at least 0.5 µs per update between the two samples.
QString cpuByThread(const std::map<int, ThreadSample> &before, const std::map<int, ThreadSample> &after, int updates)
{
    std::map<std::string, double> byName;
    for (const auto &[tid, sample] : after) {
        const auto old = before.find(tid);
        byName[sample.name] += (old == before.end() ? sample.cpuNs : sample.cpuNs - old->second.cpuNs) / 1e6 / updates;
    }
    QString listing;
    for (const auto &[name, cpu] : byName)
        listing +=
            cpu < 0.0005 ? QString() : QString::asprintf("%s%s %.3f", listing.isEmpty() ? "" : ", ", name.c_str(), cpu);
    return listing;
}

// One row of the update table: CPU over the measured updates, latencies, and what the server saw.
QJsonObject costRow(const QString &label, bool complete, const rusage &start, const rusage &end,
                    const std::vector<double> &latencies, const ServerStats &stats, int updates)
{
    const auto per100 = [&](long n) { return stats.requests > 0 ? 100.0 * n / stats.requests : NAN; };
    return {{"label", label + (complete ? "" : " (INCOMPLETE)")},
            {"cpu_ms", complete ? (cpuMs(end) - cpuMs(start)) / updates : NAN},
            {"user_ms", complete ? (cpuMs(end, true) - cpuMs(start, true)) / updates : NAN},
            {"median_ms", percentile(latencies, 50)},
            {"p99_ms", percentile(latencies, 99)},
            {"connections_per_100", per100(stats.connections)},
            {"full_per_100", per100(stats.full)},
            {"resumed_per_100", per100(stats.resumed)}};
}

// The real AppDelegate, its timer at the benchmark's interval, against the benchmark's server. The console sink
// sees every line the client prints (URL, reply) under the console's lock, writes it to a file as the client
// would to its journal, and notes when it came.
QJsonObject measureClient(const BenchSettings &settings, UpdateServer &server, int outputFd)
{
    server.takeStats();
    // One request before the first tick, as ten seconds of a real start-up would allow: the first request
    // loads the trusted roots, and ticks that short would otherwise pile up behind it.
    auto primed = std::make_shared<std::atomic<bool>>(false);
    sendGet(server.baseUrl() + kLink, [primed](const ResponseValue &) { *primed = true; });
    for (const Clock::time_point end = Clock::now() + 30s; !*primed && Clock::now() < end;)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);

    QEventLoop loop;
    bool finished = false;
    std::vector<Clock::time_point> ticks, replies;
    int otherLines = 0;
    rusage start{}, end{};
    std::map<int, ThreadSample> threadsAtStart, threadsAtEnd;
    const auto total = std::size_t(settings.warmup + settings.updates);
    console::setSinkForTesting([&](console::Stream, const QByteArray &text) {
        const Clock::time_point now = Clock::now();
        const ssize_t written = write(outputFd, text.constData(), static_cast<size_t>(text.size()));
        (void)written;
        if (text.startsWith("https://"))
            return ticks.push_back(now);
        if (!isReply(text.toStdString()))
            return void(++otherLines);
        replies.push_back(now);
        if (replies.size() == std::size_t(settings.warmup)) {
            threadsAtStart = sampleThreads(getpid());
            getrusage(RUSAGE_SELF, &start);
        } else if (replies.size() == total) {
            getrusage(RUSAGE_SELF, &end);
            threadsAtEnd = sampleThreads(getpid());
            QMetaObject::invokeMethod(
                &loop, [&] { finished = true, loop.quit(); }, Qt::QueuedConnection);
        }
    });
    Core core(Core::Options{{}, 10ms, settings.interval, server.baseUrl()});
    AppDelegate delegate(core);
    delegate.applicationDidFinishLaunching();
    QTimer::singleShot(settings.interval * total * 3 + 30s, &loop, &QEventLoop::quit);
    loop.exec();
    core.updater().pause();
    // Lets a request of a tick after the last measured one end before the counters are read.
    QEventLoop settle;
    QTimer::singleShot(std::max<std::chrono::milliseconds>(settings.interval, 200ms), &settle, &QEventLoop::quit);
    settle.exec();
    console::setSinkForTesting({});

    std::vector<double> latencies;
    for (std::size_t i = settings.warmup; i < std::min({replies.size(), ticks.size(), total}); ++i)
        latencies.push_back(ms(replies[i] - ticks[i]));
    QJsonObject row = costRow(QStringLiteral("vennacott-ddns (its updater and transport)"), finished && !otherLines,
                              start, end, latencies, server.takeStats(), settings.updates);
    row.insert("cpu_ms_by_thread", cpuByThread(threadsAtStart, threadsAtEnd, settings.updates));
    return row;
}

// The floor below any HTTP library: HTTP/1.1 written by hand on one QSslSocket on this thread, with the
// client's trust, at the same interval.
QJsonObject measureSocket(const BenchSettings &settings, UpdateServer &server)
{
    server.takeStats();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(settings.bundle));
    QSslSocket socket;
    socket.setSslConfiguration(tls);
    const QByteArray request = "GET " + kLink.toUtf8() +
                               " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) +
                               "\r\nAccept: application/json\r\n\r\n";
    std::vector<double> latencies;
    rusage start{}, end{};
    int replies = 0;
    Clock::time_point sent;
    QByteArray received;
    QEventLoop loop;
    QTimer ticks;
    ticks.setInterval(settings.interval);
    QObject::connect(&ticks, &QTimer::timeout, &loop, [&] { sent = Clock::now(), socket.write(request); });
    QObject::connect(&socket, &QSslSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QSslSocket::encrypted, &ticks, qOverload<>(&QTimer::start));
    QObject::connect(&socket, &QSslSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        const qsizetype lengthAt = received.indexOf("Content-Length: ");
        const qsizetype length = lengthAt < 0 ? 0 : received.mid(lengthAt + 16, 8).split('\r').front().toLongLong();
        if (headEnd < 0 || received.size() < headEnd + 4 + length)
            return;
        received.remove(0, headEnd + 4 + length);
        if (++replies > settings.warmup)
            latencies.push_back(ms(Clock::now() - sent));
        if (replies == settings.warmup)
            getrusage(RUSAGE_SELF, &start);
        if (replies == settings.warmup + settings.updates)
            getrusage(RUSAGE_SELF, &end), loop.quit();
    });
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), static_cast<quint16>(server.port()));
    QTimer::singleShot(settings.interval * (settings.warmup + settings.updates) * 3 + 30s, &loop, &QEventLoop::quit);
    loop.exec();
    const bool complete = replies >= settings.warmup + settings.updates;
    socket.disconnectFromHost();
    return costRow(QStringLiteral("hand-written HTTP/1.1 on a QSslSocket"), complete, start, end, latencies,
                   server.takeStats(), settings.updates);
}

// The libcurl floor (curlfloor.c) in a process of its own at the same interval; its own CPU over the
// measured requests, as it reports it.
QJsonObject measureCurl(const BenchSettings &settings, UpdateServer &server, QString *version)
{
    server.takeStats();
    Program curl;
    const int count = settings.warmup + settings.updates;
    std::vector<double> latencies;
    rusage start{}, end{};
    bool complete = false;
    if (curl.start({settings.curlPath, server.baseUrl() + kLink, settings.bundle,
                    QString::number(settings.interval.count()), QString::number(count),
                    QString::number(settings.warmup)},
                   environmentWith({}), true)) {
        const Clock::time_point deadline = Clock::now() + settings.interval * count * 3 + 30s;
        int replies = 0;
        while (const std::optional<std::string> line = curl.readLine(deadline)) {
            if (isReply(*line) && ++replies > settings.warmup)
                latencies.push_back(std::atof(line->c_str() + line->find(' ')));
            double cpu = 0, user = 0;
            char name[256] = "";
            if (std::sscanf(line->c_str(), "cpu %lf user %lf %255s", &cpu, &user, name) == 3) {
                // Whole microseconds, as the rows beside it are read from rusage.
                end.ru_utime.tv_usec = std::lround(user * 1e3);
                end.ru_stime.tv_usec = std::lround((cpu - user) * 1e3);
                *version = QString::fromLatin1(name);
                complete = replies == count;
            }
        }
    }
    return costRow(QStringLiteral("libcurl floor, C, easy interface"), complete, start, end, latencies,
                   server.takeStats(), settings.updates);
}

// The program with a stored link for `idleSeconds`: memory at the end, CPU per tick from the second reply
// on, and what its threads do in three gaps between ticks (1 s after a reply to 1.5 s before the next).
QJsonObject measureIdle(const QString &label, const BenchSettings &settings, const QStringList &argv,
                        const QStringList &environment)
{
    QJsonObject row{{"label", label}};
    std::fprintf(stderr, "bench: idle footprint, %s (%d s)\n", qPrintable(label), settings.idleSeconds);
    Program program;
    if (!program.start(argv, environment, true))
        return row;
    const pid_t pid = static_cast<pid_t>(program.processId());
    const Clock::time_point end = Clock::now() + std::chrono::seconds(settings.idleSeconds);
    double gapCpuNs = 0, cpuAtSecondTick = NAN;
    long gapSwitches = 0;
    int ticks = 0, gaps = 0;
    while (Clock::now() < end) {
        const std::optional<std::string> line = program.readLine(end);
        if (!line || !isReply(*line))
            continue;
        if (++ticks == 2)
            cpuAtSecondTick = totalCpuNs(sampleThreads(pid));
        if (ticks < 2 || gaps == 3)
            continue;
        // A gap: from 1 s after a reply to 1.5 s before the next tick.
        const Clock::time_point reply = Clock::now();
        std::this_thread::sleep_until(reply + 1s);
        const std::map<int, ThreadSample> before = sampleThreads(pid);
        std::this_thread::sleep_until(reply + 8500ms);
        const std::map<int, ThreadSample> after = sampleThreads(pid);
        for (const auto &[tid, sample] : after) {
            const auto old = before.find(tid);
            gapSwitches += old == before.end() ? 1 : sample.switches - old->second.switches;
            gapCpuNs += old == before.end() ? sample.cpuNs : sample.cpuNs - old->second.cpuNs;
        }
        for (const auto &[tid, sample] : before)
            gapSwitches += after.count(tid) ? 0 : 1; // a thread that ended
        ++gaps;
    }
    const std::string status = readText(QStringLiteral("/proc/%1/status").arg(pid));
    const auto mb = [](long kb) { return kb < 0 ? NAN : kb / 1024.0; };
    row.insert("rss_mb", mb(statusField(status, "VmRSS")));
    row.insert("hwm_mb", mb(statusField(status, "VmHWM")));
    row.insert("pss_mb", mb(statusField(readText(QStringLiteral("/proc/%1/smaps_rollup").arg(pid)), "Pss")));
    row.insert("anon_mb", mb(statusField(status, "RssAnon")));
    row.insert("threads", double(statusField(status, "Threads")));
    row.insert("ticks", ticks);
    row.insert("cpu_ms_per_tick",
               ticks > 2 ? (totalCpuNs(sampleThreads(pid)) - cpuAtSecondTick) / 1e6 / (ticks - 2) : NAN);
    row.insert("cpu_ms_per_gap", gaps > 0 ? gapCpuNs / 1e6 / gaps : NAN);
    row.insert("wakeups_per_gap", gaps > 0 ? double(gapSwitches) / gaps : NAN);
    program.stop();
    return row;
}

// When the traced server saw `event` after `since`, in ms after it, reading its trace until `deadline`.
std::optional<double> tracedEvent(UpdateServer &server, const std::string &event, Clock::time_point since,
                                  Clock::time_point deadline)
{
    while (const std::optional<std::string> line = server.traceLine(deadline)) {
        const std::size_t at = line->rfind(' ' + event);
        const auto when = Clock::time_point(std::chrono::microseconds(std::llround(std::atof(line->c_str()) * 1e6)));
        if (at != std::string::npos && at + event.size() + 1 == line->size() && when >= since)
            return ms(when - since);
    }
    return std::nullopt;
}

// `argv` started afresh `startupRuns` times: the ms from just before each start to the first line that starts
// with each of `marks` in turn ("#": a reply line), on standard error for the window's first screen or, with a
// traced `server`, on standard output, where the server's accepting the connection and reading the request
// come between the first mark and the second. One row per label.
QJsonArray measureStarts(const BenchSettings &settings, const QStringList &argv, const QStringList &environment,
                         const QStringList &labels, const std::vector<const char *> &marks,
                         UpdateServer *server = nullptr)
{
    std::vector<std::vector<double>> times(labels.size());
    int failures = 0;
    for (int run = 0; run < settings.startupRuns; ++run) {
        Program program;
        const Clock::time_point started = Clock::now();
        std::vector<double> at;
        if (program.start(argv, environment, server, !server)) {
            while (at.size() < marks.size()) {
                const auto line =
                    program.readLine(started + 20s, server ? QProcess::StandardOutput : QProcess::StandardError);
                if (!line)
                    break;
                if (marks[at.size()][0] == '#' ? isReply(*line) : line->rfind(marks[at.size()], 0) == 0)
                    at.push_back(ms(Clock::now() - started));
            }
        }
        program.stop();
        for (const char *event : {"accepted", "request"}) {
            const std::optional<double> seen =
                server ? tracedEvent(*server, event, started, Clock::now() + 2s) : std::nullopt;
            if (seen && !at.empty())
                at.insert(at.end() - (at.size() > 1 ? 1 : 0), *seen);
        }
        if (at.size() != std::size_t(labels.size())) {
            ++failures;
            continue;
        }
        for (std::size_t i = 0; i < at.size(); ++i)
            times[i].push_back(at[i]);
    }
    QJsonArray rows;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const std::vector<double> &values = times[i];
        rows.append(QJsonObject{{"label", labels[i]},
                                {"median_ms", percentile(values, 50)},
                                {"min_ms", values.empty() ? NAN : *std::min_element(values.begin(), values.end())},
                                {"max_ms", values.empty() ? NAN : *std::max_element(values.begin(), values.end())},
                                {"failed", failures}});
    }
    return rows;
}

// A long series of updates through the real updater against a server of its own that drops connections,
// stalls requests past the client's timeout and restarts once, with this process's memory and open
// descriptors sampled every tenth of the run. Each update starts as soon as the previous one has ended, not
// on a timer: a timer of a few milliseconds on a busy two-core machine lets work queue up faster than it
// drains, and the queue would read as growth. So every sample is taken where the product spends its life,
// between two updates with nothing in flight. Returns its table; its figures go into `results`.
QStringList soak(const BenchSettings &settings, QJsonObject &results)
{
    struct Sample
    {
        int updates;
        double seconds;
        long rssKb, anonKb, hwmKb, threads, fds, replyLines;
    };
    static std::atomic<long> urls{0}, replies{0}, others{0};
    const int updates = settings.soakUpdates, every = updates / 10;
    const long restartAt = updates / 2;
    UpdateServer server;
    if (!trustTestCa(settings.certDir, settings.soakTimeout) || !server.start(settings.serverPath, settings.certDir))
        return {QStringLiteral("soak: the update server did not start")};
    server.injectFaults(settings.dropEvery, settings.stallEvery, restartAt);
    vennacott::Settings(vennacott::Settings::defaultFilePath(), 2s).setHost("soak", "/update/soak/k3y");
    console::setSinkForTesting([](console::Stream stream, const QByteArray &line) { // a stall's notice: stderr
        if (stream == console::Stream::Output)
            ++(line.startsWith("https://") ? urls : isReply(line.toStdString()) ? replies : others);
    });
    QElapsedTimer clock;
    clock.start();
    std::vector<Sample> samples;
    const auto sample = [&](int finished) {
        const std::string status = readText(QStringLiteral("/proc/self/status"));
        samples.push_back(
            {finished, clock.elapsed() / 1000.0, statusField(status, "VmRSS"), statusField(status, "RssAnon"),
             statusField(status, "VmHWM"), statusField(status, "Threads"),
             QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size() - 1,
             replies});
    };
    sample(0);
    Core core(Core::Options{{}, 10ms, kUpdateInterval, server.baseUrl()});
    Updater &updater = core.updater();
    QEventLoop loop;
    int finished = 0;
    // A run that stops moving has found a fault of its own: an exchange that never ended.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.setInterval(settings.soakTimeout * 20 + 10s);
    QObject::connect(&watchdog, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&updater, &Updater::statusChanged, &loop, [&] {
        if (++finished % every == 0) {
            sample(finished);
            std::fprintf(stderr, "bench: soak, %d updates, %.0f s\n", finished, samples.back().seconds);
        }
        if (finished == updates)
            return loop.quit();
        watchdog.start();
        QMetaObject::invokeMethod(&updater, &Updater::tick, Qt::QueuedConnection);
    });
    watchdog.start();
    updater.tick();
    loop.exec();
    const double seconds = clock.elapsed() / 1000.0;
    const ServerStats stats = server.takeStats();
    console::setSinkForTesting({});

    // Memory may move by 1 MB after the first tenth of the run; descriptors not at all.
    long rssMin = LONG_MAX, rssMax = 0, anonMin = LONG_MAX, anonMax = 0, fdMin = LONG_MAX, fdMax = 0;
    QStringList lines = {QStringLiteral("   updates    VmRSS  RssAnon    VmHWM      fds  threads  replies  elapsed"),
                         QStringLiteral("                 kB       kB       kB                    printed        s")};
    QJsonArray sampleJson;
    for (const Sample &s : samples) {
        lines << QString::asprintf("%10d %8ld %8ld %8ld %8ld %8ld %8ld %8.0f", s.updates, s.rssKb, s.anonKb, s.hwmKb,
                                   s.fds, s.threads, s.replyLines, s.seconds);
        sampleJson.append(QJsonArray{s.updates, s.seconds, double(s.rssKb), double(s.anonKb), double(s.hwmKb),
                                     double(s.fds), double(s.threads), double(s.replyLines)});
        if (s.updates < every)
            continue;
        rssMin = std::min(rssMin, s.rssKb), rssMax = std::max(rssMax, s.rssKb);
        anonMin = std::min(anonMin, s.anonKb), anonMax = std::max(anonMax, s.anonKb);
        fdMin = std::min(fdMin, s.fds), fdMax = std::max(fdMax, s.fds);
    }
    const bool complete = finished == updates;
    const bool memoryMet = complete && rssMax - rssMin <= 1024 && anonMax - anonMin <= 1024;
    const bool fdsMet = complete && fdMin == fdMax;
    const bool linesMet = complete && replies == stats.answered && urls == updates && others == 0;
    const auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    lines.prepend(QString::asprintf(
        "Soak: %d updates through the updater, each as soon as the previous one ended, in %.0f s%s\nserver: every "
        "%ldth request's connection dropped, every %ldth request never answered (client timeout %lld ms), a restart "
        "at request %ld\n",
        finished, seconds, complete ? "" : " (INCOMPLETE: the run stopped moving)", settings.dropEvery,
        settings.stallEvery, static_cast<long long>(settings.soakTimeout.count()), restartAt));
    lines << QString()
          << QString::asprintf("memory from %d updates on: VmRSS %ld to %ld kB (%ld kB), RssAnon %ld to %ld kB (%ld "
                               "kB); target within 1024 kB: %s",
                               every, rssMin, rssMax, rssMax - rssMin, anonMin, anonMax, anonMax - anonMin,
                               verdict(memoryMet))
          << QString::asprintf("open descriptors from %d updates on: %ld to %ld; target constant: %s", every, fdMin,
                               fdMax, verdict(fdsMet))
          << QString::asprintf("lines printed: %ld URLs, %ld replies, %ld others; the server answered %ld requests in "
                               "full; target a reply line for every answer and a URL for every update: %s",
                               long(urls), long(replies), long(others), stats.answered, verdict(linesMet))
          << QString::asprintf("server: %ld requests, %ld dropped, %ld stalled, %ld restart; %ld connections, %ld full "
                               "TLS handshakes; %ld updates ended without a reply",
                               stats.requests, stats.dropped, stats.stalled, stats.restarts, stats.connections,
                               stats.full, finished - long(replies));
    results["soak"] =
        QJsonObject{{"samples_columns", "updates seconds vm_rss_kb rss_anon_kb vm_hwm_kb fds threads reply_lines"},
                    {"samples", sampleJson},
                    {"table", QJsonArray::fromStringList(lines)},
                    {"met", memoryMet && fdsMet && linesMet}};
    return lines;
}

struct Column
{
    const char *key, *head, *unit;
    int width, decimals;
};

// The rows' "label" left-aligned in `labelWidth`, then each column's value right-aligned.
void printTable(const QJsonArray &rows, int labelWidth, const std::vector<Column> &columns)
{
    QString head = QString().leftJustified(labelWidth), unit = head;
    for (const Column &column : columns) {
        head += QString::fromLatin1(column.head).rightJustified(column.width);
        unit += QString::fromLatin1(column.unit).rightJustified(column.width);
    }
    say("%s", qPrintable(head));
    if (!unit.trimmed().isEmpty())
        say("%s", qPrintable(unit));
    for (const QJsonValue &row : rows) {
        QString line = row[QLatin1String("label")].toString().leftJustified(labelWidth);
        for (const Column &column : columns) {
            const double value = row[QLatin1String(column.key)].toDouble(NAN);
            line +=
                (std::isnan(value) ? "-" : QString::number(value, 'f', column.decimals)).rightJustified(column.width);
        }
        say("%s", qPrintable(line));
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/vennacott-bench-XXXXXX"));
    // The runtime folder is memory, as a login session's /run/user/UID is: /dev/shm where there is one.
    QTemporaryDir shm(QStringLiteral("/dev/shm/vennacott-bench-XXXXXX"));
    const QString runtime = shm.isValid() ? shm.path() : root.path() + "/runtime";
    for (const QString &folder : {root.path() + "/config", root.path() + "/data", runtime})
        QDir().mkpath(folder);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.path() + "/data"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vennacott DDNS benchmark"));
    parser.addHelpOption();
    const QString here = QCoreApplication::applicationDirPath() + "/";
    parser.addOptions({
        {"certs", "Folder with server.pem, server.key and ca.pem.", "dir"},
        {"server", "The bench server executable.", "path", here + "vennacott-bench-server"},
        {"curl-floor", "The libcurl floor executable.", "path", here + "vennacott-bench-curl"},
        {"idle-client", "vennacott-ddns built for the update server at --port.", "path"},
        {"startup-client", "vennacott-ddns of the normal build.", "path"},
        {"headless-ctl", "vennacott-ddnsctl built for the update server at --port.", "path"},
        {"tray-host", "vennacott-test-snihost, for the idle footprint with the tray icon.", "path"},
        {"port", "Loopback port of the update server: the one --idle-client was built for.", "port", "0"},
        {"json", "Where to write the figures as JSON.", "path"},
        {"updates", "Updates per back-to-back measurement.", "count", "200"},
        {"interval-ms", "The interval of the back-to-back updates.", "ms", "50"},
        {"idle-seconds", "How long the idle programs run.", "seconds", "60"},
        {"startup-runs", "Start-up runs.", "count", "10"},
        {"soak-updates", "Updates in the soak run.", "count", "100000"},
        {"soak-timeout-ms", "The client's timeout without progress in the soak run.", "ms", "500"},
        {"soak-drop-every", "In the soak run the server drops the connection of every Nth request.", "n", "100"},
        {"soak-stall-every", "In the soak run the server never answers every Nth request.", "n", "1000"},
        {"phases", "What to measure, comma-separated: updates, idle, startup, headless, soak.", "list",
         "updates,idle,startup,headless,soak"},
    });
    parser.process(app);
    const auto value = [&](const char *name) { return parser.value(QString::fromLatin1(name)); };
    const auto count = [&](const char *name, int low, int high) { return std::clamp(value(name).toInt(), low, high); };
    BenchSettings settings{value("certs"),
                           value("server"),
                           value("curl-floor"),
                           value("idle-client"),
                           value("startup-client"),
                           value("headless-ctl"),
                           value("tray-host"),
                           root.path() + "/system-and-test-ca.pem",
                           value("port").toInt(),
                           count("updates", 10, 10'000),
                           5,
                           std::chrono::milliseconds(count("interval-ms", 30, 10'000)),
                           count("idle-seconds", 25, 3600),
                           count("startup-runs", 1, 100),
                           count("soak-updates", 100, 10'000'000),
                           std::chrono::milliseconds(count("soak-timeout-ms", 50, 60'000)),
                           count("soak-drop-every", 0, INT_MAX),
                           count("soak-stall-every", 0, INT_MAX)};
    const QStringList phases = value("phases").split(QLatin1Char(','));
    const QString loadBefore = QString::fromStdString(readText("/proc/loadavg")).section(' ', 0, 2);

    // The client's trust: the system roots and the test CA, as a build with VENNACOTT_EXTRA_CA_FILE has.
    // The hand-written socket and the libcurl floor read the same roots from one bundle.
    QFile bundle(settings.bundle);
    if (!trustTestCa(settings.certDir) || !bundle.open(QIODevice::WriteOnly) ||
        bundle.write(QByteArray::fromStdString(readText("/etc/ssl/certs/ca-certificates.crt") + "\n" +
                                               readText(settings.certDir + "/ca.pem"))) < 0) {
        std::fputs("bench: --certs must name a folder with ca.pem, server.pem and server.key\n", stderr);
        return 2;
    }
    bundle.close();
    vennacott::Settings(vennacott::Settings::defaultFilePath(), 2s).setHost("bench", kLink);

    UpdateServer server;
    if (!server.start(settings.serverPath, settings.certDir, settings.port)) {
        std::fputs("bench: the update server did not start\n", stderr);
        return 1;
    }
    settings.port = server.port();

    QJsonObject json{{"date", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                     {"updates", settings.updates},
                     {"warmup", settings.warmup},
                     {"interval_ms", int(settings.interval.count())}};
    QJsonArray updates, idles, startups, headless;
    QString curlVersion;
    if (phases.contains(QStringLiteral("updates"))) {
        QFile lines(root.path() + "/client-lines.txt");
        std::fputs("bench: update cost, back to back: the client\n", stderr);
        updates.append(measureClient(settings, server, lines.open(QIODevice::WriteOnly) ? lines.handle() : -1));
        std::fputs("bench: update cost, back to back: the hand-written socket and the libcurl floor\n", stderr);
        updates.append(measureSocket(settings, server));
        updates.append(measureCurl(settings, server, &curlVersion));
    }

    // The real programs with a stored link: the window on each platform, and the headless updater.
    const bool wantIdle = phases.contains(QStringLiteral("idle")) && !settings.clientPath.isEmpty();
    const bool wantStartup = phases.contains(QStringLiteral("startup")) && !settings.startupPath.isEmpty();
    // Xvfb and a private session bus, the tests' own; DISPLAY, QT_QPA_PLATFORM=xcb and the bus's address are
    // set for the programs started from here on, and left out where a row runs without them.
    test::DesktopSession desktop;
    const bool haveDesktop = (wantIdle || wantStartup) && desktop.startDesktop();
    if ((wantIdle || wantStartup) && !haveDesktop)
        std::fprintf(stderr, "bench: no Xvfb rows:%s\n", qPrintable(desktop.error()));
    // Folders of a program's own, with the benchmark's link stored or empty.
    const auto folders = [&root, &runtime](const QString &name, bool withLink) {
        const QString folder = root.path() + "/" + name;
        QDir().mkpath(folder + "/config/vennacott");
        QFile conf(folder + "/config/vennacott/vennacott-ddns.conf");
        if (withLink && conf.open(QIODevice::WriteOnly))
            conf.write(("[General]\ndnsLink=" + kLink + "\n").toUtf8());
        conf.close();
        QFile::setPermissions(conf.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return QStringList{"XDG_CONFIG_HOME=" + folder + "/config", "XDG_DATA_HOME=" + folder + "/data",
                           "XDG_STATE_HOME=" + folder + "/state", "XDG_RUNTIME_DIR=" + runtime};
    };
    const QStringList noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"};
    if (wantIdle) {
        const QStringList linked = folders(QStringLiteral("idle"), true);
        const QStringList client = {settings.clientPath};
        idles.append(measureIdle(QStringLiteral("offscreen"), settings, client,
                                 environmentWith(linked + QStringList{"QT_QPA_PLATFORM=offscreen"}, noDisplay)));
        if (haveDesktop) {
            idles.append(measureIdle(QStringLiteral("Xvfb"), settings, client,
                                     environmentWith(linked, {"WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})));
            test::SessionProgram *tray =
                settings.trayHostPath.isEmpty() ? nullptr : desktop.start(settings.trayHostPath);
            if (tray && tray->waitForLine(QStringLiteral("ready"))) {
                QJsonObject row = measureIdle(QStringLiteral("Xvfb, tray"), settings, client,
                                              environmentWith(linked, {"WAYLAND_DISPLAY"}));
                if (!tray->waitForLine(QStringLiteral("registered ")))
                    row.insert("label", QStringLiteral("Xvfb, tray (no icon!)"));
                idles.append(row);
            }
        }
    }
    if (wantStartup) {
        const QStringList empty = folders(QStringLiteral("startup"), false) +
                                  QStringList{QString::fromLatin1(kFirstScreenReportVariable) + "=1"};
        std::fputs("bench: start-up\n", stderr);
        const std::vector<const char *> shown = {"vennacott-ddns: first screen shown"};
        startups = measureStarts(settings, {settings.startupPath},
                                 environmentWith(empty + QStringList{"QT_QPA_PLATFORM=offscreen"}, noDisplay),
                                 {QStringLiteral("offscreen")}, shown);
        if (haveDesktop)
            startups += measureStarts(settings, {settings.startupPath},
                                      environmentWith(empty, {"WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}),
                                      {QStringLiteral("Xvfb")}, shown)[0];
    }
    server.stop();
    if (phases.contains(QStringLiteral("headless")) && !settings.ctlPath.isEmpty()) {
        // No display of any kind: the headless updater must not need one. The server, on the same port,
        // now tells when each connection and request arrives.
        UpdateServer traced;
        const QStringList environment = environmentWith(folders(QStringLiteral("headless"), true), noDisplay);
        if (traced.start(settings.serverPath, settings.certDir, settings.port, true)) {
            std::fprintf(stderr, "bench: headless start, %d runs\n", settings.startupRuns);
            headless = measureStarts(
                settings, {settings.ctlPath, "run"}, environment,
                {"request handed on (URL line)", "connection at the server", "request at the server", "reply printed"},
                {"https://", "#"}, &traced);
            idles.append(measureIdle(QStringLiteral("ctl run"), settings, {settings.ctlPath, "run"}, environment));
            idles.append(measureIdle(QStringLiteral("libcurl floor"), settings,
                                     {settings.curlPath, traced.baseUrl() + kLink, settings.bundle, "10000"},
                                     environment));
            traced.stop();
        } else {
            std::fputs("bench: the traced update server did not start\n", stderr);
        }
    }
    QStringList soakLines;
    if (phases.contains(QStringLiteral("soak"))) {
        std::fprintf(stderr, "bench: soak, %d updates\n", settings.soakUpdates);
        soakLines = soak(settings, json);
    }
    const QString loadAfter = QString::fromStdString(readText("/proc/loadavg")).section(' ', 0, 2);

    // The table.
    utsname system{};
    uname(&system);
    const QString machine =
        QString::asprintf("%u cores, Linux %s; Qt %s, %s", std::thread::hardware_concurrency(), system.release,
                          qVersion(), qPrintable(QSslSocket::sslLibraryVersionString())) +
        (curlVersion.isEmpty() ? "" : "; " + curlVersion);
    say("Vennacott DDNS benchmark, %s\nmachine: %s", qPrintable(json["date"].toString()), qPrintable(machine));
    say("load average (1, 5, 15 min): %s before, %s after", qPrintable(loadBefore), qPrintable(loadAfter));
    if (!updates.isEmpty()) {
        say("\nUpdate cost, back to back: %d updates after %d warm-up ones, one every %lld ms, HTTPS on loopback, "
            "connection kept open",
            settings.updates, settings.warmup, static_cast<long long>(settings.interval.count()));
        printTable(updates, 44,
                   {{"cpu_ms", "CPU/update", "ms", 11, 3},
                    {"user_ms", "(user)", "ms", 9, 3},
                    {"median_ms", "median", "ms", 9, 2},
                    {"p99_ms", "p99", "ms", 9, 2},
                    {"connections_per_100", "conn", "/100", 8, 1},
                    {"full_per_100", "full", "/100", 8, 1},
                    {"resumed_per_100", "resumed", "/100", 8, 1}});
        say("  the client's CPU ms/update by thread: %s",
            qPrintable(updates[0].toObject()["cpu_ms_by_thread"].toString()));
        say("(conn, full, resumed: TCP connections and full and resumed TLS handshakes the server saw per 100 "
            "requests, warm-up included)");
    }
    if (!idles.isEmpty()) {
        say("\nIdle footprint: the real programs with a stored link after %d s, one update every 10 s (ctl run: "
            "vennacott-ddnsctl run, no display; libcurl floor: the C program above at the same pace)",
            settings.idleSeconds);
        printTable(idles, 14,
                   {{"rss_mb", "VmRSS", "MB", 8, 1},
                    {"hwm_mb", "VmHWM", "MB", 8, 1},
                    {"pss_mb", "Pss", "MB", 8, 1},
                    {"anon_mb", "RssAnon", "MB", 8, 1},
                    {"threads", "threads", "", 8, 0},
                    {"ticks", "ticks", "", 7, 0},
                    {"cpu_ms_per_tick", "CPU/tick", "ms", 10, 3},
                    {"cpu_ms_per_gap", "CPU/gap", "ms", 10, 3},
                    {"wakeups_per_gap", "wakes/gap", "", 10, 1}});
        say("(CPU/tick: all threads from the second reply to the end, per tick; gap: 7.5 s between ticks, from 1 s "
            "after a reply to 1.5 s before the next, 3 of them; wakes: context switches of all threads)");
    }
    const std::vector<Column> spread = {
        {"median_ms", "median", "ms", 10, 1}, {"min_ms", "min", "ms", 10, 1}, {"max_ms", "max", "ms", 10, 1}};
    if (!startups.isEmpty()) {
        say("\nStart-up: process start to the first screen drawn, %d runs (failed: %d)", settings.startupRuns,
            startups[0].toObject()["failed"].toInt());
        printTable(startups, 14, spread);
    }
    if (!headless.isEmpty()) {
        say("\nHeadless start: vennacott-ddnsctl run to its first update, %d runs (failed: %d)", settings.startupRuns,
            headless[0].toObject()["failed"].toInt());
        printTable(headless, 30, spread);
    }
    if (!soakLines.isEmpty())
        say("\n%s", qPrintable(soakLines.join(QLatin1Char('\n'))));

    // Against the transport's targets.
    const auto figure = [](const QJsonArray &rows, const char *label, const char *key) {
        for (const QJsonValue &row : rows) {
            if (row["label"].toString().startsWith(QLatin1String(label)))
                return row[QLatin1String(key)].toDouble(NAN);
        }
        return double(NAN);
    };
    const double ratio = figure(updates, "vennacott-ddns", "cpu_ms") / figure(updates, "hand-written", "cpu_ms");
    json.insert("client_to_socket_cpu_ratio", ratio);
    const std::vector<std::tuple<const char *, double, const char *>> targets = {
        {"CPU/tick at the 10 s pace, window offscreen", figure(idles, "offscreen", "cpu_ms_per_tick"), "ms, <= 0.35"},
        {"CPU/tick at the 10 s pace, ctl run", figure(idles, "ctl run", "cpu_ms_per_tick"), "ms, <= 0.35"},
        {"CPU/tick at the 10 s pace, libcurl floor", figure(idles, "libcurl floor", "cpu_ms_per_tick"), "ms"},
        {"CPU/update back to back, client / hand-written socket", ratio, "x, <= 1.2"},
        {"CPU/update back to back, libcurl floor", figure(updates, "libcurl", "cpu_ms"), "ms"},
        {"idle VmRSS, ctl run", figure(idles, "ctl run", "rss_mb"), "MB, <= 15"},
        {"idle Pss, ctl run", figure(idles, "ctl run", "pss_mb"), "MB"},
        {"idle VmRSS, a C daemon (libcurl floor)", figure(idles, "libcurl floor", "rss_mb"), "MB"},
        {"idle Pss, a C daemon (libcurl floor)", figure(idles, "libcurl floor", "pss_mb"), "MB"},
        {"first update at the server after ctl run starts, median", figure(headless, "request at", "median_ms"),
         "ms, <= 100"}};
    say("\nAgainst the targets");
    for (const auto &[what, value, unit] : targets)
        say("  %-56s %9.3f %s", what, value, unit);
    for (const QString &line : soakLines) {
        if (line.startsWith(QLatin1String("memory from")) || line.startsWith(QLatin1String("open descriptors")))
            say("  soak: %s", qPrintable(line));
    }
    std::fflush(stdout);

    json.insert("machine", machine);
    json.insert("libcurl", curlVersion);
    json.insert("load_before", loadBefore);
    json.insert("load_after", loadAfter);
    json.insert("update_cost", updates);
    json.insert("idle", idles);
    json.insert("startup", startups);
    json.insert("headless_start", headless);
    if (parser.isSet(QStringLiteral("json"))) {
        QFile out(value("json"));
        if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(json).toJson()) < 0)
            std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(out.fileName()));
    }
    UrlSession::shared().shutdown();
    const bool complete = std::none_of(updates.begin(), updates.end(), [](const QJsonValue &row) {
        return row[QLatin1String("label")].toString().contains(QLatin1String("INCOMPLETE"));
    });
    const bool soakMet = !json.contains(QLatin1String("soak")) || json["soak"].toObject()["met"].toBool();
    return complete && soakMet ? 0 : 1;
}
