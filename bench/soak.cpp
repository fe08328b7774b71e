// The soak run: a long series of updates through the real updater against the benchmark's update server
// while it drops connections, stalls requests past the client's timeout and restarts once, with the
// process's memory and open descriptors sampled along the way. Prints one table and writes the same
// figures as JSON. `scripts/bench --soak` builds and runs it; see docs/performance.md.
//
// Each update starts as soon as the previous one has ended (its status is in), not on a timer: a timer
// of a few milliseconds on a busy two-core machine lets work queue up faster than it drains, and the
// queue would read as growth. One after another, every sample is taken where the product spends its
// life, between two updates with nothing in flight, and the run takes as long as the updates themselves.
#include "measure.h"
#include "process.h"
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
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/utsname.h>
#include <thread>
#include <unistd.h>

using namespace vennacott;
using namespace vennacott::bench;
using namespace std::chrono_literals;

namespace {

const QString kLink = QStringLiteral("/update/soak/k3y");
// Memory may move by this much after the first tenth of the run.
constexpr long kMemoryToleranceKb = 1024;

struct Sample
{
    int updates = 0;
    double seconds = 0;
    long rssKb = -1;
    long anonKb = -1;
    long hwmKb = -1;
    long threads = -1;
    int fds = -1;
    long replyLines = 0;
};

int openDescriptors()
{
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = readdir(dir))
        count += entry->d_name[0] != '.' ? 1 : 0;
    closedir(dir);
    return count - 1; // the listing's own descriptor
}

// Counts the lines the client writes to its standard output, which a pipe carries to this thread, as it
// would carry them to the journal.
class OutputCounter final
{
public:
    bool start()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        std::fflush(stdout);
        m_savedStdout = dup(STDOUT_FILENO);
        dup2(fds[1], STDOUT_FILENO);
        ::close(fds[1]);
        m_thread = std::thread([this, fd = fds[0]] { count(fd); });
        return true;
    }
    // Gives standard output back and waits until every line written so far has been counted.
    int finish()
    {
        dup2(m_savedStdout, STDOUT_FILENO);
        m_thread.join();
        return m_savedStdout;
    }
    long urls() const { return m_urls; }
    long replies() const { return m_replies; }
    long others() const { return m_others; }

private:
    void count(int fd)
    {
        char buffer[65536];
        bool atLineStart = true;
        for (;;) {
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            for (ssize_t i = 0; i < got; ++i) {
                const char c = buffer[i];
                if (atLineStart) {
                    if (c == 'h')
                        ++m_urls;
                    else if (c >= '0' && c <= '9')
                        ++m_replies;
                    else
                        ++m_others;
                }
                atLineStart = c == '\n';
            }
        }
        ::close(fd);
    }

    int m_savedStdout = -1;
    std::thread m_thread;
    std::atomic<long> m_urls{0};
    std::atomic<long> m_replies{0};
    std::atomic<long> m_others{0};
};

Sample takeSample(int updates, const QElapsedTimer &clock, const OutputCounter &output)
{
    const std::string status = readText(QStringLiteral("/proc/self/status"));
    Sample sample;
    sample.updates = updates;
    sample.seconds = clock.elapsed() / 1000.0;
    sample.rssKb = statusField(status, "VmRSS");
    sample.anonKb = statusField(status, "RssAnon");
    sample.hwmKb = statusField(status, "VmHWM");
    sample.threads = statusField(status, "Threads");
    sample.fds = openDescriptors();
    sample.replyLines = output.replies();
    return sample;
}

