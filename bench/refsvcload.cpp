// The reference service under load: many clients updating once a second, each on a connection of its own from
// one of several loopback addresses, then a burst of wrong-password sign-ins from one address and connections
// past one address's share and the service's cap, while the updates go on. Starts its own vennacott-refsvc on
// loopback with a temporary data folder and stops it; scripts/bench --refsvc-load runs it (figures: README).
#include "measure.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace vennacott::bench;

namespace {

// A reply that takes longer than this counts as a failed update, as it would for a client with a timeout.
constexpr auto kReplyTimeout = 10s;

// Runs the event loop until `done` holds or `limit` has passed; the update clients keep running meanwhile.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    const Clock::time_point end = Clock::now() + limit;
    QEventLoop loop;
    while (!done() && Clock::now() < end)
        loop.processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

struct Response
{
    int status = 0; // 0: no reply (connection closed, or timed out)
    QByteArray retryAfter;
    QByteArray body;
};

QByteArray request(const QByteArray &method, const QByteArray &path, const QByteArray &body = {})
{
    return method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// One HTTPS connection, kept alive, one request at a time, HTTP/1.1 written by hand so that the client side
// costs little next to the service and the caller's address can be chosen.
class Connection final
{
public:
    using Done = std::function<void(const Response &)>;

    Connection(const QSslConfiguration &tls, quint16 port, const QHostAddress &from = QHostAddress::LocalHost)
    {
        m_socket.setSslConfiguration(tls);
        QObject::connect(&m_socket, &QIODevice::readyRead, &m_context, [this] { read(); });
        QObject::connect(&m_socket, &QAbstractSocket::disconnected, &m_context, [this] { finish({}); });
        QObject::connect(&m_socket, &QAbstractSocket::errorOccurred, &m_context, [this] { finish({}); });
        m_socket.bind(from);
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    }

    bool encrypted() const { return m_socket.isEncrypted(); }
    bool closed() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }
    bool busy() const { return bool(m_done); }

    void send(const QByteArray &bytes, Done done)
    {
        m_done = std::move(done);
        m_buffer.clear();
        m_socket.write(bytes);
    }

    // Sends and waits for the reply.
    Response call(const QByteArray &bytes)
    {
        std::optional<Response> result;
        send(bytes, [&](const Response &response) { result = response; });
        if (!waitUntil([&] { return result.has_value(); }, kReplyTimeout)) {
            // A reply that comes later must not pass for the next request's.
            m_done = nullptr;
            m_socket.abort();
        }
        return result.value_or(Response{});
    }

private:
    void read()
    {
        m_buffer += m_socket.readAll();
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Response response;
        qsizetype length = 0;
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        response.status = lines.first().split(' ').value(1).toInt();
        for (const QByteArray &line : lines) {
            const QByteArray name = line.left(line.indexOf(':')).trimmed().toLower();
            const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
            if (name == "content-length")
                length = value.toLongLong();
            else if (name == "retry-after")
                response.retryAfter = value;
        }
        if (m_buffer.size() < end + 4 + length)
            return;
        response.body = m_buffer.mid(end + 4, length);
        finish(response);
    }

    void finish(const Response &response)
    {
        if (Done done = std::exchange(m_done, nullptr))
            done(response);
    }

    QSslSocket m_socket;
    QByteArray m_buffer;
    Done m_done;
    QObject m_context; // goes first, so that the closing socket calls nothing of a half-destroyed connection
};

// An update: when it was due (seconds since the load began), its latency from then or from its sending if
// that came first, and whether it was answered 200.
struct Sample
{
    double dueS, ms;
    bool ok;
};

std::chrono::milliseconds until(Clock::time_point when)
{
    return std::chrono::ceil<std::chrono::milliseconds>(std::max(when - Clock::now(), Clock::duration::zero()));
}

// A host's updater: one GET of its update link per interval, on its own connection, opened anew if lost.
class UpdateClient final
{
public:
    UpdateClient(const QSslConfiguration &tls, quint16 port, QHostAddress from, QByteArray path,
                 std::vector<Sample> &samples)
        : m_tls(tls)
        , m_port(port)
        , m_from(std::move(from))
        , m_path(std::move(path))
        , m_samples(samples)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_watchdog.setSingleShot(true);
        QObject::connect(&m_watchdog, &QTimer::timeout, [this] { giveUp(); });
        m_connection = std::make_unique<Connection>(m_tls, m_port, m_from);
    }

    bool encrypted() const { return m_connection->encrypted(); }
    int reconnects() const { return m_reconnects; }
    bool idle() const { return !m_connection->busy() && !m_queued; }

