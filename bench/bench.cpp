// The benchmark: what one address update costs next to curl started once per update, what the idle
// client holds between ticks, how long it takes to show its first screen, and the same for the headless
// updater (vennacott-ddnsctl run). Prints one table and writes the same figures as JSON. scripts/bench builds
// everything and runs it; see docs/performance.md.
#include "appdelegate.h"
#include "console.h"
#include "firstscreenreport.h"
#include "measure.h"
#include "process.h"
#include "settingskeys.h"
#include "transport.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>

// Under valgrind --tool=callgrind the profile covers exactly the measured updates; elsewhere these do nothing.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#endif

using namespace vennacott;
using namespace vennacott::bench;
using namespace std::chrono_literals;

namespace {

const QString kLink = QStringLiteral("/update/bench/k3y");

struct Settings
{
    QString serverPath;
    QString certDir;
    QString clientPath;   // the client built for the loopback update server, for the idle footprint
    QString startupPath;  // the client of the normal build, for start-up
    QString ctlPath;      // vennacott-ddnsctl built for the loopback update server, for the headless figures
    QString trayHostPath; // a StatusNotifier host, for the idle footprint with the tray icon
    QString jsonPath;
    int port = 0;
    int updates = 200;
    int warmup = 5;
    std::chrono::milliseconds interval{50};
    std::chrono::milliseconds idleClose{20};
    int idleSeconds = 60;
    int startupRuns = 10;
    QStringList phases; // updates, curl, idle, startup, headless
};

QString number(double value, int decimals)
{
    return std::isnan(value) ? QStringLiteral("-") : QString::number(value, 'f', decimals);
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double cpuMs(const rusage &usage)
{
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
           usage.ru_stime.tv_usec / 1e3;
}

double userMs(const rusage &usage)
{
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3;
}

// ---- the update server --------------------------------------------------------------------------------

QJsonObject toJson(const ServerStats &stats)
{
    return {{"requests", int(stats.requests)},
            {"connections", int(stats.connections)},
            {"full_handshakes", int(stats.full)},
            {"resumed_handshakes", int(stats.resumed)},
            {"idle_closes", int(stats.idleCloses)}};
}

// ---- threads of a process ---------------------------------------------------------------------------

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
    const QStringList tids = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tids) {
        ThreadSample sample;
        sample.name = readText(base + "/" + tid + "/comm");
        if (!sample.name.empty() && sample.name.back() == '\n')
            sample.name.pop_back();
        sample.cpuNs = std::atof(readText(base + "/" + tid + "/schedstat").c_str());
        const std::string status = readText(base + "/" + tid + "/status");
        sample.switches =
            statusField(status, "voluntary_ctxt_switches") + statusField(status, "nonvoluntary_ctxt_switches");
        threads.emplace(tid.toInt(), sample);
    }
    return threads;
}

// ---- update cost: the client's own updater --------------------------------------------------------------

struct UpdateCost
{
    QString label;
    int updates = 0;
    bool complete = false;
    double cpuMsPerUpdate = NAN;
    double userMsPerUpdate = NAN;
    double medianMs = NAN;
    double p99Ms = NAN;
    ServerStats stats;
    QString threadCpu; // CPU per update of each thread, by name
};

// Sees every line the client prints: the URL at each tick, the reply when it arrives. Writes each one to a
// file, as the client would to its journal, and notes when it came.
class LineClock final
{
public:
    LineClock(int fd, int warmup, int updates, std::function<void()> done)
        : m_fd(fd)
        , m_warmup(warmup)
        , m_updates(updates)
        , m_done(std::move(done))
    {
        m_ticks.reserve(static_cast<std::size_t>(warmup + updates) * 2);
        m_replies.reserve(static_cast<std::size_t>(warmup + updates) * 2);
    }

    // Runs under the console's lock, on the GUI thread for a URL line and the delivery thread for a reply.
    void line(const QByteArray &text)
    {
        const Clock::time_point now = Clock::now();
        const ssize_t written = write(m_fd, text.constData(), static_cast<size_t>(text.size()));
        (void)written;
        if (text.startsWith("https://")) {
            m_ticks.push_back(now);
            return;
        }
        if (text.isEmpty() || text.at(0) < '0' || text.at(0) > '9') {
            ++m_otherLines;
            return;
        }
        m_replies.push_back(now);
        const int count = static_cast<int>(m_replies.size());
        if (count == m_warmup) {
            m_threadsAtStart = sampleThreads(getpid());
            CALLGRIND_ZERO_STATS;
            getrusage(RUSAGE_SELF, &m_start);
        }
        if (count == m_warmup + m_updates) {
            getrusage(RUSAGE_SELF, &m_end);
            CALLGRIND_DUMP_STATS_AT("measured updates");
            m_threadsAtEnd = sampleThreads(getpid());
            m_done();
        }
    }

    std::vector<double> latencies() const
    {
        std::vector<double> result;
        for (std::size_t i = static_cast<std::size_t>(m_warmup);
             i < static_cast<std::size_t>(m_warmup + m_updates) && i < m_replies.size() && i < m_ticks.size(); ++i)
            result.push_back(ms(m_replies[i] - m_ticks[i]));
        return result;
    }
    // Milliseconds of CPU per update for each thread that ran, by name.
    std::map<std::string, double> threadCpuMs() const
    {
        std::map<std::string, double> result;
        for (const auto &[tid, sample] : m_threadsAtEnd) {
            const auto old = m_threadsAtStart.find(tid);
            const double ns = old == m_threadsAtStart.end() ? sample.cpuNs : sample.cpuNs - old->second.cpuNs;
            result[sample.name] += ns / 1e6 / m_updates;
        }
        return result;
    }
    const rusage &start() const { return m_start; }
    const rusage &end() const { return m_end; }
    int otherLines() const { return m_otherLines; }

private:
    int m_fd;
    int m_warmup;
    int m_updates;
    std::function<void()> m_done;
    std::vector<Clock::time_point> m_ticks;
    std::vector<Clock::time_point> m_replies;
    int m_otherLines = 0;
    rusage m_start{};
    rusage m_end{};
    std::map<int, ThreadSample> m_threadsAtStart;
    std::map<int, ThreadSample> m_threadsAtEnd;
};

