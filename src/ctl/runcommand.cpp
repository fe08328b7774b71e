// run: the updater in the foreground, for a terminal or a systemd service.
#include "runcommand.h"

#include "console.h"
#include "eventhook.h"
#include "heartbeat.h"
#include "metricsserver.h"
#include "processlock.h"
#include "setuppaths.h"
#include "systemdnotifier.h"
#include "terminationsignals.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace vennacott::ctl {
namespace {

const QString kMetrics = QStringLiteral("--metrics");
const QString kExec = QStringLiteral("--exec");
const QString kPing = QStringLiteral("--ping");
const QString kFamily = QStringLiteral("--family");
const QString kInterface = QStringLiteral("--interface");

// What Linux accepts as an interface name: 1 to 15 bytes, no slash, no white space.
bool isInterfaceName(const QString &name)
{
    static const QRegularExpression valid(QStringLiteral("^[^/\\s:]{1,15}$"));
    return valid.match(name).hasMatch() && name != QLatin1String(".") && name != QLatin1String("..");
}

QString utcMinute(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("hh:mm")) + QStringLiteral(" UTC");
}

} // namespace

RunCommand::RunCommand(Core &core, const Options &options)
    : m_core(core)
    , m_hookTimeLimit(options.hookTimeLimit)
    , m_pingGap(options.pingGap)
{}

RunCommand::~RunCommand() = default;

QList<std::pair<QString, QString>> RunCommand::valueOptions() const
{
    return {{kMetrics, QStringLiteral("[ADDRESS:]PORT")},
            {kExec, QStringLiteral("PROGRAM")},
            {kPing, QStringLiteral("URL")},
            {kFamily, QStringLiteral("ipv4|ipv6|both")},
            {kInterface, QStringLiteral("NAME")}};
}

QString RunCommand::summary() const
{
    return QStringLiteral("update the host now and every 10 seconds, until stopped");
}

QStringList RunCommand::help() const
{
    return {
        QStringLiteral("Requests the stored update link at once and then every 10 seconds, printing the same lines"),
        QStringLiteral("as the window (the update key redacted), until SIGINT or SIGTERM ends it with status 0."),
        QStringLiteral("Without a link it waits and updates from the first one stored (by register or the window)."),
        QStringLiteral("One updater runs per settings file: with the window or another run already updating, it"),
        QStringLiteral("refuses to start (status 1) and names that process. Its status is what status shows."),
        QStringLiteral("Under systemd (Type=notify) it reports ready, a status line after every update and the"),
        QStringLiteral("watchdog's keep-alive; problems on standard error carry the journal's priorities."),
        QString(),
        QStringLiteral("Options:"),
        QStringLiteral("  --metrics [ADDRESS:]PORT  serve OpenMetrics text at GET /metrics, on 127.0.0.1 unless an"),
        QStringLiteral("                            address is given (\"[::1]:9101\" for IPv6)"),
        QStringLiteral("  --exec PROGRAM            run PROGRAM (no shell) when the address changes, when updates"),
        QStringLiteral("                            start failing and when they work again, one at a time, ended"),
        QStringLiteral("                            after 30 seconds; VENNACOTT_EVENT (address-changed, failing,"),
        QStringLiteral("                            working-again), VENNACOTT_HOST, VENNACOTT_FAMILY,"),
        QStringLiteral("                            VENNACOTT_ADDRESS, VENNACOTT_PREVIOUS_ADDRESS and"),
        QStringLiteral("                            VENNACOTT_ERROR in its environment, never a secret"),
        QStringLiteral("  --ping URL                request URL after a successful update, at most once a minute"),
        QStringLiteral("  --family both             each update over IPv4 and over IPv6 where both reach the update"),
        QStringLiteral("                            server (the default); ipv4 or ipv6: over that family only"),
        QStringLiteral("  --interface NAME          send the updates through this network interface only (wg0, eth0)"),
        QStringLiteral("  --ipv6-temporary          IPv6 updates from the temporary (privacy) address the system"),
        QStringLiteral("                            picks, not from the stable one"),
    };
}