    void start(Clock::time_point origin, Clock::time_point first, std::chrono::milliseconds interval)
    {
        m_origin = origin;
        m_next = first;
        m_interval = interval;
        m_timer.start(until(first));
    }
    void stop() { m_timer.stop(); }

private:
    void tick()
    {
        const Clock::time_point due = m_next;
        m_next += m_interval;
        m_timer.start(until(m_next));
        if (m_connection->busy()) {
            // Still waiting for the last reply: this one goes right after it, its latency counted from when it was
            // due. One already waiting that way is skipped, and failed: the client has fallen a second behind.
            if (m_queued)
                record(*m_queued, false);
            m_queued = due;
            return;
        }
        send(due);
    }

    void send(Clock::time_point due)
    {
        if (m_connection->closed())
            reconnect();
        m_watchdog.start(kReplyTimeout);
        m_outstanding = due;
        // A late request (queued behind a slow reply) counts from when it was due.
        const Clock::time_point from = std::min(due, Clock::now());
        m_connection->send(request("GET", m_path), [this, due, from](const Response &response) {
            m_watchdog.stop();
            record(due, response.status == 200, ms(Clock::now() - from));
            if (const std::optional<Clock::time_point> queued = std::exchange(m_queued, std::nullopt))
                QTimer::singleShot(0, &m_timer, [this, when = *queued] { send(when); });
        });
    }

    // No reply in time: the update failed; the connection is dropped and opened anew for the next one.
    void giveUp()
    {
        reconnect();
        record(m_outstanding, false);
        if (const std::optional<Clock::time_point> queued = std::exchange(m_queued, std::nullopt))
            send(*queued);
    }

    void reconnect() { m_connection = std::make_unique<Connection>(m_tls, m_port, m_from), ++m_reconnects; }

    void record(Clock::time_point due, bool ok, double ms = NAN)
    {
        m_samples.push_back({std::chrono::duration<double>(due - m_origin).count(), ms, ok});
    }

    QSslConfiguration m_tls;
    quint16 m_port;
    QHostAddress m_from;
    QByteArray m_path;
    std::vector<Sample> &m_samples;
    std::unique_ptr<Connection> m_connection;
    QTimer m_timer, m_watchdog;
    Clock::time_point m_origin, m_next, m_outstanding;
    std::chrono::milliseconds m_interval{1000};
    std::optional<Clock::time_point> m_queued;
    int m_reconnects = 0;
};

struct Span
{
    QString label;
    double from, to; // seconds since the load began
};

QJsonObject summarize(const std::vector<Sample> &samples, const Span &span)
{
    std::vector<double> ms;
    int failed = 0;
    for (const Sample &sample : samples) {
        if (sample.dueS < span.from || sample.dueS >= span.to)
            continue;
        if (!sample.ok)
            ++failed;
        else
            ms.push_back(sample.ms);
    }
    return {{"label", span.label},
            {"seconds", span.to - span.from},
            {"updates", int(ms.size()) + failed},
            {"failed", failed},
            {"p50_ms", percentile(ms, 50)},
            {"p99_ms", percentile(ms, 99)},
            {"max_ms", ms.empty() ? NAN : *std::max_element(ms.begin(), ms.end())}};
}

