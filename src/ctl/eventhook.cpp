// run --exec: a program of the user's run on the updater's events.
#include "eventhook.h"

#include "command.h"

#include <QProcess>
#include <QTimer>

namespace vennacott::ctl {
namespace {

// Of what a hook prints, this much reaches the log.
constexpr int kLoggedLines = 5;
constexpr qsizetype kLoggedBytes = 2048;

} // namespace

EventHook::EventHook(QString program, std::chrono::milliseconds timeLimit, QObject *parent)
    : QObject(parent)
    , m_program(std::move(program))
    , m_timeLimit(timeLimit)
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        if (m_process)
            m_process->kill(); // finished follows, and tells it
    });
}

EventHook::~EventHook()
{
    // The QProcess, a child, kills a run still going and reaps it; its end is not told any more.
    if (m_process)
        m_process->disconnect(this);
}

void EventHook::trigger(const HookEvent &event)
{
    m_waiting = event;
    if (!m_process)
        runNext();
}

void EventHook::runNext()
{
    if (!m_waiting)
        return;
    const HookEvent event = *std::exchange(m_waiting, std::nullopt);
    // A clean environment: the updater's own (proxy credentials, whatever the service manager set) stays here.
    QProcessEnvironment environment;
    const QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {QStringLiteral("PATH"), QStringLiteral("HOME"), QStringLiteral("LANG")}) {
        if (inherited.contains(name))
            environment.insert(name, inherited.value(name));
    }
    environment.insert(QStringLiteral("VENNACOTT_EVENT"), event.event);
    environment.insert(QStringLiteral("VENNACOTT_HOST"), event.host);
    environment.insert(QStringLiteral("VENNACOTT_FAMILY"), event.family);
    environment.insert(QStringLiteral("VENNACOTT_ADDRESS"), event.address);
    environment.insert(QStringLiteral("VENNACOTT_PREVIOUS_ADDRESS"), event.previousAddress);
    environment.insert(QStringLiteral("VENNACOTT_ERROR"), event.error);

    m_process = new QProcess(this);
    m_running = event.event;
    m_output.clear();
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::readyRead, this, [this] {
        const QByteArray read = m_process->readAll();
        if (m_output.size() < kLoggedBytes)
            m_output += read.left(kLoggedBytes - m_output.size());
    });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(QStringLiteral("could not start: ") + m_process->errorString());
    });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        if (m_deadline->isActive() || status == QProcess::NormalExit)
            ended(status == QProcess::NormalExit ? QStringLiteral("exited with status %1").arg(code)
                                                 : QStringLiteral("crashed"));
        else
            ended(QStringLiteral("ended after %1 ms").arg(m_timeLimit.count()));
    });
    m_deadline->start(m_timeLimit);
    m_process->start(m_program, {});
}

void EventHook::ended(const QString &how)
{
    m_deadline->stop();
    const bool failed = !how.endsWith(QLatin1String("status 0"));
    complain(QStringLiteral("hook %1 (%2) %3").arg(m_program, m_running, how),
             failed ? console::Priority::Warning : console::Priority::Notice);
    const QList<QByteArray> lines = m_output.split('\n');
    for (qsizetype i = 0; i < std::min<qsizetype>(lines.size(), kLoggedLines); ++i) {
        if (!lines.at(i).isEmpty())
            complain(QStringLiteral("hook: ") + QString::fromUtf8(lines.at(i)), console::Priority::Notice);
    }
    m_process->deleteLater();
    m_process = nullptr;
    runNext();
}

} // namespace vennacott::ctl
