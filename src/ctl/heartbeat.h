// run --ping: a request to an uptime monitor after a successful update, at most once per gap, so the
// monitor alarms when the pings stop. Its own failures are logged and change nothing in the updates.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>

namespace vennacott::ctl {

class Heartbeat final : public QObject
{
    Q_OBJECT
public:
    Heartbeat(QString url, std::chrono::milliseconds gap, QObject *parent = nullptr);

    // After a successful update: pings unless the last ping went out less than the gap ago.
    void updated();

private:
    const QString m_url;
    const std::chrono::milliseconds m_gap;
    QElapsedTimer m_last;
};

} // namespace vennacott::ctl
