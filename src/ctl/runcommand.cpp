// run: the updater in the foreground, for a terminal or a systemd service.
#include "runcommand.h"

#include "processlock.h"
#include "setuppaths.h"
#include "terminationsignals.h"

namespace vennacott::ctl {

RunCommand::RunCommand(Core &core)
    : m_core(core)
{}

RunCommand::~RunCommand() = default;

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
    };
}

void RunCommand::start(const Invocation &, const Finish &finish)
{
    Updater &updater = m_core.updater();
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