void RunCommand::start(const Invocation &invocation, const Finish &finish)
{
    // Options first: a mistake in them is a usage error whether or not another updater runs.
    const QString exec = invocation.values.value(kExec);
    if (invocation.values.contains(kExec) && QStandardPaths::findExecutable(exec).isEmpty() &&
        !(exec.contains(QLatin1Char('/')) && QFileInfo(exec).isExecutable())) {
        complain(QStringLiteral("%1: no program '%2' found").arg(kExec, exec));
        return finish(ExitStatus::Usage);
    }
    const QUrl ping(invocation.values.value(kPing), QUrl::StrictMode);
    if (invocation.values.contains(kPing) &&
        (!ping.isValid() || ping.host().isEmpty() ||
         (ping.scheme() != QLatin1String("https") && ping.scheme() != QLatin1String("http")))) {
        complain(QStringLiteral("%1 needs an http or https URL").arg(kPing));
        return finish(ExitStatus::Usage);
    }

    if (invocation.values.contains(kMetrics) && !MetricsServer::isAddress(invocation.values.value(kMetrics))) {
        complain(QStringLiteral("%1 needs [ADDRESS:]PORT, such as 9101 or 127.0.0.1:9101").arg(kMetrics));
        return finish(ExitStatus::Usage);
    }
    Updater &updater = m_core.updater();
    const QString familyName = invocation.values.value(kFamily, QStringLiteral("both"));
    const std::optional<FamilyChoice> family = familyChoiceFromName(familyName);
    const QString interface = invocation.values.value(kInterface);
    if (!family || (invocation.values.contains(kInterface) && !isInterfaceName(interface))) {
        complain(!family ? QStringLiteral("%1 takes ipv4, ipv6 or both, not '%2'").arg(kFamily, familyName)
                         : QStringLiteral("'%1' is not a network interface name").arg(interface));
        console::logLine(QStringLiteral("Try '%1 run --help'.").arg(kProgram));
        return finish(ExitStatus::Usage);
    }
    updater.setFamilyChoice(*family);
    updater.setInterface(interface);
    updater.setTemporaryIPv6(invocation.flags.contains(QStringLiteral("--ipv6-temporary")));
    if (!updater.tryToBecomeTheUpdater()) {
        const std::optional<qint64> holder = ProcessLock::holder(setup::updaterLockPath());
        if (holder)
            complain(QStringLiteral("an updater already runs for these settings (process %1); not starting another")
                         .arg(*holder > 0 ? QString::number(*holder) : QStringLiteral("unknown")));
        else
            complain(QStringLiteral("cannot take the updater lock %1").arg(setup::updaterLockPath()));
        finish(ExitStatus::Refused);
        return;
    }
    if (invocation.values.contains(kMetrics)) {
        m_metrics = std::make_unique<MetricsServer>(updater);
        QString error;
        if (!m_metrics->listen(invocation.values.value(kMetrics), &error)) {
            complain(error); // a port in use: the service's restart may find it free
            m_metrics.reset();
            return finish(ExitStatus::Refused);
        }
        complain(QStringLiteral("metrics at port %1").arg(m_metrics->port()), console::Priority::Notice);
    }
    if (invocation.values.contains(kExec))
        m_hook = std::make_unique<EventHook>(exec, m_hookTimeLimit);
    if (invocation.values.contains(kPing))
        m_heartbeat = std::make_unique<Heartbeat>(ping.toString(QUrl::FullyEncoded), m_pingGap);
    m_address = updater.status().knownAddress;
    QObject::connect(&updater, &Updater::statusChanged, &updater,
                     [this](const QList<StatusEvent> &events) { statusChanged(events); });

    m_signals = std::make_unique<TerminationSignals>();
    QObject::connect(m_signals.get(), &TerminationSignals::received, &updater, [&updater, finish] {
        updater.stop();
        finish(ExitStatus::Done);
    });
    if (m_core.settings().dnsLink().isEmpty())
        complain(QStringLiteral("no update link stored yet; updating starts once one is (%1 register NAME, or the "
                                "window)")
                     .arg(kProgram),
                 console::Priority::Notice);
    m_systemd = std::make_unique<SystemdNotifier>(m_core);
    m_systemd->ready();
    updater.start(std::chrono::milliseconds(0));
}

void RunCommand::statusChanged(const QList<StatusEvent> &events)
{
    const UpdaterStatus status = m_core.updater().status();
    const QString previous = std::exchange(m_address, status.knownAddress);
    if (!status.last)
        return;
    const UpdateAttempt &last = *status.last;
    if (last.result == UpdateResult::Updated && m_heartbeat)
        m_heartbeat->updated();
    const QString link = m_core.settings().dnsLink();
    const QString error =
        last.result == UpdateResult::NoAnswer ? QStringLiteral("no answer") : errorWithoutKey(last.error, link);
    // A refusal is told once, when it starts: the server's reason rarely changes from one tick to the next.
    const bool refused = last.result == UpdateResult::Refused;
    if (refused && !m_refused)
        complain(QStringLiteral("update refused: %1").arg(error));
    m_refused = refused;
    for (const StatusEvent event : events) {
        HookEvent hook;
        const std::optional<QString> hostname = m_core.settings().registeredHostname();
        hook.host = hostname ? fullName(*hostname) : QString();
        hook.family = familyKey(last.family).isEmpty() ? QStringLiteral("any") : familyKey(last.family);
        hook.address = status.knownAddress;
        hook.previousAddress = previous;
        switch (event) {
        case StatusEvent::StartedFailing:
            hook.event = QStringLiteral("failing");
            hook.error = error;
            if (last.result == UpdateResult::NoAnswer)
                complain(QStringLiteral("no answer since %1").arg(utcMinute(status.failingSince)),
                         console::Priority::Warning);
            else
                complain(QStringLiteral("updates refused since %1: %2").arg(utcMinute(status.failingSince), error));
            break;
        case StatusEvent::WorkingAgain:
            hook.event = QStringLiteral("working-again");
            complain(QStringLiteral("updating again"), console::Priority::Notice);
            break;
        case StatusEvent::AddressChanged:
            hook.event = QStringLiteral("address-changed");
            break;
        }
        if (m_hook)
            m_hook->trigger(hook);
    }
}

} // namespace vennacott::ctl
