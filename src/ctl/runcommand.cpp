// run: the updater in the foreground, for a terminal or a systemd service.
#include "runcommand.h"

#include "console.h"
#include "processlock.h"
#include "setuppaths.h"
#include "terminationsignals.h"

#include <QRegularExpression>

namespace vennacott::ctl {
namespace {

// What Linux accepts as an interface name: 1 to 15 bytes, no slash, no white space.
bool isInterfaceName(const QString &name)
{
    static const QRegularExpression valid(QStringLiteral("^[^/\\s:]{1,15}$"));
    return valid.match(name).hasMatch() && name != QLatin1String(".") && name != QLatin1String("..");
}

} // namespace

RunCommand::RunCommand(Core &core)
    : m_core(core)
{}

RunCommand::~RunCommand() = default;

QString RunCommand::summary() const
{
    return QStringLiteral("update the host now and every 10 seconds, until stopped");
}

QList<std::pair<QString, QString>> RunCommand::valueOptions() const
{
    return {{QStringLiteral("--family"), QStringLiteral("ipv4|ipv6|both")},
            {QStringLiteral("--interface"), QStringLiteral("NAME")}};
}

QStringList RunCommand::help() const
{
    return {
        QStringLiteral("Requests the stored update link at once and then every 10 seconds, printing the same lines"),
        QStringLiteral("as the window (the update key redacted), until SIGINT or SIGTERM ends it with status 0."),
        QStringLiteral("Without a link it waits and updates from the first one stored (by register or the window)."),
        QStringLiteral("One updater runs per settings file: with the window or another run already updating, it"),
        QStringLiteral("refuses to start (status 1) and names that process. Its status is what status shows."),
        QString(),
        QStringLiteral("  --family both   each update over IPv4 and over IPv6 where both reach the update server (the"),
        QStringLiteral("                  default); ipv4 or ipv6: over that family only"),
        QStringLiteral("  --interface NAME  send the updates through this network interface only (wg0, eth0)"),
        QStringLiteral("  --ipv6-temporary  IPv6 updates from the temporary (privacy) address the system picks, not"),
        QStringLiteral("                  from the stable one"),
    };
}

void RunCommand::start(const Invocation &invocation, const Finish &finish)
{
    Updater &updater = m_core.updater();
    const QString familyName = invocation.values.value(QStringLiteral("--family"), QStringLiteral("both"));
    const std::optional<FamilyChoice> family = familyChoiceFromName(familyName);
    const QString interface = invocation.values.value(QStringLiteral("--interface"));
    if (!family || (invocation.values.contains(QStringLiteral("--interface")) && !isInterfaceName(interface))) {
        complain(!family ? QStringLiteral("--family takes ipv4, ipv6 or both, not '%1'").arg(familyName)
                         : QStringLiteral("'%1' is not a network interface name").arg(interface));
        console::logLine(QStringLiteral("Try '%1 run --help'.").arg(kProgram));
        finish(ExitStatus::Usage);
        return;
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
    m_signals = std::make_unique<TerminationSignals>();
    QObject::connect(m_signals.get(), &TerminationSignals::received, &updater, [&updater, finish] {
        updater.stop();
        finish(ExitStatus::Done);
    });
    if (m_core.settings().dnsLink().isEmpty())
        complain(QStringLiteral("no update link stored yet; updating starts once one is (%1 register NAME, or the "
                                "window)")
                     .arg(kProgram));
    updater.start(std::chrono::milliseconds(0));
}

} // namespace vennacott::ctl