QString machine()
{
    utsname system{};
    uname(&system);
    return QStringLiteral("%1 cores, Linux %2; Qt %3, %4")
        .arg(std::thread::hardware_concurrency())
        .arg(QString::fromLatin1(system.release), QString::fromLatin1(qVersion()),
             QSslSocket::sslLibraryVersionString());
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

void print(FILE *out, const QString &text)
{
    std::fputs(text.toUtf8().constData(), out);
    std::fputc('\n', out);
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/vennacott-soak-XXXXXX"));
    for (const char *name : {"config", "data", "state", "runtime"})
        QDir().mkpath(root.path() + "/" + name);
    QFile::setPermissions(root.path() + "/runtime",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.path() + "/data"));
    qputenv("XDG_STATE_HOME", QFile::encodeName(root.path() + "/state"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.path() + "/runtime"));

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
    if (!parser.isSet(certsOption)) {
        std::fputs("soak: --certs is required\n", stderr);
        return 2;
    }
    const QString certDir = parser.value(certsOption);
    const int updates = std::clamp(parser.value(updatesOption).toInt(), 100, 10'000'000);
    const int sampleEvery = updates / 10;
    const auto timeout = std::chrono::milliseconds(std::clamp(parser.value(timeoutOption).toInt(), 50, 60'000));
    const long dropEvery = std::max(0, parser.value(dropOption).toInt());
    const long stallEvery = std::max(0, parser.value(stallOption).toInt());
    const long restartAt = updates / 2;

    UpdateServer server;
    if (!server.start(parser.value(serverOption), certDir)) {
        std::fputs("soak: the update server did not start\n", stderr);
        return 1;
    }
    server.injectFaults(dropEvery, stallEvery, restartAt);

    QFile ca(certDir + "/ca.pem");
    if (!ca.open(QIODevice::ReadOnly)) {
        std::fputs("soak: cannot read ca.pem\n", stderr);
        return 1;
    }
    SessionOptions session;
    session.inactivityTimeout = timeout;
    session.extraCaCertificates = QSslCertificate::fromData(ca.readAll(), QSsl::Pem);
    UrlSession::shared().setOptions(session);
    UserDefaults::standard().setObject(kLink, keys::kDnsLink);

    OutputCounter output;
    if (!output.start()) {
        std::fputs("soak: cannot redirect standard output\n", stderr);
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    std::vector<Sample> samples{takeSample(0, clock, output)};
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
        ++finished;
        if (finished % sampleEvery == 0) {
            samples.push_back(takeSample(finished, clock, output));
            std::fprintf(stderr, "soak: %d updates, %.0f s\n", finished, samples.back().seconds);
        }
        if (finished == updates) {
            app.quit();
            return;
        }
        watchdog.start();
        QMetaObject::invokeMethod(&updater, &Updater::tick, Qt::QueuedConnection);
    });
    watchdog.start();
    updater.tick();
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;

    const ServerStats stats = server.takeStats();
    server.stop();
    const int tableFd = output.finish();
    FILE *table = fdopen(tableFd, "w");
    UrlSession::shared().shutdown();

    // ---- against the targets ----
    long rssMin = LONG_MAX, rssMax = 0, anonMin = LONG_MAX, anonMax = 0;
    int fdMin = INT_MAX, fdMax = 0;
    for (const Sample &sample : samples) {
        if (sample.updates < sampleEvery)
            continue;
        rssMin = std::min(rssMin, sample.rssKb);
        rssMax = std::max(rssMax, sample.rssKb);
        anonMin = std::min(anonMin, sample.anonKb);
        anonMax = std::max(anonMax, sample.anonKb);
        fdMin = std::min(fdMin, sample.fds);
        fdMax = std::max(fdMax, sample.fds);
    }
    const bool complete = !stuck && finished == updates;
    const bool memoryMet = complete && rssMax - rssMin <= kMemoryToleranceKb && anonMax - anonMin <= kMemoryToleranceKb;
    const bool fdsMet = complete && fdMin == fdMax;
    const bool linesMet =
        complete && output.replies() == stats.answered && output.urls() == updates && output.others() == 0;

    print(table,
          QStringLiteral("Vennacott DDNS soak run, %1").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)));
    print(table, QStringLiteral("machine: %1").arg(machine()));
    print(table, QStringLiteral("%1 updates through the updater, each as soon as the previous one ended, in %2 s%3")
                     .arg(finished)
                     .arg(seconds, 0, 'f', 0)
                     .arg(complete ? QString() : QStringLiteral(" (INCOMPLETE: the run stopped moving)")));
    print(table,
          QStringLiteral("server: every %1th request's connection dropped, every %2th request never answered (client "
                         "timeout %3 ms), a restart at request %4")
              .arg(dropEvery)
              .arg(stallEvery)
              .arg(timeout.count())
              .arg(restartAt));
    print(table, QString());
    print(table, QStringLiteral("   updates    VmRSS  RssAnon    VmHWM      fds  threads  replies  elapsed"));
    print(table, QStringLiteral("                 kB       kB       kB                    printed        s"));
    for (const Sample &s : samples)
        print(table, QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                         .arg(s.updates, 10)
                         .arg(s.rssKb, 8)
                         .arg(s.anonKb, 8)
                         .arg(s.hwmKb, 8)
                         .arg(s.fds, 8)
                         .arg(s.threads, 8)
                         .arg(s.replyLines, 8)
                         .arg(s.seconds, 8, 'f', 0));
    print(table, QString());
    print(table, QStringLiteral("memory from %1 updates on: VmRSS %2 to %3 kB (%4 kB), RssAnon %5 to %6 kB (%7 kB); "
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
    print(table, QStringLiteral("open descriptors from %1 updates on: %2 to %3; target constant: %4")
                     .arg(sampleEvery)
                     .arg(fdMin)
                     .arg(fdMax)
                     .arg(verdict(fdsMet)));
    print(table, QStringLiteral("lines printed: %1 URLs, %2 replies, %3 others; the server answered %4 requests in "
                                "full; target a reply line for every answer and a URL for every update: %5")
                     .arg(output.urls())
                     .arg(output.replies())
                     .arg(output.others())
                     .arg(stats.answered)
                     .arg(verdict(linesMet)));
    print(table, QStringLiteral("server: %1 requests, %2 dropped, %3 stalled, %4 restart; %5 connections, %6 full "
                                "TLS handshakes; %7 updates ended without a reply")
                     .arg(stats.requests)
                     .arg(stats.dropped)
                     .arg(stats.stalled)
                     .arg(stats.restarts)
                     .arg(stats.connections)
                     .arg(stats.full)
                     .arg(finished - output.replies()));
    std::fflush(table);

    QJsonArray sampleJson;
    for (const Sample &s : samples)
        sampleJson.append(QJsonObject{{"updates", s.updates},
                                      {"seconds", s.seconds},
                                      {"vm_rss_kb", int(s.rssKb)},
                                      {"rss_anon_kb", int(s.anonKb)},
                                      {"vm_hwm_kb", int(s.hwmKb)},
                                      {"fds", s.fds},
                                      {"threads", int(s.threads)},
                                      {"reply_lines", int(s.replyLines)}});
    const QJsonObject json{
        {"date", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {"machine", machine()},
        {"updates", finished},
        {"complete", complete},
        {"seconds", seconds},
        {"timeout_ms", int(timeout.count())},
        {"faults",
         QJsonObject{{"drop_every", int(dropEvery)}, {"stall_every", int(stallEvery)}, {"restart_at", int(restartAt)}}},
        {"samples", sampleJson},
        {"lines", QJsonObject{{"urls", int(output.urls())},
                              {"replies", int(output.replies())},
                              {"others", int(output.others())}}},
        {"server", QJsonObject{{"requests", int(stats.requests)},
                               {"answered", int(stats.answered)},
                               {"dropped", int(stats.dropped)},
                               {"stalled", int(stats.stalled)},
                               {"restarts", int(stats.restarts)},
                               {"connections", int(stats.connections)},
                               {"full_handshakes", int(stats.full)}}},
        {"targets", QJsonObject{{"memory_within_kb", int(kMemoryToleranceKb)},
                                {"vm_rss_range_kb", int(rssMax - rssMin)},
                                {"rss_anon_range_kb", int(anonMax - anonMin)},
                                {"memory_met", memoryMet},
                                {"fds_met", fdsMet},
                                {"lines_met", linesMet}}}};
    if (parser.isSet(jsonOption)) {
        QFile out(parser.value(jsonOption));
        if (out.open(QIODevice::WriteOnly))
            out.write(QJsonDocument(json).toJson(QJsonDocument::Indented));
        else
            std::fprintf(stderr, "soak: cannot write %s\n", qPrintable(parser.value(jsonOption)));
    }
    return memoryMet && fdsMet && linesMet ? 0 : 1;
}
