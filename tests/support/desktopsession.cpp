// A desktop of the test's own: a virtual display, private D-Bus buses and the programs on them.
#include "desktopsession.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace vennacott::test {
namespace {

constexpr int kStartMs = 15'000;

// Everything goes with the test, even when it crashes.
void dieWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

// The first line a program writes, read before any event loop runs.
QByteArray firstLine(QProcess *process)
{
    while (!process->canReadLine()) {
        if (!process->waitForReadyRead(kStartMs))
            return {};
    }
    return process->readLine().trimmed();
}

} // namespace

DesktopSession::DesktopSession()
    : m_folder(QDir::tempPath() + QStringLiteral("/vennacott-desktop-XXXXXX"))
{}

DesktopSession::~DesktopSession()
{
    for (auto program = m_programs.rbegin(); program != m_programs.rend(); ++program) {
        program->process->terminate();
        if (!program->process->waitForFinished(5'000)) {
            program->process->kill();
            program->process->waitForFinished(5'000);
        }
    }
}

QProcess *DesktopSession::spawn(const QString &program, const QStringList &arguments,
                                const QProcessEnvironment &environment)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setChildProcessModifier(dieWithParent);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, arguments);
    if (!process->waitForStarted(kStartMs)) {
        m_error = program + QStringLiteral(" did not start: ") + process->errorString() +
                  QStringLiteral(" (scripts/deps installs it)");
        return nullptr;
    }
    m_programs.push_back(Program{std::move(process), {}, {}});
    return m_programs.back().process.get();
}

bool DesktopSession::startDisplay()
{
    QProcess *xvfb =
        spawn(QStringLiteral("Xvfb"),
              {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
               QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")},
              QProcessEnvironment::systemEnvironment());
    const QByteArray display = xvfb ? firstLine(xvfb) : QByteArray();
    if (display.isEmpty()) {
        m_error += QStringLiteral(" Xvfb gave no display");
        return false;
    }
    qputenv("DISPLAY", ":" + display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}

QString DesktopSession::startBus()
{
    // Like a session bus, but nothing installed on this machine is started on demand.
    const QString config = m_folder.filePath(QStringLiteral("bus-%1.conf").arg(m_programs.size()));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("<busconfig><type>session</type><listen>unix:tmpdir=" + QFile::encodeName(m_folder.path()) +
               "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    file.close();
    QProcess *bus = spawn(
        QStringLiteral("dbus-daemon"),
        {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")},
        QProcessEnvironment::systemEnvironment());
    const QByteArray address = bus ? firstLine(bus) : QByteArray();
    if (address.isEmpty())
        m_error += QStringLiteral(" dbus-daemon gave no address");
    return QString::fromUtf8(address);
}

bool DesktopSession::startDesktop()
{
    if (!startDisplay())
        return false;
    const QString bus = startBus();
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
    return !bus.isEmpty();
}

QProcess *DesktopSession::start(const QString &program, const QStringList &arguments,
                                const QProcessEnvironment &environment)
{
    QProcess *process = spawn(program, arguments, environment);
    if (process) {
        Program *entry = find(process);
        QObject::connect(process, &QProcess::readyReadStandardOutput, process, [entry] {
            entry->pending += entry->process->readAllStandardOutput();
            for (qsizetype end; (end = entry->pending.indexOf('\n')) >= 0; entry->pending.remove(0, end + 1))
                entry->lines.append(QString::fromUtf8(entry->pending.left(end)));
        });
    }
    return process;
}

DesktopSession::Program *DesktopSession::find(QProcess *process)
{
    for (Program &program : m_programs) {
        if (program.process.get() == process)
            return &program;
    }
    return nullptr;
}

QStringList DesktopSession::lines(QProcess *process)
{
    Program *program = find(process);
    return program ? program->lines : QStringList();
}

std::optional<QString> DesktopSession::waitForLine(QProcess *process, const QString &prefix, int skip)
{
    std::optional<QString> found;
    (void)QTest::qWaitFor(
        [&] {
            int seen = 0;
            for (const QString &line : lines(process)) {
                if (line.startsWith(prefix) && seen++ == skip) {
                    found = line.mid(prefix.size());
                    return true;
                }
            }
            return false;
        },
        10'000);
    return found;
}

bool DesktopSession::waitForName(const QString &address, const QString &name)
{
    const QString connectionName = QStringLiteral("vennacott-test-probe");
    bool owned = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, connectionName);
        owned = QTest::qWaitFor([&] { return bus.interface() && bus.interface()->isServiceRegistered(name); }, 10'000);
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return owned;
}

} // namespace vennacott::test