UpdateCost measureUpdater(const QString &label, const Settings &settings, UpdateServer &server, int outputFd)
{
    UpdateCost cost;
    cost.label = label;
    cost.updates = settings.updates;
    server.takeStats();

    // One request before the first tick, as ten seconds of a real start-up would allow: the first request
    // loads the trusted roots, and ticks that short would otherwise pile up behind it.
    const quint64 before = UrlSession::shared().finishedTaskCount();
    sendGet(server.baseUrl() + kLink, [](const ResponseValue &) {});
    QEventLoop priming;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &priming, [&] {
        if (UrlSession::shared().finishedTaskCount() > before)
            priming.quit();
    });
    poll.start(5);
    QTimer::singleShot(30s, &priming, &QEventLoop::quit);
    priming.exec();
    poll.stop();

    QEventLoop loop;
    bool finished = false;
    AppDelegate delegate(UpdaterOptions{settings.interval, server.baseUrl()});
    LineClock clock(outputFd, settings.warmup, settings.updates, [&] {
        QMetaObject::invokeMethod(
            &loop,
            [&] {
                finished = true;
                loop.quit();
            },
            Qt::QueuedConnection);
    });
    console::setSinkForTesting([&clock](console::Stream, const QByteArray &line) { clock.line(line); });
    delegate.applicationDidFinishLaunching();
    const auto limit = settings.interval * (settings.warmup + settings.updates) * 3 + 30s;
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    loop.exec();
    if (QTimer *timer = delegate.findChild<QTimer *>())
        timer->stop();
    // Lets a request of a tick that came after the last measured one end before the counters are read.
    QEventLoop settle;
    QTimer::singleShot(std::max<std::chrono::milliseconds>(settings.interval, 200ms), &settle, &QEventLoop::quit);
    settle.exec();
    console::setSinkForTesting({});

    cost.complete = finished && clock.otherLines() == 0;
    cost.stats = server.takeStats();
    if (finished) {
        cost.cpuMsPerUpdate = (cpuMs(clock.end()) - cpuMs(clock.start())) / settings.updates;
        cost.userMsPerUpdate = (userMs(clock.end()) - userMs(clock.start())) / settings.updates;
        const std::vector<double> latencies = clock.latencies();
        cost.medianMs = percentile(latencies, 50);
        cost.p99Ms = percentile(latencies, 99);
        for (const auto &[name, cpu] : clock.threadCpuMs()) {
            if (cpu >= 0.0005)
                cost.threadCpu += QStringLiteral("%1%2 %3").arg(cost.threadCpu.isEmpty() ? "" : ", ",
                                                                QString::fromStdString(name), number(cpu, 3));
        }
    }
    return cost;
}

// ---- the floor: Qt's own request, without the client around it -----------------------------------------

enum class BareQt {
    KeptOpen,   // the server keeps the connection open
    ClosedIdle, // the server closes it between requests
    Resuming    // the same, and each request carries the last session ticket on a fresh connection object
};

// The same GET with the same trust, sent by a bare QNetworkAccessManager on this thread at the same
// interval: what Qt itself costs per request, whatever the client does around it. Resuming shows what
// it would take Qt to resume TLS sessions: a cached connection reconnects with the TLS settings it was
// created with, so only a new connection object can offer the ticket.
UpdateCost measureBareQt(const Settings &settings, UpdateServer &server, BareQt mode)
{
    UpdateCost cost;
    cost.label = mode == BareQt::KeptOpen     ? QStringLiteral("bare Qt GET, connection kept open")
                 : mode == BareQt::ClosedIdle ? QStringLiteral("bare Qt GET, server closes idle")
                                              : QStringLiteral("bare Qt GET, closed idle, ticket to new connection");
    cost.updates = settings.updates;
    if (mode == BareQt::KeptOpen)
        server.keepIdleConnections();
    else
        server.closeIdleConnectionsAfter(settings.idleClose);
    server.takeStats();
    QNetworkAccessManager manager;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslConfiguration::systemCaCertificates() +
                          UrlSession::shared().options().extraCaCertificates);
    if (mode == BareQt::Resuming)
        tls.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
    QNetworkRequest request(QUrl(server.baseUrl() + kLink));
    request.setSslConfiguration(tls);
    request.setRawHeader("Accept", "application/json");
    if (mode == BareQt::Resuming)
        request.setAttribute(QNetworkRequest::ConnectionCacheExpiryTimeoutSecondsAttribute, 0);

    std::vector<double> latencies;
    rusage start{};
    rusage end{};
    std::map<int, ThreadSample> threadsAtStart;
    std::map<int, ThreadSample> threadsAtEnd;
    int replies = 0;
    int failures = 0;
    QEventLoop loop;
    QTimer ticks;
    ticks.setInterval(settings.interval);
    QObject::connect(&ticks, &QTimer::timeout, &loop, [&] {
        const Clock::time_point sent = Clock::now();
        QNetworkReply *reply = manager.get(request);
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply, sent] {
            reply->deleteLater();
            if (mode == BareQt::Resuming && !reply->sslConfiguration().sessionTicket().isEmpty()) {
                tls.setSessionTicket(reply->sslConfiguration().sessionTicket());
                request.setSslConfiguration(tls);
            }
            failures += reply->readAll().isEmpty() ? 1 : 0;
            ++replies;
            if (replies > settings.warmup)
                latencies.push_back(ms(Clock::now() - sent));
            if (replies == settings.warmup) {
                threadsAtStart = sampleThreads(getpid());
                getrusage(RUSAGE_SELF, &start);
            } else if (replies == settings.warmup + settings.updates) {
                getrusage(RUSAGE_SELF, &end);
                threadsAtEnd = sampleThreads(getpid());
                ticks.stop();
                loop.quit();
            }
        });
    });
    ticks.start();
    QTimer::singleShot(settings.interval * (settings.warmup + settings.updates) * 3 + 30s, &loop, &QEventLoop::quit);
    loop.exec();
    cost.complete = replies >= settings.warmup + settings.updates && failures == 0;
    cost.stats = server.takeStats();
    server.keepIdleConnections();
    if (cost.complete) {
        cost.cpuMsPerUpdate = (cpuMs(end) - cpuMs(start)) / settings.updates;
        cost.userMsPerUpdate = (userMs(end) - userMs(start)) / settings.updates;
        cost.medianMs = percentile(latencies, 50);
        cost.p99Ms = percentile(latencies, 99);
        for (const auto &[tid, sample] : threadsAtEnd) {
            const auto old = threadsAtStart.find(tid);
            const double cpu = (old == threadsAtStart.end() ? sample.cpuNs : sample.cpuNs - old->second.cpuNs) / 1e6 /
                               settings.updates;
            if (cpu >= 0.0005)
                cost.threadCpu += QStringLiteral("%1%2 %3").arg(cost.threadCpu.isEmpty() ? "" : ", ",
                                                                QString::fromStdString(sample.name), number(cpu, 3));
        }
    }
    return cost;
}

