// run --metrics: the updater's counters in the OpenMetrics text format, over HTTP (libmicrohttpd), driven by
// this thread's event loop so that it adds no wake-up between ticks.
#pragma once

#include "core.h"

#include <QDateTime>
#include <QObject>

#include <array>

struct MHD_Daemon;
class QSocketNotifier;
class QTimer;

namespace vennacott::ctl {

class MetricsServer final : public QObject
{
    Q_OBJECT
public:
    explicit MetricsServer(Updater &updater, QObject *parent = nullptr);
    ~MetricsServer() override;

    // Whether `where` is an [ADDRESS:]PORT listen() can take.
    static bool isAddress(const QString &where);

    // Serves GET /metrics on `where`, "[ADDRESS:]PORT" (loopback without an address; "[::1]:9101" for IPv6).
    // False, with the reason in `error`, when it cannot.
    bool listen(const QString &where, QString *error);
    quint16 port() const { return m_port; }

    // The scrape's body.
    QByteArray text();

private:
    void count();
    void serve();

    Updater &m_updater;
    const QDateTime m_started = QDateTime::currentDateTimeUtc();
    std::array<quint64, 3> m_updates{}; // by UpdateResult
    QDateTime m_counted;                // the time of the last attempt counted
    MHD_Daemon *m_daemon = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
    quint16 m_port = 0;
};

} // namespace vennacott::ctl
