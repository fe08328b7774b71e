// The real executable as a process: signals end it through the quit decision, a plain message
// without a display, and --help and --version answered without one.
#include "buildconfig.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace vennacott::test;

namespace {

// True once the process has installed a handler for `signalNumber` (the SigCgt mask in /proc).
bool catches(qint64 pid, int signalNumber)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            return (mask >> (signalNumber - 1)) & 1U;
        }
    }
    return false;
}

// Starts the program in this process's environment with `changes` (a null value removes the variable).
void start(QProcess &program, std::initializer_list<std::pair<QString, QString>> changes,
           const QStringList &arguments = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const auto &[name, value] : changes) {
        if (value.isNull())
            environment.remove(name);
        else
            environment.insert(name, value);
    }
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(VENNACOTT_DDNS_BINARY), arguments);
}

// Sends `signalNumber` once the program handles it, and waits for the end.
bool signalAndWait(QProcess &program, int signalNumber)
{
    if (!QTest::qWaitFor([&] { return catches(program.processId(), signalNumber); }, 20'000))
        return false;
    ::kill(static_cast<pid_t>(program.processId()), signalNumber);
    return QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 20'000);
}

} // namespace

class ApplicationTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signal_endsTheProgramThroughTheQuitDecision_data();
    void signal_endsTheProgramThroughTheQuitDecision();
    void withoutDisplay_answersOptionsOrSaysWhy_data();
    void withoutDisplay_answersOptionsOrSaysWhy();
    void secondStart_handsOverToTheWindowOfItsSettings_data();
    void secondStart_handsOverToTheWindowOfItsSettings();
};

void ApplicationTest::signal_endsTheProgramThroughTheQuitDecision_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("reportFirstScreen"); // the line the benchmark times start-up by
    QTest::newRow("SIGTERM, first screen reported") << SIGTERM << true;
    QTest::newRow("SIGINT") << SIGINT << false;
}

void ApplicationTest::signal_endsTheProgramThroughTheQuitDecision()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, reportFirstScreen);
    const QString dataHome = temporaryRoot() + QStringLiteral("/signal-%1").arg(signalNumber);
    const QString store = dataHome + QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite");
    QVERIFY(QDir().mkpath(dataHome));
    QProcess program;
    start(program,
          {{QStringLiteral("XDG_DATA_HOME"), dataHome},
           {QStringLiteral("VENNACOTT_REPORT_FIRST_SCREEN"), reportFirstScreen ? QStringLiteral("1") : QString()}});
    const QByteArray line("vennacott-ddns: first screen shown\n");
    QByteArray errors;
    if (reportFirstScreen)
        QTRY_VERIFY_WITH_TIMEOUT((errors += program.readAllStandardError()).contains(line), 20'000);
    // Launched and drawn, the program has left the local store alone; the quit decision opens it.
    QVERIFY(!QFile::exists(store));
    QVERIFY(signalAndWait(program, signalNumber));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(QFile::exists(store));
    QCOMPARE((errors + program.readAllStandardError()).count(line), reportFirstScreen ? 1 : 0);
}

void ApplicationTest::withoutDisplay_answersOptionsOrSaysWhy_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("said"); // the start of standard output on success, else of standard error
    const QByteArray usage("Usage: vennacott-ddns");
    const QByteArray version = QByteArray("vennacott-ddns ") + vennacott::buildconfig::kVersion + '\n';
    QTest::newRow("no option") << QStringList() << 1 << QByteArray("vennacott-ddns: no display");
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0 << usage;
    QTest::newRow("-h after an ignored argument")
        << QStringList{QStringLiteral("--unknown"), QStringLiteral("-h")} << 0 << usage;
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << 0 << version;
    QTest::newRow("-v") << QStringList{QStringLiteral("-v")} << 0 << version;
}

void ApplicationTest::withoutDisplay_answersOptionsOrSaysWhy()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, said);
    QProcess program;
    start(program,
          {{QStringLiteral("QT_QPA_PLATFORM"), QString()},
           {QStringLiteral("DISPLAY"), QString()},
           {QStringLiteral("WAYLAND_DISPLAY"), QString()}},
          arguments);
    QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 20'000);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), exitCode);
    const QByteArray out = program.readAllStandardOutput();
    const QByteArray err = program.readAllStandardError();
    QVERIFY2((exitCode == 0 ? out : err).startsWith(said), (out + err).constData());
    QCOMPARE(exitCode == 0 ? err : out, QByteArray());
}

void ApplicationTest::secondStart_handsOverToTheWindowOfItsSettings_data()
{
    QTest::addColumn<bool>("sameSettings");
    QTest::newRow("same settings file") << true;
    QTest::newRow("another settings file") << false;
}

void ApplicationTest::secondStart_handsOverToTheWindowOfItsSettings()
{
    QFETCH(bool, sameSettings);
    QProcess first;
    start(first, {});
    QTRY_VERIFY_WITH_TIMEOUT(catches(first.processId(), SIGTERM), 20'000);

    const QString config = temporaryRoot() + QStringLiteral("/other-config");
    QVERIFY(QDir().mkpath(config));
    QProcess second;
    start(second,
          {{QStringLiteral("XDG_CONFIG_HOME"), sameSettings ? qEnvironmentVariable("XDG_CONFIG_HOME") : config}});
    if (sameSettings) {
        // The first window answered that it came forward; the second ends at once.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20'000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    } else {
        QVERIFY(signalAndWait(second, SIGTERM));
    }
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(signalAndWait(first, SIGTERM));
}

VENNACOTT_TEST_MAIN(ApplicationTest, QCoreApplication)
#include "tst_application.moc"
