// run --metrics: the updater's counters over HTTP.
#include "metricsserver.h"

#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vennacott::ctl {
namespace {

const char *const kContentType = "application/openmetrics-text; version=1.0.0; charset=utf-8";
constexpr unsigned kConnectionTimeoutSeconds = 10;
constexpr unsigned kConnectionLimit = 8;

// A label value as OpenMetrics quotes it: the address comes from the server's reply, so nothing in it may
// end the label or the line.
QByteArray labelValue(const QString &text)
{
    QByteArray value;
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            value.append('\\').append(c);
        else if (c == '\n')
            value.append("\\n");
        else
            value.append(c);
    }
    return value;
}

QByteArray seconds(const QDateTime &time)
{
    return QByteArray::number(double(time.toMSecsSinceEpoch()) / 1000.0, 'f', 3);
}

MHD_Result respond(MHD_Connection *connection, unsigned status, const QByteArray &body, const char *type)
{
    MHD_Response *response = MHD_create_response_from_buffer(size_t(body.size()), const_cast<char *>(body.constData()),
                                                             MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result answer(void *cls, MHD_Connection *connection, const char *url, const char *method, const char *,
                  const char *, size_t *, void **)
{
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0)
        return respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET\n", "text/plain");
    if (std::strcmp(url, "/metrics") != 0)
        return respond(connection, MHD_HTTP_NOT_FOUND, "only /metrics\n", "text/plain");
    return respond(connection, MHD_HTTP_OK, static_cast<MetricsServer *>(cls)->text(), kContentType);
}

// The socket address `where` ("[ADDRESS:]PORT") names, and its length; 0 when it names none.
socklen_t socketAddress(const QString &where, sockaddr_storage *storage)
{
    const qsizetype colon = where.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QStringLiteral("127.0.0.1") : where.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint number = where.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535)
        return 0;
    const QByteArray name = host.toLatin1();
    *storage = {};
    auto *in = reinterpret_cast<sockaddr_in *>(storage);
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(storage);
    if (::inet_pton(AF_INET, name.constData(), &in->sin_addr) == 1) {
        in->sin_family = AF_INET;
        in->sin_port = htons(quint16(number));
        return sizeof *in;
    }
    if (::inet_pton(AF_INET6, name.constData(), &in6->sin6_addr) == 1) {
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(quint16(number));
        return sizeof *in6;
    }
    return 0;
}

// A listening socket on `where`, or -1 with the reason.
int listeningSocket(const QString &where, quint16 *port, QString *error)
{
    sockaddr_storage storage = {};
    socklen_t length = socketAddress(where, &storage);
    if (length == 0) {
        *error = QStringLiteral("'%1' is no [ADDRESS:]PORT").arg(where);
        return -1;
    }
    auto *in = reinterpret_cast<sockaddr_in *>(&storage);
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    if (fd >= 0)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&storage), length) != 0 || ::listen(fd, 16) != 0) {
        *error = QStringLiteral("cannot listen on %1: %2").arg(where, QString::fromLocal8Bit(std::strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&storage), &length);
    *port = ntohs(storage.ss_family == AF_INET6 ? in6->sin6_port : in->sin_port);
    return fd;
}

} // namespace

bool MetricsServer::isAddress(const QString &where)
{
    sockaddr_storage storage = {};
    return socketAddress(where, &storage) != 0;
}

MetricsServer::MetricsServer(Updater &updater, QObject *parent)
    : QObject(parent)
    , m_updater(updater)
{
    const UpdaterStatus status = m_updater.status();
    if (status.last)
        m_counted = status.last->time; // a previous process's update: not counted here
    connect(&m_updater, &Updater::statusChanged, this, &MetricsServer::count);
}

MetricsServer::~MetricsServer()
{
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
}

bool MetricsServer::listen(const QString &where, QString *error)
{
    const int fd = listeningSocket(where, &m_port, error);
    if (fd < 0)
        return false;
    // No thread of its own: epoll's one descriptor tells this thread's event loop when there is work, and
    // MHD's timeout (only while a connection is open) arms one timer. Idle, nothing wakes.
    m_daemon = MHD_start_daemon(MHD_USE_EPOLL, 0, nullptr, nullptr, &answer, this, MHD_OPTION_LISTEN_SOCKET, fd,
                                MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_CONNECTION_LIMIT,
                                kConnectionLimit, MHD_OPTION_END);
    const MHD_DaemonInfo *info = m_daemon ? MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD) : nullptr;
    if (!info) {
        *error = QStringLiteral("cannot serve metrics on %1").arg(where);
        if (m_daemon)
            MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
        ::close(fd);
        return false;
    }
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &MetricsServer::serve);
    m_notifier = new QSocketNotifier(info->epoll_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MetricsServer::serve);
    return true;
}

void MetricsServer::serve()
{
    MHD_run(m_daemon);
    MHD_UNSIGNED_LONG_LONG timeout = 0;
    if (MHD_get_timeout(m_daemon, &timeout) == MHD_YES)
        m_timer->start(std::chrono::milliseconds(timeout));
    else
        m_timer->stop();
}

void MetricsServer::count()
{
    const UpdaterStatus status = m_updater.status();
    if (!status.last || status.last->time == m_counted)
        return;
    m_counted = status.last->time;
    ++m_updates.at(std::size_t(status.last->result));
}

QByteArray MetricsServer::text()
{
    // The samples sum up both address families: their family label is "any".
    const UpdaterStatus status = m_updater.status();
    QByteArray out;
    out += "# TYPE vennacott_ddns_updates counter\n"
           "# HELP vennacott_ddns_updates Updates sent by this process, by result.\n";
    for (const UpdateResult result : {UpdateResult::Updated, UpdateResult::Refused, UpdateResult::NoAnswer}) {
        out += "vennacott_ddns_updates_total{family=\"any\",result=\"" + resultName(result).toUtf8() + "\"} " +
               QByteArray::number(m_updates.at(std::size_t(result))) + '\n';
    }
    out += "# TYPE vennacott_ddns_last_success_timestamp_seconds gauge\n"
           "# UNIT vennacott_ddns_last_success_timestamp_seconds seconds\n"
           "# HELP vennacott_ddns_last_success_timestamp_seconds When the last update went through.\n";
    if (status.last && status.last->result == UpdateResult::Updated)
        out += "vennacott_ddns_last_success_timestamp_seconds{family=\"any\"} " + seconds(status.last->time) + '\n';
    out += "# TYPE vennacott_ddns_failures_in_a_row gauge\n"
           "# HELP vennacott_ddns_failures_in_a_row Updates in a row that failed.\n"
           "vennacott_ddns_failures_in_a_row{family=\"any\"} " +
           QByteArray::number(status.failuresInARow) + '\n';
    out += "# TYPE vennacott_ddns_address info\n"
           "# HELP vennacott_ddns_address The address the service last reported.\n";
    if (!status.knownAddress.isEmpty())
        out += "vennacott_ddns_address_info{family=\"any\",address=\"" + labelValue(status.knownAddress) + "\"} 1\n";
    out += "# TYPE process_start_time_seconds gauge\n"
           "# UNIT process_start_time_seconds seconds\n"
           "# HELP process_start_time_seconds When this process started.\n"
           "process_start_time_seconds " +
           seconds(m_started) + "\n# EOF\n";
    return out;
}

} // namespace vennacott::ctl
