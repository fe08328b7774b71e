// run: the updater in the foreground, for a terminal or a systemd service.
#include "runcommand.h"

#include "processlock.h"
#include "settingskeys.h"
#include "setuppaths.h"
#include "terminationsignals.h"
#include "userdefaults.h"

namespace vennacott::ctl {

RunCommand::RunCommand(std::chrono::milliseconds interval, QString updateBaseUrl)
    : m_interval(interval)
    , m_updateBaseUrl(std::move(updateBaseUrl))
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
    m_updater = std::make_unique<Updater>(m_updateBaseUrl, m_interval);
    if (!m_updater->tryToBecomeTheUpdater()) {
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
    QObject::connect(m_signals.get(), &TerminationSignals::received, &m_timer, [this, finish] {
        m_timer.stop();
        finish(ExitStatus::Done);
    });
    m_timer.setInterval(m_interval);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { m_updater->tick(); });
    m_timer.start();
    if (UserDefaults::standard().stringForKey(keys::kDnsLink).value_or(QString()).isEmpty())
        complain(QStringLiteral("no update link stored yet; updating starts once one is (%1 register NAME, or the "
                                "window)")
                     .arg(kProgram));
    m_updater->tick();
}

} // namespace vennacott::ctl
