// The soak run: a long series of updates through the real updater against the benchmark's update server
// while it drops connections, stalls requests past the client's timeout and restarts once, with the
// process's memory and open descriptors sampled along the way. Prints one table and writes the same
// figures as JSON. `scripts/bench --soak` builds and runs it, and so does the benchmark's soak phase.
//
// Each update starts as soon as the previous one has ended (its status is in), not on a timer: a timer
// of a few milliseconds on a busy two-core machine lets work queue up faster than it drains, and the
// queue would read as growth. One after another, every sample is taken where the product spends its
// life, between two updates with nothing in flight, and the run takes as long as the updates themselves.
#include "clienttrust.h"
#include "console.h"
#include "measure.h"
#include "settingskeys.h"
#include "updater.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>

using namespace vennacott;
using namespace vennacott::bench;
using namespace std::chrono_literals;

namespace {

const QString kLink = QStringLiteral("/update/soak/k3y");
// Memory may move by this much after the first tenth of the run.
constexpr long kMemoryToleranceKb = 1024;

// The lines the client prints, by kind: URLs, replies (they start with the status) and anything else.
std::atomic<long> g_urls{0}, g_replies{0}, g_others{0};

struct Sample
{
    int updates;
    double seconds;
    long rssKb, anonKb, hwmKb, threads;
    int fds;
    long replyLines;
};

Sample takeSample(int updates, const QElapsedTimer &clock)
{
    const std::string status = readText(QStringLiteral("/proc/self/status"));
    return {updates,
            clock.elapsed() / 1000.0,
            statusField(status, "VmRSS"),
            statusField(status, "RssAnon"),
            statusField(status, "VmHWM"),
            statusField(status, "Threads"),
            int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size()) - 1,
            g_replies};
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

void say(const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stdout);
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/vennacott-soak-XXXXXX"));
    for (const char *name : {"config", "data", "state", "runtime"}) {
        QDir().mkpath(root.path() + "/" + name);
        qputenv(QByteArray("XDG_") + QByteArray(name).toUpper() + (name[0] == 'r' ? "_DIR" : "_HOME"),
                QFile::encodeName(root.path() + "/" + name));
    }
    QFile::setPermissions(root.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vennacott DDNS soak run"));
    parser.addHelpOption();
    const QCommandLineOption serverOption("server", "The bench server executable.", "path",
                                          QCoreApplication::applicationDirPath() + "/vennacott-bench-server");
    const QCommandLineOption certsOption("certs", "Folder with server.pem, server.key and ca.pem.", "dir");
    const QCommandLineOption jsonOption("json", "Where to write the figures as JSON.", "path");
    const QCommandLineOption updatesOption("updates", "Updates in the run.", "count", "100000");
    const QCommandLineOption timeoutOption("timeout-ms", "The client's timeout without progress.", "ms", "500");
    const QCommandLineOption dropOption("drop-every", "The server drops the connection of every Nth request.", "n",
                                        "100");
    const QCommandLineOption stallOption("stall-every", "The server never answers every Nth request.", "n", "1000");
    parser.addOptions({serverOption, certsOption, jsonOption, updatesOption, timeoutOption, dropOption, stallOption});
    parser.process(app);
    const QString certDir = parser.value(certsOption);
    const int updates = std::clamp(parser.value(updatesOption).toInt(), 100, 10'000'000);
    const int sampleEvery = updates / 10;
    const auto timeout = std::chrono::milliseconds(std::clamp(parser.value(timeoutOption).toInt(), 50, 60'000));
    const long dropEvery = std::max(0, parser.value(dropOption).toInt());
    const long stallEvery = std::max(0, parser.value(stallOption).toInt());
    const long restartAt = updates / 2;
    if (certDir.isEmpty() || !trustTestCa(certDir, timeout)) {
        std::fputs("soak: --certs must name a folder with ca.pem, server.pem and server.key\n", stderr);
        return 2;
    }
    UpdateServer server;
    if (!server.start(parser.value(serverOption), certDir)) {
        std::fputs("soak: the update server did not start\n", stderr);
        return 1;
    }
    server.injectFaults(dropEvery, stallEvery, restartAt);
    UserDefaults::standard().setObject(kLink, keys::kDnsLink);
    console::setSinkForTesting([](console::Stream, const QByteArray &line) {
        ++(line.startsWith("https://")                           ? g_urls
           : !line.isEmpty() && line[0] >= '0' && line[0] <= '9' ? g_replies
                                                                 : g_others);
    });

    QElapsedTimer clock;
    clock.start();
    std::vector<Sample> samples{takeSample(0, clock)};
    std::fprintf(stderr, "soak: %d updates, a sample every %d\n", updates, sampleEvery);
    Updater updater(server.baseUrl());
    int finished = 0;
    bool stuck = false;
    // A run that stops moving has found a fault of its own: an exchange that never ended.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    watchdog.setInterval(timeout * 20 + 10s);
    QObject::connect(&watchdog, &QTimer::timeout, &app, [&] {
        stuck = true;
        app.quit();
    });
    QObject::connect(&updater, &Updater::statusChanged, &app, [&] {
        if (++finished % sampleEvery == 0) {
            samples.push_back(takeSample(finished, clock));
            std::fprintf(stderr, "soak: %d updates, %.0f s\n", finished, samples.back().seconds);
        }
        if (finished == updates)
            return app.quit();
        watchdog.start();
        QMetaObject::invokeMethod(&updater, &Updater::tick, Qt::QueuedConnection);
    });
    watchdog.start();
    updater.tick();
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;
    const ServerStats stats = server.takeStats();
    server.stop();
    UrlSession::shared().shutdown();
    console::setSinkForTesting({});

    // ---- against the targets ----
    long rssMin = LONG_MAX, rssMax = 0, anonMin = LONG_MAX, anonMax = 0;
    int fdMin = INT_MAX, fdMax = 0;
    QJsonArray sampleJson;
    for (const Sample &s : samples) {
        sampleJson.append(QJsonArray{s.updates, s.seconds, int(s.rssKb), int(s.anonKb), int(s.hwmKb), s.fds,
                                     int(s.threads), int(s.replyLines)});
        if (s.updates < sampleEvery)
            continue;
        rssMin = std::min(rssMin, s.rssKb);
        rssMax = std::max(rssMax, s.rssKb);
        anonMin = std::min(anonMin, s.anonKb);
        anonMax = std::max(anonMax, s.anonKb);
        fdMin = std::min(fdMin, s.fds);
        fdMax = std::max(fdMax, s.fds);
    }
    const bool complete = !stuck && finished == updates;
    const bool memoryMet = complete && rssMax - rssMin <= kMemoryToleranceKb && anonMax - anonMin <= kMemoryToleranceKb;
    const bool fdsMet = complete && fdMin == fdMax;
    const bool linesMet = complete && g_replies == stats.answered && g_urls == updates && g_others == 0;

    say(QStringLiteral("Vennacott DDNS soak run, %1").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)));
    say(QStringLiteral("%1 updates through the updater, each as soon as the previous one ended, in %2 s%3")
            .arg(finished)
            .arg(seconds, 0, 'f', 0)
            .arg(complete ? QString() : QStringLiteral(" (INCOMPLETE: the run stopped moving)")));
    say(QStringLiteral("server: every %1th request's connection dropped, every %2th request never answered (client "
                       "timeout %3 ms), a restart at request %4")
            .arg(dropEvery)
            .arg(stallEvery)
            .arg(timeout.count())
            .arg(restartAt));
    say(QStringLiteral("\n   updates    VmRSS  RssAnon    VmHWM      fds  threads  replies  elapsed"));
    say(QStringLiteral("                 kB       kB       kB                    printed        s"));
    for (const Sample &s : samples)
        say(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                .arg(s.updates, 10)
                .arg(s.rssKb, 8)
                .arg(s.anonKb, 8)
                .arg(s.hwmKb, 8)
                .arg(s.fds, 8)
                .arg(s.threads, 8)
                .arg(s.replyLines, 8)
                .arg(s.seconds, 8, 'f', 0));
    say(QStringLiteral("\nmemory from %1 updates on: VmRSS %2 to %3 kB (%4 kB), RssAnon %5 to %6 kB (%7 kB); "
                       "target within %8 kB: %9")
            .arg(sampleEvery)
            .arg(rssMin)
            .arg(rssMax)
            .arg(rssMax - rssMin)
            .arg(anonMin)
            .arg(anonMax)
            .arg(anonMax - anonMin)
            .arg(kMemoryToleranceKb)
            .arg(verdict(memoryMet)));
    say(QStringLiteral("open descriptors from %1 updates on: %2 to %3; target constant: %4")
            .arg(sampleEvery)
            .arg(fdMin)
            .arg(fdMax)
            .arg(verdict(fdsMet)));
    say(QStringLiteral("lines printed: %1 URLs, %2 replies, %3 others; the server answered %4 requests in full; "
                       "target a reply line for every answer and a URL for every update: %5")
            .arg(g_urls)
            .arg(g_replies)
            .arg(g_others)
            .arg(stats.answered)
            .arg(verdict(linesMet)));
    say(QStringLiteral("server: %1 requests, %2 dropped, %3 stalled, %4 restart; %5 connections, %6 full TLS "
                       "handshakes; %7 updates ended without a reply")
            .arg(stats.requests)
            .arg(stats.dropped)
            .arg(stats.stalled)
            .arg(stats.restarts)
            .arg(stats.connections)
            .arg(stats.full)
            .arg(finished - g_replies));
    std::fflush(stdout);

    const QJsonObject json{
        {"date", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {"updates", finished},
        {"complete", complete},
        {"seconds", seconds},
        {"timeout_ms", int(timeout.count())},
        {"faults", QJsonArray{int(dropEvery), int(stallEvery), int(restartAt)}},
        {"samples_columns", "updates seconds vm_rss_kb rss_anon_kb vm_hwm_kb fds threads reply_lines"},
        {"samples", sampleJson},
        {"lines", QJsonArray{int(g_urls), int(g_replies), int(g_others)}},
        {"server", QJsonObject{{"requests", int(stats.requests)},
                               {"answered", int(stats.answered)},
                               {"dropped", int(stats.dropped)},
                               {"stalled", int(stats.stalled)},
                               {"restarts", int(stats.restarts)},
                               {"connections", int(stats.connections)},
                               {"full_handshakes", int(stats.full)}}},
        {"memory_met", memoryMet},
        {"fds_met", fdsMet},
        {"lines_met", linesMet}};
    if (parser.isSet(jsonOption)) {
        QFile out(parser.value(jsonOption));
        if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(json).toJson()) < 0)
            std::fprintf(stderr, "soak: cannot write %s\n", qPrintable(out.fileName()));
    }
    return memoryMet && fdsMet && linesMet ? 0 : 1;
}