// The service's processor time so far, user and system, from /proc.
double cpuMs(qint64 pid)
{
    const QByteArray stat = QByteArray::fromStdString(readText(QStringLiteral("/proc/%1/stat").arg(pid)));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

QByteArray figure(const QJsonValue &value)
{
    return std::isnan(value.toDouble()) ? "-" : QByteArray::number(value.toDouble(), 'f', 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Load on the Vennacott reference service, on loopback"));
    parser.addHelpOption();
    parser.addOptions({
        {"service", "The vennacott-refsvc executable.", "path", QStringLiteral(VENNACOTT_REFSVC_BINARY)},
        {"hosts", "Hosts, each updated by a client of its own.", "count", "200"},
        {"seconds", "How long the updates run before the sign-ins.", "seconds", "60"},
        {"burst-seconds", "How long the wrong-password sign-ins go on once limited.", "seconds", "10"},
        {"json", "Where to write the figures as JSON.", "path"},
    });
    parser.process(app);
    const int hosts = std::clamp(parser.value("hosts").toInt(), 1, 400);
    const int seconds = std::clamp(parser.value("seconds").toInt(), 5, 600);
    const int burstSeconds = std::clamp(parser.value("burst-seconds").toInt(), 1, 60);
    constexpr auto kInterval = 1000ms;
    constexpr int kMaxBurst = 20'000;
    constexpr int kMaxExtraConnections = 2'000;

    int status = 0;
    const auto check = [&](bool ok, const QString &what) {
        if (!ok) {
            std::fprintf(stderr, "refsvc-load: %s\n", qPrintable(what));
            status = 1;
        }
        return ok;
    };

    // The service, with its default limits, on free ports; its log goes to a file, as scripts/run keeps it.
    QTemporaryDir data(QDir::tempPath() + QStringLiteral("/vennacott-refsvc-load-XXXXXX"));
    Program service;
    service.setStandardOutputFile(data.filePath(QStringLiteral("refsvc.log")));
    service.setStandardErrorFile(data.filePath(QStringLiteral("refsvc.err")));
    if (!service.start({parser.value("service"), "--data-dir", data.filePath(QStringLiteral("data")), "--api-port", "0",
                        "--update-port", "0"},
                       environmentWith({}), true, true))
        return 1;
    static const QRegularExpression ready(QStringLiteral("ready: API \\S+:(\\d+), update server \\S+:(\\d+)"));
    QRegularExpressionMatch ports;
    waitUntil(
        [&] {
            QFile log(data.filePath(QStringLiteral("refsvc.log")));
            ports = log.open(QIODevice::ReadOnly) ? ready.match(QString::fromUtf8(log.read(64 * 1024)))
                                                  : QRegularExpressionMatch();
            return ports.hasMatch() || service.state() == QProcess::NotRunning;
        },
        30s);
    if (!check(ports.hasMatch(), QStringLiteral("the service did not start (%1)").arg(service.errorString())))
        return 1;
    const quint16 apiPort = ports.captured(1).toUShort();
    const quint16 updatePort = ports.captured(2).toUShort();
    const auto loopback = [](int n) { return QHostAddress(quint32(0x7f000000 + n)); }; // 127.0.0.<n>, counted apart
    const qint64 pid = service.processId();
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(data.filePath(QStringLiteral("data/ca.pem"))));

    // The hosts and the account, over one connection before the load.
    std::vector<QByteArray> links;
    const QByteArray email = "load@example.org";
    const QByteArray right = R"({"Email": ")" + email + R"(", "Password": "the-right-password"})";
    {
        Connection setup(tls, updatePort);
        for (int i = 0; i < hosts; ++i) {
            const Response reply = setup.call(request("GET", "/new/load" + QByteArray::number(i)));
            links.push_back(QJsonDocument::fromJson(reply.body).object().value("update_link").toString().toLatin1());
            if (!check(reply.status == 200 && !links.back().isEmpty(), QStringLiteral("registering host %1").arg(i)))
                return 1;
        }
        Connection api(tls, apiPort);
        if (!check(api.call(request("POST", "/login", right)).status == 200, QStringLiteral("creating the account")))
            return 1;
    }

    // Every client opens its connection first, from 127.0.0.2 to 127.0.0.9 in turn, so that no address holds
    // more than its share of the service's connections; their updates are spread evenly over each second.
    std::vector<Sample> samples;
    samples.reserve(std::size_t(hosts) * (seconds + burstSeconds + 60));
    std::vector<std::unique_ptr<UpdateClient>> clients;
    for (int i = 0; i < hosts; ++i)
        clients.push_back(std::make_unique<UpdateClient>(tls, updatePort, loopback(2 + i % 8), links[i], samples));
    const auto allClients = [&](bool (UpdateClient::*is)() const) {
        return std::all_of(clients.begin(), clients.end(), [&](const auto &client) { return (*client.*is)(); });
    };
    if (!check(waitUntil([&] { return allClients(&UpdateClient::encrypted); }, 60s),
               QStringLiteral("not every client could connect")))
        return 1;
    const Clock::time_point origin = Clock::now() + 100ms;
    for (int i = 0; i < hosts; ++i)
        clients[i]->start(origin, origin + kInterval * i / hosts, kInterval);
    const auto since = [&] { return std::chrono::duration<double>(Clock::now() - origin).count(); };
    const double cpuStart = cpuMs(pid);
    waitUntil([] { return false; }, std::chrono::seconds(seconds) + 100ms);
    const double cpuUpdates = cpuMs(pid) - cpuStart;
    std::vector<Span> spans{{QStringLiteral("updates only"), 0, since()}};

    // Wrong passwords from 127.0.0.1, one after the other, for one account, while the updates go on.
    const QByteArray wrong = R"({"Email": ")" + email + R"(", "Password": "a-wrong-password"})";
    int refusedBeforeLimit = 0, limited = 0, other = 0, firstLimited = 0;
    double refusedMs = 0, limitedMs = 0, refusedCpu = 0, limitedCpu = 0;
    QByteArray retryAfter;
    {
        Connection guesser(tls, apiPort);
        waitUntil([&] { return guesser.encrypted(); }, 10s);
        const double burstFrom = since();
        double limitFrom = NAN;
        // Until they have been limited for the burst's length, within a bound in case they never are.
        Clock::time_point end = Clock::now() + 120s;
        for (int attempt = 1; attempt <= kMaxBurst && Clock::now() < end; ++attempt) {
            const double cpuBefore = cpuMs(pid);
            const Clock::time_point sent = Clock::now();
            const Response reply = guesser.call(request("POST", "/login", wrong));
            const double took = ms(Clock::now() - sent);
            if (reply.status == 401 && limited == 0) {
                ++refusedBeforeLimit;
                refusedMs += took;
                refusedCpu += cpuMs(pid) - cpuBefore;
            } else if (reply.status == 429) {
                if (limited++ == 0) {
                    end = Clock::now() + std::chrono::seconds(burstSeconds);
                    firstLimited = attempt;
                    retryAfter = reply.retryAfter;
                    limitFrom = since();
                }
                limitedMs += took;
                limitedCpu += cpuMs(pid) - cpuBefore;
            } else {
                ++other;
            }
        }
        limitFrom = std::isnan(limitFrom) ? since() : limitFrom;
        spans.push_back({QStringLiteral("during the refused sign-ins (401)"), burstFrom, limitFrom});
        spans.push_back({QStringLiteral("during the limited sign-ins (429)"), limitFrom, since()});
    }
    check(firstLimited > 0 && other == 0, QStringLiteral("the wrong passwords were never limited to 429"));

    // The right password: from another address it is accepted, from the limited one it is not.
    Response fromOther, fromSame;
    double otherMs = 0;
    {
        Connection elsewhere(tls, apiPort, loopback(2));
        waitUntil([&] { return elsewhere.encrypted(); }, 10s);
        const Clock::time_point sent = Clock::now();
        fromOther = elsewhere.call(request("POST", "/login", right));
        otherMs = ms(Clock::now() - sent);
        Connection same(tls, apiPort);
        fromSame = same.call(request("POST", "/login", right));
    }
    check(fromOther.status == 200, QStringLiteral("the right password from 127.0.0.2 was not accepted"));
    check(fromSame.status == 429, QStringLiteral("the right password from 127.0.0.1 was not limited"));

    // Connections held open, on the API origin, from 127.0.0.1 until the service closes one at once (its share),
    // then from 127.0.0.10 on, 32 from each address, until the service closes one again (the cap).
    waitUntil([] { return false; }, 500ms); // the service sees the closed sign-in connections go
    const double capFrom = since();
    std::vector<std::unique_ptr<Connection>> held;
    int share = 0, refusedAt = 0;
    double shareRefusalMs = NAN, refusalMs = NAN;
    for (int i = 1; i <= kMaxExtraConnections && refusedAt == 0; ++i) {
        const Clock::time_point opened = Clock::now();
        held.push_back(std::make_unique<Connection>(tls, apiPort, loopback(share ? 10 + (i - share - 1) / 32 : 1)));
        Connection &connection = *held.back();
        waitUntil([&] { return connection.encrypted() || connection.closed(); }, 10s);
        if (!connection.encrypted()) {
            held.pop_back();
            (share == 0 ? shareRefusalMs : refusalMs) = ms(Clock::now() - opened);
            (share == 0 ? share : refusedAt) = i;
        }
    }
    // The held connections are still served, and the updates go on for a few seconds at the cap.
    int heldServed = 0;
    for (const auto &connection : held)
        heldServed += connection->call(request("POST", "/logout", "{}")).status == 404 ? 1 : 0;
    waitUntil([] { return false; }, 5s);
    spans.push_back({QStringLiteral("with connections held to the cap"), capFrom, since()});
    const int heldCount = int(held.size());
    held.clear();
    waitUntil([] { return false; }, 500ms);
    Connection afterwards(tls, apiPort);
    const bool servedAfterwards =
        waitUntil([&] { return afterwards.encrypted() || afterwards.closed(); }, 10s) && afterwards.encrypted();
    check(share > 0 && refusedAt > 0, QStringLiteral("no connection was refused for one address's share or the cap"));
    check(heldServed == heldCount && servedAfterwards, QStringLiteral("a connection under the cap was not served"));

    // The end: no new updates, the last replies awaited, the service stopped.
    for (const auto &client : clients)
        client->stop();
    waitUntil([&] { return allClients(&UpdateClient::idle); }, kReplyTimeout + 1s);
    spans.push_back({QStringLiteral("whole run"), 0, since()});
    const long peakKb = statusField(readText(QStringLiteral("/proc/%1/status").arg(pid)), "VmHWM");
    const double cpuTotal = cpuMs(pid) - cpuStart;
    int reconnects = 0;
    for (const auto &client : clients)
        reconnects += client->reconnects();
    clients.clear();
    service.stop();

    // The report.
    QJsonArray rows;
    say("Reference service under load: %d hosts, each updated once a second by a client on a "
        "connection of its own, HTTPS on loopback",
        hosts);
    say("%-44s %8s %7s %8s %8s %8s", "", "updates", "failed", "p50 ms", "p99 ms", "max ms");
    for (const Span &span : spans) {
        const QJsonObject row = summarize(samples, span);
        rows.append(row);
        const QString label = QStringLiteral("%1, %2 s").arg(span.label).arg(span.to - span.from, 0, 'f', 1);
        say("%-44s %8d %7d %8s %8s %8s", qPrintable(label), row["updates"].toInt(), row["failed"].toInt(),
            figure(row["p50_ms"]).constData(), figure(row["p99_ms"]).constData(), figure(row["max_ms"]).constData());
    }
    const int failed = rows.last()["failed"].toInt();
    check(failed == 0, QStringLiteral("%1 updates failed").arg(failed));
    const double updatesOnly = rows.first()["updates"].toDouble();
    say("Service CPU: %.2f ms per update while only updating; %.1f s over the run; peak resident "
        "memory %.1f MB; %d clients had to reconnect",
        cpuUpdates / updatesOnly, cpuTotal / 1000, peakKb / 1024.0, reconnects);
    const QJsonObject signIns{{"refused_401", refusedBeforeLimit},
                              {"first_429_at_attempt", firstLimited},
                              {"limited_429", limited},
                              {"ms_per_401", refusedMs / std::max(refusedBeforeLimit, 1)},
                              {"ms_per_429", limitedMs / std::max(limited, 1)},
                              {"service_cpu_ms_per_401", refusedCpu / std::max(refusedBeforeLimit, 1)},
                              {"service_cpu_ms_per_429", limitedCpu / std::max(limited, 1)},
                              {"right_password_other_address", fromOther.status},
                              {"right_password_same_address", fromSame.status}};
    say("Wrong passwords from 127.0.0.1 for one account, back to back: %d answered 401 (%.1f ms "
        "each, %.1f ms of service CPU each), then limited from attempt %d on: %d answered 429 in %d "
        "s (%.2f ms each, %.3f ms of service CPU each, Retry-After %s s)",
        refusedBeforeLimit, signIns["ms_per_401"].toDouble(), signIns["service_cpu_ms_per_401"].toDouble(),
        firstLimited, limited, burstSeconds, signIns["ms_per_429"].toDouble(),
        signIns["service_cpu_ms_per_429"].toDouble(), retryAfter.constData());
    say("The right password meanwhile: from 127.0.0.2 answered %d in %.0f ms; from 127.0.0.1 answered %d",
        fromOther.status, otherMs, fromSame.status);
    say("Connections: with the %d updating ones open, %d more from 127.0.0.1 were opened and served, the "
        "next one from there closed by the service %.1f ms after it was opened; then %d from other addresses, "
        "the next one closed %.1f ms after it was opened, before TLS; after closing the extra ones a new "
        "connection was %s",
        hosts, share - 1, shareRefusalMs, heldCount - share + 1, refusalMs, servedAfterwards ? "served" : "NOT served");

    if (parser.isSet("json")) {
        QFile json(parser.value("json"));
        const QJsonObject all{{"hosts", hosts},
                              {"updates", rows},
                              {"service_cpu_ms_per_update", cpuUpdates / updatesOnly},
                              {"service_peak_rss_kb", int(peakKb)},
                              {"reconnects", reconnects},
                              {"sign_ins", signIns},
                              {"connections", QJsonObject{{"held_beyond_updaters", heldCount},
                                                          {"share_of_one_address", share - 1},
                                                          {"share_refused_after_ms", shareRefusalMs},
                                                          {"refused_after_ms", refusalMs},
                                                          {"served_after_closing", servedAfterwards}}}};
        if (!json.open(QIODevice::WriteOnly) || json.write(QJsonDocument(all).toJson()) < 0)
            check(false, QStringLiteral("cannot write %1").arg(json.fileName()));
    }
    return status;
}
