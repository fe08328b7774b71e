// run --ping: a request to an uptime monitor after a successful update.
#include "heartbeat.h"

#include "command.h"
#include "transport.h"

namespace vennacott::ctl {

Heartbeat::Heartbeat(QString url, std::chrono::milliseconds gap, QObject *parent)
    : QObject(parent)
    , m_url(std::move(url))
    , m_gap(gap)
{}

void Heartbeat::updated()
{
    if (m_last.isValid() && !m_last.hasExpired(m_gap.count()))
        return;
    m_last.start();
    // The URL is not logged: a monitor's ping URL is often its only credential.
    sendPing(m_url, [](const Exchange &exchange) {
        if (exchange.end == Exchange::End::Answered && exchange.httpStatus >= 200 && exchange.httpStatus < 300)
            return;
        const QString line =
            exchange.end == Exchange::End::Answered
                ? QStringLiteral("the heartbeat ping was answered with HTTP %1").arg(exchange.httpStatus)
                : QStringLiteral("the heartbeat ping got no answer");
        complain(line, console::Priority::Warning);
    });
}

} // namespace vennacott::ctl