// One HTTP/1.1 exchange after another, written by hand on one QSslSocket on this thread: what the same
// request costs below Qt's network access layer.
UpdateCost measureBareSocket(const Settings &settings, UpdateServer &server)
{
    UpdateCost cost;
    cost.label = QStringLiteral("bare QSslSocket, HTTP/1.1 by hand, kept open");
    cost.updates = settings.updates;
    server.keepIdleConnections();
    server.takeStats();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslConfiguration::systemCaCertificates() +
                          UrlSession::shared().options().extraCaCertificates);
    QSslSocket socket;
    socket.setSslConfiguration(tls);
    const QByteArray request = "GET " + kLink.toUtf8() +
                               " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(server.port()) +
                               "\r\nAccept: application/json\r\n\r\n";

    std::vector<double> latencies;
    rusage start{};
    rusage end{};
    int replies = 0;
    bool broken = false;
    Clock::time_point sent;
    QByteArray received;
    QEventLoop loop;
    QTimer ticks;
    ticks.setInterval(settings.interval);
    QObject::connect(&ticks, &QTimer::timeout, &loop, [&] {
        sent = Clock::now();
        socket.write(request);
    });
    QObject::connect(&socket, &QSslSocket::disconnected, &loop, [&] {
        broken = true;
        loop.quit();
    });
    QObject::connect(&socket, &QSslSocket::readyRead, &loop, [&] {
        received += socket.readAll();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const qsizetype lengthAt = received.indexOf("Content-Length: ");
        const qsizetype length = lengthAt < 0 ? 0 : received.mid(lengthAt + 16, 8).split('\r').front().toLongLong();
        if (received.size() < headEnd + 4 + length)
            return;
        received.remove(0, headEnd + 4 + length);
        ++replies;
        if (replies > settings.warmup)
            latencies.push_back(ms(Clock::now() - sent));
        if (replies == settings.warmup) {
            getrusage(RUSAGE_SELF, &start);
        } else if (replies == settings.warmup + settings.updates) {
            getrusage(RUSAGE_SELF, &end);
            ticks.stop();
            loop.quit();
        }
    });
    QObject::connect(&socket, &QSslSocket::encrypted, &ticks, qOverload<>(&QTimer::start));
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), static_cast<quint16>(server.port()));
    QTimer::singleShot(settings.interval * (settings.warmup + settings.updates) * 3 + 30s, &loop, &QEventLoop::quit);
    loop.exec();
    socket.disconnectFromHost();
    cost.complete = !broken && replies >= settings.warmup + settings.updates;
    cost.stats = server.takeStats();
    if (cost.complete) {
        cost.cpuMsPerUpdate = (cpuMs(end) - cpuMs(start)) / settings.updates;
        cost.userMsPerUpdate = (userMs(end) - userMs(start)) / settings.updates;
        cost.medianMs = percentile(latencies, 50);
        cost.p99Ms = percentile(latencies, 99);
    }
    return cost;
}

// ---- update cost: curl started once per update ----------------------------------------------------------

struct CurlCost
{
    QString label;
    int updates = 0;
    int failures = 0;
    double cpuMsPerUpdate = NAN;
    double userMsPerUpdate = NAN;
    double medianMs = NAN;
    double p99Ms = NAN;
    ServerStats stats;
};

