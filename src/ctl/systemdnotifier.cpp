// What systemd hears of run.
#include "systemdnotifier.h"

#include "redaction.h"

#include <QTimer>

#include <systemd/sd-daemon.h>

namespace vennacott::ctl {
namespace {

QString utcMinute(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("hh:mm")) + QStringLiteral(" UTC");
}

void notify(const QString &state)
{
    // Returns at once, sending nothing, without NOTIFY_SOCKET; a failed send is no reason to stop updating.
    sd_notify(0, state.toUtf8().constData());
}

} // namespace

QString errorWithoutKey(const QString &error, const QString &link)
{
    QString key = link;
    while (key.endsWith(QLatin1Char('/')))
        key.chop(1);
    key = key.mid(key.lastIndexOf(QLatin1Char('/')) + 1);
    return key.isEmpty() ? error : QString(error).replace(key, kRedacted);
}

QString serviceStatusLine(const UpdaterStatus &status, const QString &link)
{
    if (link.isEmpty())
        return QStringLiteral("waiting for a host name");
    if (!status.last)
        return QStringLiteral("waiting for the first update");
    const UpdateAttempt &last = *status.last;
    switch (last.result) {
    case UpdateResult::Updated:
        return QStringLiteral("updated %1, %2").arg(utcMinute(last.time), last.address);
    case UpdateResult::Refused: {
        // One line: whatever the server wrote, line breaks included, stays on it.
        QString error = errorWithoutKey(last.error, link).simplified().left(200);
        return QStringLiteral("refused since %1: %2").arg(utcMinute(status.failingSince), error);
    }
    case UpdateResult::NoAnswer:
        break;
    }
    return QStringLiteral("no answer since %1").arg(utcMinute(status.failingSince));
}

SystemdNotifier::SystemdNotifier(Core &core, QObject *parent)
    : QObject(parent)
    , m_core(core)
{
    uint64_t usec = 0;
    // Only when systemd asks for it, and for this very process (WATCHDOG_PID).
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        m_watchdog = new QTimer(this);
        // The updater's own thread sends it: a hung event loop misses it, and systemd restarts the service.
        m_watchdog->setInterval(std::chrono::milliseconds(std::max<uint64_t>(usec / 2000, 1)));
        connect(m_watchdog, &QTimer::timeout, this, [] { notify(QStringLiteral("WATCHDOG=1")); });
    }
}

void SystemdNotifier::ready()
{
    notify(QStringLiteral("READY=1\nSTATUS=") +
           serviceStatusLine(m_core.updater().status(), m_core.settings().dnsLink()));
    connect(&m_core.updater(), &Updater::statusChanged, this, &SystemdNotifier::sendStatus);
    connect(&m_core.settings(), &Settings::changed, this, &SystemdNotifier::sendStatus);
    if (m_watchdog)
        m_watchdog->start();
}

void SystemdNotifier::sendStatus()
{
    const QString link = m_core.settings().dnsLink();
    notify(QStringLiteral("STATUS=") + serviceStatusLine(m_core.updater().status(), link));
}

} // namespace vennacott::ctl
