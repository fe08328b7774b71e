// A desktop of the test's own: a virtual display, private D-Bus buses and the programs on them.
#include "desktopsession.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <sys/prctl.h>

namespace vennacott::test {
namespace {

constexpr int kStartMs = 15'000;

// The first line `program` writes, read before any event loop runs.
QString firstLine(SessionProgram *program)
{
    while (program && program->lines.isEmpty() && program->waitForReadyRead(kStartMs)) {
    }
    return program ? program->lines.value(0) : QString();
}

} // namespace

bool SessionProgram::waitForLine(const QString &prefix) const
{
    return QTest::qWaitFor(
        [&] { return !lines.filter(QRegularExpression(u'^' + QRegularExpression::escape(prefix))).isEmpty(); }, 10'000);
}

DesktopSession::DesktopSession()
    : m_folder(QDir::tempPath() + QStringLiteral("/vennacott-desktop-XXXXXX"))
{}

DesktopSession::~DesktopSession()
{
    // QProcess kills whatever is still running when it is destroyed.
    for (auto program = m_programs.rbegin(); program != m_programs.rend(); ++program) {
        program->terminate();
        program->waitForFinished(5'000);
    }
}

SessionProgram *DesktopSession::start(const QString &program, const QStringList &arguments)
{
    SessionProgram &started = m_programs.emplace_back();
    // Everything goes with the test, even when it crashes.
    started.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    started.setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(&started, &QProcess::readyReadStandardOutput, &started, [&started] {
        while (started.canReadLine())
            started.lines.append(QString::fromUtf8(started.readLine().chopped(1)));
    });
    started.start(program, arguments);
    if (started.waitForStarted(kStartMs))
        return &started;
    m_error += program + QStringLiteral(" did not start: ") + started.errorString() +
               QStringLiteral(" (scripts/deps installs it)");
    m_programs.pop_back();
    return nullptr;
}

bool DesktopSession::startDesktop()
{
    const QString display =
        firstLine(start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}));
    if (display.isEmpty()) {
        m_error += QStringLiteral(" Xvfb gave no display");
        return false;
    }
    qputenv("DISPLAY", ":" + display.toUtf8());
    qputenv("QT_QPA_PLATFORM", "xcb");
    const QString bus = startBus();
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
    return !bus.isEmpty();
}

QString DesktopSession::startBus()
{
    // Like a session bus, but nothing installed on this machine is started on demand.
    const QString config = m_folder.filePath(QStringLiteral("bus-%1.conf").arg(m_programs.size()));
    QFile file(config);
    if (file.open(QIODevice::WriteOnly))
        file.write("<busconfig><type>session</type><listen>unix:tmpdir=" + QFile::encodeName(m_folder.path()) +
                   "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                   "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    file.close();
    const QString address =
        firstLine(start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address=1"}));
    if (address.isEmpty())
        m_error += QStringLiteral(" dbus-daemon gave no address");
    return address;
}

} // namespace vennacott::test