CurlCost measureCurl(const QString &label, const QString &caBundle, const Settings &settings, UpdateServer &server)
{
    CurlCost cost;
    cost.label = label;
    cost.updates = settings.updates;
    server.keepIdleConnections();
    server.takeStats();
    const std::string url = (server.baseUrl() + kLink).toStdString();
    std::vector<double> latencies;
    double cpu = 0;
    double user = 0;
    for (int i = 0; i < settings.updates; ++i) {
        SpawnOptions options;
        options.argv = {"/usr/bin/curl",
                        "--silent",
                        "--show-error",
                        "--max-time",
                        "30",
                        "--cacert",
                        caBundle.toStdString(),
                        "--header",
                        "Accept: application/json",
                        "--output",
                        "/dev/null",
                        url};
        options.environment = environmentWith({});
        options.err = Stream::Null;
        Child curl;
        const Clock::time_point started = Clock::now();
        if (!curl.spawn(options))
            return cost;
        rusage usage{};
        const int status = curl.waitBlocking(&usage);
        latencies.push_back(ms(Clock::now() - started));
        cpu += cpuMs(usage);
        user += userMs(usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++cost.failures;
    }
    cost.cpuMsPerUpdate = cpu / settings.updates;
    cost.userMsPerUpdate = user / settings.updates;
    cost.medianMs = percentile(latencies, 50);
    cost.p99Ms = percentile(latencies, 99);
    cost.stats = server.takeStats();
    return cost;
}

// ---- the idle footprint of the real program ---------------------------------------------------------

struct IdleFootprint
{
    QString label;
    bool ran = false;
    int ticks = 0;
    long rssKb = -1;
    long hwmKb = -1;
    long pssKb = -1;
    long anonKb = -1;
    long threads = -1;
    int gaps = 0;
    double gapSeconds = 0;
    double cpuMsBetweenTicks = NAN;   // per gap
    double wakeupsBetweenTicks = NAN; // per gap, all threads
    QString wakingThreads;            // which threads woke between ticks, and how often in all gaps
    double cpuMsPerTick = NAN;        // whole process, from the second tick to the end
};

IdleFootprint measureIdle(const QString &label, const Settings &settings, const std::vector<std::string> &argv,
                          const std::vector<std::string> &environment)
{
    IdleFootprint result;
    result.label = label;
    SpawnOptions options;
    options.argv = argv;
    options.environment = environment;
    options.out = Stream::Pipe;
    options.err = Stream::Null;
    Child client;
    if (!client.spawn(options))
        return result;
    result.ran = true;
    const Clock::time_point started = Clock::now();
    const Clock::time_point end = started + std::chrono::seconds(settings.idleSeconds);
    constexpr int kGaps = 3;
    constexpr auto kAfterReply = 1000ms;
    constexpr auto kBeforeNextTick = 8500ms;
    constexpr Clock::time_point kNever = Clock::time_point::max();
    Clock::time_point gapStart = kNever;
    Clock::time_point gapEnd = kNever;
    std::map<int, ThreadSample> before;
    double gapCpuNs = 0;
    long gapSwitches = 0;
    std::map<std::string, long> wakers;
    double cpuAtSecondTick = NAN;

    auto totalCpuNs = [](const std::map<int, ThreadSample> &threads) {
        double sum = 0;
        for (const auto &[tid, sample] : threads)
            sum += sample.cpuNs;
        return sum;
    };
    while (Clock::now() < end) {
        const Clock::time_point wakeAt = std::min({end, gapStart, gapEnd});
        const std::optional<std::string> line = client.out().readLine(wakeAt);
        const Clock::time_point now = Clock::now();
        if (line && !line->empty() && line->front() >= '0' && line->front() <= '9') {
            ++result.ticks;
            if (result.ticks == 2)
                cpuAtSecondTick = totalCpuNs(sampleThreads(client.pid()));
            if (result.ticks >= 2 && result.gaps < kGaps && gapStart == kNever && gapEnd == kNever) {
                gapStart = now + kAfterReply;
                gapEnd = now + kBeforeNextTick;
            }
        }
        if (now >= gapStart) {
            before = sampleThreads(client.pid());
            gapStart = kNever;
        }
        if (now >= gapEnd) {
            const std::map<int, ThreadSample> after = sampleThreads(client.pid());
            for (const auto &[tid, sample] : after) {
                const auto old = before.find(tid);
                const long switches = old == before.end() ? 1 : sample.switches - old->second.switches;
                gapCpuNs += old == before.end() ? sample.cpuNs : sample.cpuNs - old->second.cpuNs;
                gapSwitches += switches;
                if (switches > 0)
                    wakers[sample.name] += switches;
            }
            for (const auto &[tid, sample] : before) {
                if (!after.count(tid)) {
                    gapSwitches += 1; // a thread that ended
                    wakers[sample.name + " (ended)"] += 1;
                }
            }
            result.gapSeconds = ms(kBeforeNextTick - kAfterReply) / 1e3;
            ++result.gaps;
            gapEnd = kNever;
        }
    }
    const std::string status = readText(QStringLiteral("/proc/%1/status").arg(client.pid()));
    result.rssKb = statusField(status, "VmRSS");
    result.hwmKb = statusField(status, "VmHWM");
    result.anonKb = statusField(status, "RssAnon");
    result.threads = statusField(status, "Threads");
    result.pssKb = statusField(readText(QStringLiteral("/proc/%1/smaps_rollup").arg(client.pid())), "Pss");
    const double cpuAtEnd = totalCpuNs(sampleThreads(client.pid()));
    if (result.ticks > 2 && !std::isnan(cpuAtSecondTick))
        result.cpuMsPerTick = (cpuAtEnd - cpuAtSecondTick) / 1e6 / (result.ticks - 2);
    if (result.gaps > 0) {
        result.cpuMsBetweenTicks = gapCpuNs / 1e6 / result.gaps;
        result.wakeupsBetweenTicks = static_cast<double>(gapSwitches) / result.gaps;
    }
    for (const auto &[name, count] : wakers)
        result.wakingThreads += QStringLiteral("%1%2 %3")
                                    .arg(result.wakingThreads.isEmpty() ? "" : ", ", QString::fromStdString(name))
                                    .arg(count);
    client.stop(10s);
    return result;
}

// ---- start-up ----------------------------------------------------------------------------------------

struct Startup
{
    QString label;
    int runs = 0;
    int failures = 0;
    double medianMs = NAN;
    double minMs = NAN;
    double maxMs = NAN;
};

Startup measureStartup(const QString &label, const Settings &settings, const std::vector<std::string> &environment)
{
    Startup result;
    result.label = label;
    std::vector<double> times;
    for (int i = 0; i < settings.startupRuns; ++i) {
        SpawnOptions options;
        options.argv = {settings.startupPath.toStdString()};
        options.environment = environment;
        options.err = Stream::Pipe;
        Child client;
        const Clock::time_point started = Clock::now();
        if (!client.spawn(options)) {
            ++result.failures;
            continue;
        }
        bool shown = false;
        while (const std::optional<std::string> line = client.err().readLine(started + 20s)) {
            if (line->find("first screen shown") != std::string::npos) {
                shown = true;
                break;
            }
        }
        const Clock::time_point at = Clock::now();
        client.stop(10s);
        if (shown)
            times.push_back(ms(at - started));
        else
            ++result.failures;
        ++result.runs;
    }
    result.medianMs = percentile(times, 50);
    if (!times.empty()) {
        result.minMs = *std::min_element(times.begin(), times.end());
        result.maxMs = *std::max_element(times.begin(), times.end());
    }
    return result;
}

// ---- the headless updater's start ---------------------------------------------------------------------

struct HeadlessStart
{
    int runs = 0;
    int failures = 0;
    std::vector<double> requestMs;   // process start to the URL line: the request handed to the network
    std::vector<double> connectedMs; // to the server accepting the connection
    std::vector<double> receivedMs;  // to the server reading the request
    std::vector<double> replyMs;     // to the reply line
};

// When the traced server saw `event` after `since`, in ms after it, reading its trace until `deadline`.
std::optional<double> tracedEvent(UpdateServer &server, const std::string &event, Clock::time_point since,
                                  Clock::time_point deadline)
{
    while (const std::optional<std::string> line = server.trace().readLine(deadline)) {
        const std::size_t at = line->rfind(' ' + event);
        if (at == std::string::npos || at + event.size() + 1 != line->size())
            continue;
        const auto when = Clock::time_point(std::chrono::microseconds(std::llround(std::atof(line->c_str()) * 1e6)));
        if (when >= since)
            return ms(when - since);
    }
    return std::nullopt;
}

// `vennacott-ddnsctl run` started afresh each time with a stored link: how soon its first update leaves it,
// reaches the server and is answered.
HeadlessStart measureHeadlessStart(const Settings &settings, const std::vector<std::string> &environment,
                                   UpdateServer &server)
{
    HeadlessStart result;
    for (int i = 0; i < settings.startupRuns; ++i) {
        SpawnOptions options;
        options.argv = {settings.ctlPath.toStdString(), "run"};
        options.environment = environment;
        options.out = Stream::Pipe;
        options.err = Stream::Null;
        Child ctl;
        const Clock::time_point started = Clock::now();
        if (!ctl.spawn(options)) {
            ++result.failures;
            continue;
        }
        std::optional<double> request;
        std::optional<double> reply;
        while (!reply) {
            const std::optional<std::string> line = ctl.out().readLine(started + 20s);
            if (!line)
                break;
            if (line->rfind("https://", 0) == 0 && !request)
                request = ms(Clock::now() - started);
            else if (!line->empty() && line->front() >= '0' && line->front() <= '9')
                reply = ms(Clock::now() - started);
        }
        ctl.stop(10s);
        ++result.runs;
        const std::optional<double> connected = tracedEvent(server, "accepted", started, Clock::now() + 2s);
        const std::optional<double> received = tracedEvent(server, "request", started, Clock::now() + 2s);
        if (request && reply && connected && received) {
            result.requestMs.push_back(*request);
            result.connectedMs.push_back(*connected);
            result.receivedMs.push_back(*received);
            result.replyMs.push_back(*reply);
        } else {
            ++result.failures;
        }
    }
    return result;
}

// ---- the machine -------------------------------------------------------------------------------------

QString loadAverage()
{
    const QList<QByteArray> fields = QByteArray::fromStdString(readText("/proc/loadavg")).split(' ');
    return fields.size() >= 3 ? QString::fromLatin1(fields[0] + " " + fields[1] + " " + fields[2]) : QString();
}

QString cpuModel()
{
    const std::string cpuinfo = readText("/proc/cpuinfo");
    const std::size_t at = cpuinfo.find("model name");
    if (at == std::string::npos)
        return QStringLiteral("unknown");
    const std::size_t colon = cpuinfo.find(':', at);
    const std::size_t end = cpuinfo.find('\n', at);
    return QString::fromStdString(cpuinfo.substr(colon + 2, end - colon - 2));
}

QString firstOutputLine(const std::vector<std::string> &argv)
{
    SpawnOptions options;
    options.argv = argv;
    options.environment = environmentWith({});
    options.out = Stream::Pipe;
    Child child;
    if (!child.spawn(options))
        return {};
    const std::optional<std::string> line = child.out().readLine(Clock::now() + 10s);
    child.wait(Clock::now() + 10s);
    return line ? QString::fromStdString(*line) : QString();
}

// An X server of our own, on a display number it picks itself.
class VirtualDisplay final
{
public:
    bool start()
    {
        if (access("/usr/bin/Xvfb", X_OK) != 0)
            return false;
        SpawnOptions options;
        options.argv = {"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
        options.environment = environmentWith({});
        options.out = Stream::Pipe;
        options.err = Stream::Null;
        if (!m_child.spawn(options))
            return false;
        const std::optional<std::string> line = m_child.out().readLine(Clock::now() + 15s);
        if (!line || line->empty())
            return false;
        m_display = ":" + *line;
        return true;
    }
    std::string display() const { return m_display; }

private:
    Child m_child;
    std::string m_display;
};

// A private session bus with a StatusNotifier watcher and host on it, as a desktop panel provides: the
// client's tray icon registers with it.
class TrayDesktop final
{
public:
    bool start(const QString &hostPath)
    {
        if (hostPath.isEmpty() || access("/usr/bin/dbus-daemon", X_OK) != 0)
            return false;
        SpawnOptions bus;
        bus.argv = {"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"};
        bus.environment = environmentWith({});
        bus.out = Stream::Pipe;
        bus.err = Stream::Null;
        if (!m_bus.spawn(bus))
            return false;
        const std::optional<std::string> address = m_bus.out().readLine(Clock::now() + 15s);
        if (!address || address->empty())
            return false;
        m_address = *address;
        SpawnOptions host;
        host.argv = {hostPath.toStdString()};
        host.environment = environmentWith({"DBUS_SESSION_BUS_ADDRESS=" + m_address});
        host.out = Stream::Pipe;
        if (!m_host.spawn(host))
            return false;
        const std::optional<std::string> ready = m_host.out().readLine(Clock::now() + 15s);
        return ready && *ready == "ready";
    }
    std::string address() const { return m_address; }
    // Whether an item registered with the host by now.
    bool registered()
    {
        while (const std::optional<std::string> line = m_host.out().readLine(Clock::now() + 100ms)) {
            if (line->rfind("registered ", 0) == 0)
                return true;
        }
        return false;
    }

private:
    Child m_bus;
    Child m_host;
    std::string m_address;
};

// ---- output -------------------------------------------------------------------------------------------

QString per100(long count, long requests)
{
    return requests > 0 ? QString::number(100.0 * count / requests, 'f', 1) : QStringLiteral("-");
}

void print(FILE *out, const QString &text)
{
    std::fputs(text.toUtf8().constData(), out);
    std::fputc('\n', out);
}

QString row(const QStringList &cells, const QList<int> &widths)
{
    QString line;
    for (int i = 0; i < cells.size(); ++i)
        line += i == 0 ? cells[i].leftJustified(widths[i]) : cells[i].rightJustified(widths[i]);
    return line;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    // The table goes to the real standard output; the client's own lines go to a file, as to a journal.
    const int tableFd = dup(STDOUT_FILENO);
    FILE *table = fdopen(tableFd, "w");

    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/vennacott-bench-XXXXXX"));
    for (const char *name : {"config", "data", "runtime"})
        QDir().mkpath(root.path() + "/" + name);
    QFile::setPermissions(root.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.path() + "/data"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.path() + "/runtime"));
    qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vennacott DDNS benchmark"));
    parser.addHelpOption();
    const QString here = QCoreApplication::applicationDirPath();
    const QCommandLineOption serverOption("server", "The bench server executable.", "path",
                                          here + "/vennacott-bench-server");
    const QCommandLineOption certsOption("certs", "Folder with server.pem, server.key and ca.pem.", "dir");
    const QCommandLineOption clientOption("idle-client", "vennacott-ddns built for the update server at --port.",
                                          "path");
    const QCommandLineOption startupOption("startup-client", "vennacott-ddns of the normal build.", "path");
    const QCommandLineOption ctlOption("headless-ctl", "vennacott-ddnsctl built for the update server at --port.",
                                       "path");
    const QCommandLineOption trayHostOption(
        "tray-host", "vennacott-test-snihost, for the idle footprint with the tray icon.", "path");
    const QCommandLineOption portOption(
        "port", "Loopback port of the update server: the one --idle-client was built for.", "port", "0");
    const QCommandLineOption jsonOption("json", "Where to write the figures as JSON.", "path");
    const QCommandLineOption updatesOption("updates", "Updates per measurement.", "count", "200");
    const QCommandLineOption idleOption("idle-seconds", "How long the idle client runs.", "seconds", "60");
    const QCommandLineOption runsOption("startup-runs", "Start-up runs.", "count", "10");
    const QCommandLineOption intervalOption("interval-ms", "The updater's interval while measured.", "ms", "50");
    const QCommandLineOption phasesOption("phases",
                                          "What to measure, comma-separated: updates, curl, idle, startup, headless.",
                                          "list", "updates,curl,idle,startup,headless");
    parser.addOptions({serverOption, certsOption, clientOption, startupOption, ctlOption, trayHostOption, portOption,
                       jsonOption, updatesOption, idleOption, runsOption, phasesOption, intervalOption});
    parser.process(app);

    Settings settings;
    settings.serverPath = parser.value(serverOption);
    settings.certDir = parser.value(certsOption);
    settings.clientPath = parser.value(clientOption);
    settings.startupPath = parser.value(startupOption);
    settings.ctlPath = parser.value(ctlOption);
    settings.trayHostPath = parser.value(trayHostOption);
    settings.jsonPath = parser.value(jsonOption);
    settings.port = parser.value(portOption).toInt();
    settings.updates = std::clamp(parser.value(updatesOption).toInt(), 10, 10'000);
    settings.idleSeconds = std::clamp(parser.value(idleOption).toInt(), 25, 3600);
    settings.startupRuns = std::clamp(parser.value(runsOption).toInt(), 1, 100);
    settings.phases = parser.value(phasesOption).split(QLatin1Char(','));
    settings.interval = std::chrono::milliseconds(std::clamp(parser.value(intervalOption).toInt(), 30, 10'000));
    settings.idleClose = settings.interval * 2 / 5;
    if (settings.certDir.isEmpty()) {
        std::fputs("bench: --certs is required\n", stderr);
        return 2;
    }
    const QString loadBefore = loadAverage();

    UpdateServer server;
    if (!server.start(settings.serverPath, settings.certDir, settings.port)) {
        std::fputs("bench: the update server did not start\n", stderr);
        return 1;
    }
    settings.port = server.port();

    // The client trusts the test CA on top of the system roots, as a build with VENNACOTT_EXTRA_CA_FILE does.
    QFile ca(settings.certDir + "/ca.pem");
    if (!ca.open(QIODevice::ReadOnly)) {
        std::fputs("bench: cannot read ca.pem\n", stderr);
        return 1;
    }
    const QByteArray caPem = ca.readAll();
    SessionOptions session;
    session.extraCaCertificates = QSslCertificate::fromData(caPem, QSsl::Pem);
    UrlSession::shared().setOptions(session);
    UserDefaults::standard().setObject(kLink, keys::kDnsLink);

    const QString linesPath = root.path() + "/client-lines.txt";
    const int linesFd =
        ::open(QFile::encodeName(linesPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

    std::vector<UpdateCost> updaters;
    if (settings.phases.contains(QStringLiteral("updates"))) {
        std::fputs("bench: update cost, connection kept open\n", stderr);
        server.keepIdleConnections();
        updaters.push_back(
            measureUpdater(QStringLiteral("vennacott-ddns, connection kept open"), settings, server, linesFd));
        std::fputs("bench: update cost, server closes idle connections\n", stderr);
        server.closeIdleConnectionsAfter(settings.idleClose);
        updaters.push_back(measureUpdater(
            QStringLiteral("vennacott-ddns, server closes idle after %1 ms").arg(settings.idleClose.count()), settings,
            server, linesFd));
        server.keepIdleConnections();
        std::fputs("bench: a bare Qt GET at the same interval\n", stderr);
        for (const BareQt mode : {BareQt::KeptOpen, BareQt::ClosedIdle, BareQt::Resuming})
            updaters.push_back(measureBareQt(settings, server, mode));
        updaters.push_back(measureBareSocket(settings, server));
    }
    ::close(linesFd);

    // curl with the same trust as the client (the system roots and the test CA), and with the test CA alone.
    const QString systemBundle = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
    const QString bothBundle = root.path() + "/system-and-test-ca.pem";
    {
        QFile system(systemBundle);
        QFile both(bothBundle);
        if (system.open(QIODevice::ReadOnly) && both.open(QIODevice::WriteOnly))
            both.write(system.readAll() + "\n" + caPem);
    }
    std::vector<CurlCost> curls;
    if (settings.phases.contains(QStringLiteral("curl")) && access("/usr/bin/curl", X_OK) == 0) {
        std::fputs("bench: curl once per update\n", stderr);
        curls.push_back(
            measureCurl(QStringLiteral("curl per update, system roots + test CA"), bothBundle, settings, server));
        curls.push_back(measureCurl(QStringLiteral("curl per update, test CA only"), settings.certDir + "/ca.pem",
                                    settings, server));
    }

    // The real programs with a stored link: the window on each platform, and the headless updater.
    std::vector<IdleFootprint> idles;
    std::vector<Startup> startups;
    std::optional<HeadlessStart> headlessStart;
    VirtualDisplay xvfb;
    const bool wantIdle = settings.phases.contains(QStringLiteral("idle")) && !settings.clientPath.isEmpty();
    const bool wantStartup = settings.phases.contains(QStringLiteral("startup")) && !settings.startupPath.isEmpty();
    const bool wantHeadless = settings.phases.contains(QStringLiteral("headless")) && !settings.ctlPath.isEmpty();
    const bool haveXvfb = (wantIdle || wantStartup) && xvfb.start();
    // Private folders for a program with the benchmark's link stored.
    const auto setupWithLink = [&root](const QString &name) {
        const QString folder = root.path() + "/" + name;
        QDir().mkpath(folder + "/config/vennacott");
        QDir().mkpath(folder + "/data");
        QFile conf(folder + "/config/vennacott/vennacott-ddns.conf");
        if (conf.open(QIODevice::WriteOnly))
            conf.write(("[General]\ndnsLink=" + kLink + "\n").toUtf8());
        conf.close();
        QFile::setPermissions(conf.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return std::vector<std::string>{"XDG_CONFIG_HOME=" + (folder + "/config").toStdString(),
                                        "XDG_DATA_HOME=" + (folder + "/data").toStdString(),
                                        "XDG_STATE_HOME=" + (folder + "/state").toStdString(),
                                        "XDG_RUNTIME_DIR=" + (root.path() + "/runtime").toStdString()};
    };
    if (wantIdle) {
        const std::vector<std::string> common = setupWithLink(QStringLiteral("idle"));
        std::vector<std::string> offscreen = common;
        offscreen.push_back("QT_QPA_PLATFORM=offscreen");
        // No session bus in these two rows, so no tray icon; the third has one with a tray on it.
        std::fprintf(stderr, "bench: idle footprint, offscreen (%d s)\n", settings.idleSeconds);
        idles.push_back(measureIdle(QStringLiteral("offscreen"), settings, {settings.clientPath.toStdString()},
                                    environmentWith(offscreen, {"DBUS_SESSION_BUS_ADDRESS"})));
        if (haveXvfb) {
            std::vector<std::string> x11 = common;
            x11.push_back("DISPLAY=" + xvfb.display());
            std::fprintf(stderr, "bench: idle footprint, Xvfb (%d s)\n", settings.idleSeconds);
            idles.push_back(
                measureIdle(QStringLiteral("Xvfb"), settings, {settings.clientPath.toStdString()},
                            environmentWith(x11, {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})));
            TrayDesktop tray;
            if (tray.start(settings.trayHostPath)) {
                x11.push_back("DBUS_SESSION_BUS_ADDRESS=" + tray.address());
                std::fprintf(stderr, "bench: idle footprint, Xvfb with the tray icon (%d s)\n", settings.idleSeconds);
                idles.push_back(measureIdle(QStringLiteral("Xvfb, tray"), settings, {settings.clientPath.toStdString()},
                                            environmentWith(x11, {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"})));
                if (!tray.registered())
                    idles.back().label += QStringLiteral(" (no icon!)");
            } else if (!settings.trayHostPath.isEmpty()) {
                std::fputs("bench: no tray for the client (dbus-daemon or the host did not start)\n", stderr);
            }
        }
    }
    if (wantStartup) {
        const QString startRoot = root.path() + "/startup";
        QDir().mkpath(startRoot + "/config");
        QDir().mkpath(startRoot + "/data");
        const std::vector<std::string> common = {"XDG_CONFIG_HOME=" + (startRoot + "/config").toStdString(),
                                                 "XDG_DATA_HOME=" + (startRoot + "/data").toStdString(),
                                                 "XDG_RUNTIME_DIR=" + (root.path() + "/runtime").toStdString(),
                                                 std::string(kFirstScreenReportVariable) + "=1"};
        std::vector<std::string> offscreen = common;
        offscreen.push_back("QT_QPA_PLATFORM=offscreen");
        std::fputs("bench: start-up\n", stderr);
        startups.push_back(measureStartup(QStringLiteral("offscreen"), settings, environmentWith(offscreen)));
        if (haveXvfb) {
            std::vector<std::string> x11 = common;
            x11.push_back("DISPLAY=" + xvfb.display());
            startups.push_back(measureStartup(QStringLiteral("Xvfb"), settings,
                                              environmentWith(x11, {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"})));
        }
    }
    server.stop();
    if (wantHeadless) {
        // No display of any kind: the headless updater must not need one. The server, on the same port,
        // now tells when each connection and request arrives.
        UpdateServer traced;
        const std::vector<std::string> environment = environmentWith(setupWithLink(QStringLiteral("headless")),
                                                                     {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
        if (traced.start(settings.serverPath, settings.certDir, settings.port, true)) {
            std::fprintf(stderr, "bench: headless start, %d runs\n", settings.startupRuns);
            headlessStart = measureHeadlessStart(settings, environment, traced);
            std::fprintf(stderr, "bench: headless idle footprint (%d s)\n", settings.idleSeconds);
            idles.push_back(
                measureIdle(QStringLiteral("ctl run"), settings, {settings.ctlPath.toStdString(), "run"}, environment));
            traced.stop();
        } else {
            std::fputs("bench: the traced update server did not start\n", stderr);
        }
    }
    const QString loadAfter = loadAverage();

    // ---- the table ----
    utsname system{};
    uname(&system);
    const QString curlVersion = firstOutputLine({"/usr/bin/curl", "--version"});
    const QString machine = QStringLiteral("%1, %2 cores, Linux %3; Qt %4, %5")
                                .arg(cpuModel())
                                .arg(std::thread::hardware_concurrency())
                                .arg(QString::fromLatin1(system.release), QString::fromLatin1(qVersion()),
                                     QSslSocket::sslLibraryVersionString());
    print(table,
          QStringLiteral("Vennacott DDNS benchmark, %1").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)));
    print(table, QStringLiteral("machine: %1").arg(machine));
    print(table, QStringLiteral("curl:    %1").arg(curlVersion));
    print(table, QStringLiteral("load average (1, 5, 15 min): %1 before, %2 after").arg(loadBefore, loadAfter));
    print(table, QString());
    QJsonArray ratios;
    if (!updaters.empty() || !curls.empty()) {
        print(table, QStringLiteral("Update cost: %1 updates after %2 warm-up ones, interval %3 ms, HTTPS on loopback")
                         .arg(settings.updates)
                         .arg(settings.warmup)
                         .arg(settings.interval.count()));
        const QList<int> updateWidths = {52, 11, 9, 9, 8, 8, 8, 8};
        print(table, row({"", "CPU/update", "(user)", "median", "p99", "conn", "full", "resumed"}, updateWidths));
        print(table, row({"", "ms", "ms", "ms", "ms", "/100", "/100", "/100"}, updateWidths));
        auto updateRow = [&](const QString &label, double cpu, double user, double median, double p99,
                             const ServerStats &stats) {
            print(table, row({label, number(cpu, 3), number(user, 3), number(median, 2), number(p99, 2),
                              per100(stats.connections, stats.requests), per100(stats.full, stats.requests),
                              per100(stats.resumed, stats.requests)},
                             updateWidths));
        };
        for (const UpdateCost &cost : updaters)
            updateRow(cost.label + (cost.complete ? "" : " (INCOMPLETE)"), cost.cpuMsPerUpdate, cost.userMsPerUpdate,
                      cost.medianMs, cost.p99Ms, cost.stats);
        for (const CurlCost &cost : curls)
            updateRow(cost.label + (cost.failures ? QStringLiteral(" (%1 FAILED)").arg(cost.failures) : QString()),
                      cost.cpuMsPerUpdate, cost.userMsPerUpdate, cost.medianMs, cost.p99Ms, cost.stats);
        for (const CurlCost &cost : curls) {
            const double ratio = updaters.empty() ? NAN : cost.cpuMsPerUpdate / updaters.front().cpuMsPerUpdate;
            print(table, QStringLiteral("%1: %2x the CPU per update of vennacott-ddns, connection kept open")
                             .arg(cost.label, number(ratio, 0)));
            ratios.append(QJsonObject{{"against", cost.label}, {"ratio", ratio}});
        }
        for (const UpdateCost &cost : updaters) {
            if (!cost.threadCpu.isEmpty())
                print(table, QStringLiteral("  CPU ms/update by thread, %1: %2").arg(cost.label, cost.threadCpu));
        }
        print(table,
              QStringLiteral("(conn, full, resumed: TCP connections and full and resumed TLS handshakes the server "
                             "saw per 100 requests, warm-up included)"));
        print(table, QString());
    }
    if (!idles.empty()) {
        print(table, QStringLiteral("Idle footprint: the real programs with a stored link after %1 s, one update every "
                                    "10 s (ctl run: vennacott-ddnsctl run, no display)")
                         .arg(settings.idleSeconds));
        const QList<int> idleWidths = {12, 8, 8, 8, 8, 8, 7, 11, 10, 10};
        print(table,
              row({"", "VmRSS", "VmHWM", "Pss", "RssAnon", "threads", "ticks", "CPU/tick", "CPU/gap", "wakes/gap"},
                  idleWidths));
        print(table, row({"", "MB", "MB", "MB", "MB", "", "", "ms", "ms", ""}, idleWidths));
        for (const IdleFootprint &idle : idles) {
            print(table, row({idle.label, number(idle.rssKb / 1024.0, 1), number(idle.hwmKb / 1024.0, 1),
                              number(idle.pssKb / 1024.0, 1), number(idle.anonKb / 1024.0, 1),
                              QString::number(idle.threads), QString::number(idle.ticks), number(idle.cpuMsPerTick, 2),
                              number(idle.cpuMsBetweenTicks, 3), number(idle.wakeupsBetweenTicks, 1)},
                             idleWidths));
        }
        for (const IdleFootprint &idle : idles) {
            if (!idle.wakingThreads.isEmpty())
                print(table, QStringLiteral("  %1, threads that woke between ticks (all gaps): %2")
                                 .arg(idle.label, idle.wakingThreads));
        }
        print(table, QStringLiteral("(CPU/tick: all threads from the second reply to the end, per tick; gap: %1 s "
                                    "between ticks, from 1 s after a reply to 1.5 s before the next tick, %2 of them; "
                                    "wakes: context switches of all threads)")
                         .arg(idles.front().gapSeconds)
                         .arg(idles.front().gaps));
        print(table, QString());
    }
    if (!startups.empty()) {
        print(table,
              QStringLiteral("Start-up: process start to the first screen drawn, %1 runs").arg(settings.startupRuns));
        const QList<int> startWidths = {12, 10, 10, 10, 10};
        print(table, row({"", "median", "min", "max", "failed"}, startWidths));
        for (const Startup &startup : startups)
            print(table, row({startup.label, number(startup.medianMs, 0) + " ms", number(startup.minMs, 0) + " ms",
                              number(startup.maxMs, 0) + " ms", QString::number(startup.failures)},
                             startWidths));
    }
    if (headlessStart) {
        print(table, QString());
        print(table, QStringLiteral("Headless start: vennacott-ddnsctl run to its first update, %1 runs")
                         .arg(headlessStart->runs));
        const QList<int> widths = {30, 10, 10, 10, 10};
        print(table, row({"", "median", "min", "max", "failed"}, widths));
        const auto startRow = [&](const QString &label, std::vector<double> values) {
            const double low = values.empty() ? NAN : *std::min_element(values.begin(), values.end());
            const double high = values.empty() ? NAN : *std::max_element(values.begin(), values.end());
            print(table, row({label, number(percentile(values, 50), 1) + " ms", number(low, 1) + " ms",
                              number(high, 1) + " ms", QString::number(headlessStart->failures)},
                             widths));
        };
        startRow(QStringLiteral("request handed on (URL line)"), headlessStart->requestMs);
        startRow(QStringLiteral("connection at the server"), headlessStart->connectedMs);
        startRow(QStringLiteral("request at the server"), headlessStart->receivedMs);
        startRow(QStringLiteral("reply printed"), headlessStart->replyMs);
    }
    std::fflush(table);

    // ---- the JSON ----
    QJsonObject json{{"date", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
                     {"machine", machine},
                     {"curl", curlVersion},
                     {"load_before", loadBefore},
                     {"load_after", loadAfter},
                     {"updates", settings.updates},
                     {"warmup", settings.warmup},
                     {"interval_ms", int(settings.interval.count())}};
    QJsonArray updateJson;
    for (const UpdateCost &cost : updaters)
        updateJson.append(QJsonObject{{"label", cost.label},
                                      {"complete", cost.complete},
                                      {"cpu_ms_per_update", cost.cpuMsPerUpdate},
                                      {"user_ms_per_update", cost.userMsPerUpdate},
                                      {"latency_median_ms", cost.medianMs},
                                      {"latency_p99_ms", cost.p99Ms},
                                      {"cpu_ms_per_update_by_thread", cost.threadCpu},
                                      {"server", toJson(cost.stats)}});
    for (const CurlCost &cost : curls)
        updateJson.append(QJsonObject{{"label", cost.label},
                                      {"failures", cost.failures},
                                      {"cpu_ms_per_update", cost.cpuMsPerUpdate},
                                      {"user_ms_per_update", cost.userMsPerUpdate},
                                      {"latency_median_ms", cost.medianMs},
                                      {"latency_p99_ms", cost.p99Ms},
                                      {"server", toJson(cost.stats)}});
    json.insert("update_cost", updateJson);
    json.insert("cpu_ratios", ratios);
    QJsonArray idleJson;
    for (const IdleFootprint &idle : idles)
        idleJson.append(QJsonObject{{"platform", idle.label},
                                    {"seconds", settings.idleSeconds},
                                    {"ticks", idle.ticks},
                                    {"vm_rss_kb", int(idle.rssKb)},
                                    {"vm_hwm_kb", int(idle.hwmKb)},
                                    {"pss_kb", int(idle.pssKb)},
                                    {"rss_anon_kb", int(idle.anonKb)},
                                    {"threads", int(idle.threads)},
                                    {"cpu_ms_per_tick", idle.cpuMsPerTick},
                                    {"gaps", idle.gaps},
                                    {"gap_seconds", idle.gapSeconds},
                                    {"cpu_ms_per_gap", idle.cpuMsBetweenTicks},
                                    {"wakeups_per_gap", idle.wakeupsBetweenTicks},
                                    {"waking_threads", idle.wakingThreads}});
    json.insert("idle", idleJson);
    QJsonArray startJson;
    for (const Startup &startup : startups)
        startJson.append(QJsonObject{{"platform", startup.label},
                                     {"runs", startup.runs},
                                     {"failures", startup.failures},
                                     {"median_ms", startup.medianMs},
                                     {"min_ms", startup.minMs},
                                     {"max_ms", startup.maxMs}});
    json.insert("startup", startJson);
    if (headlessStart) {
        const auto summary = [](std::vector<double> values) {
            return QJsonObject{{"median_ms", percentile(values, 50)},
                               {"min_ms", values.empty() ? NAN : *std::min_element(values.begin(), values.end())},
                               {"max_ms", values.empty() ? NAN : *std::max_element(values.begin(), values.end())}};
        };
        json.insert("headless_start", QJsonObject{{"runs", headlessStart->runs},
                                                  {"failures", headlessStart->failures},
                                                  {"request_handed_on", summary(headlessStart->requestMs)},
                                                  {"connection_at_server", summary(headlessStart->connectedMs)},
                                                  {"request_at_server", summary(headlessStart->receivedMs)},
                                                  {"reply", summary(headlessStart->replyMs)}});
    }
    if (!settings.jsonPath.isEmpty()) {
        QFile out(settings.jsonPath);
        if (out.open(QIODevice::WriteOnly))
            out.write(QJsonDocument(json).toJson(QJsonDocument::Indented));
        else
            std::fprintf(stderr, "bench: cannot write %s\n", qPrintable(settings.jsonPath));
    }
    UrlSession::shared().shutdown();
    const bool ok = std::all_of(updaters.begin(), updaters.end(), [](const UpdateCost &cost) { return cost.complete; });
    return ok ? 0 : 1;
}
