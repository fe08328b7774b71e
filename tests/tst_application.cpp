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

QProcessEnvironment environmentWith(std::initializer_list<std::pair<const char *, const char *>> changes)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, value] : changes) {
        if (value)
            environment.insert(QLatin1String(name), QLatin1String(value));
        else
            environment.remove(QLatin1String(name));
    }
    return environment;
}

// Starts the program with its own data folder, waits until it handles `signalNumber` and sends it.
bool startAndSignal(QProcess &program, const QString &dataHome, int signalNumber)
{
    QProcessEnvironment environment = environmentWith({{"QT_QPA_PLATFORM", "offscreen"}});
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(VENNACOTT_DDNS_BINARY), {});
    if (!program.waitForStarted(10'000) ||
        !QTest::qWaitFor([&] { return catches(program.processId(), signalNumber); }, 20'000))
        return false;
    ::kill(static_cast<pid_t>(program.processId()), signalNumber);
    return QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, 20'000);
}

} // namespace

class ApplicationTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void signal_endsTheProgramWithStatusZero_data();
    void signal_endsTheProgramWithStatusZero();
    void noDisplay_saysSoAndFails();
    void informationOption_withoutDisplay_printsAndSucceeds_data();
    void informationOption_withoutDisplay_printsAndSucceeds();
    void firstScreenLine_onlyWhenAsked_data();
    void firstScreenLine_onlyWhenAsked();
    void secondStart_handsOverToTheWindowOfItsSettings_data();
    void secondStart_handsOverToTheWindowOfItsSettings();
};

void ApplicationTest::signal_endsTheProgramWithStatusZero_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void ApplicationTest::signal_endsTheProgramWithStatusZero()
{
    QFETCH(int, signalNumber);
    const QString dataHome = temporaryRoot() + QStringLiteral("/signal-%1").arg(signalNumber);
    QVERIFY(QDir().mkpath(dataHome));
    QProcess program;
    QVERIFY(startAndSignal(program, dataHome, signalNumber));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    // The quit decision ran: it opens the local store, which nothing before it touches.
    QVERIFY(QFile::exists(dataHome + QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite")));
}

void ApplicationTest::noDisplay_saysSoAndFails()
{
    QProcess program;
    program.setProcessEnvironment(
        environmentWith({{"QT_QPA_PLATFORM", nullptr}, {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}}));
    program.start(QStringLiteral(VENNACOTT_DDNS_BINARY), {});
    QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 20'000);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    const QByteArray message = program.readAllStandardError();
    QVERIFY(message.contains("no display"));
    QVERIFY(message.contains("xvfb-run"));
}

void ApplicationTest::informationOption_withoutDisplay_printsAndSucceeds_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray version = QByteArray("vennacott-ddns ") + vennacott::buildconfig::kVersion + '\n';
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << QByteArray("Usage: vennacott-ddns");
    QTest::newRow("-h after an ignored argument")
        << QStringList{QStringLiteral("--unknown"), QStringLiteral("-h")} << QByteArray("Usage: vennacott-ddns");
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")} << version;
    QTest::newRow("-v") << QStringList{QStringLiteral("-v")} << version;
}

void ApplicationTest::informationOption_withoutDisplay_printsAndSucceeds()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, expected);
    QProcess program;
    program.setProcessEnvironment(
        environmentWith({{"QT_QPA_PLATFORM", nullptr}, {"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", nullptr}}));
    program.start(QStringLiteral(VENNACOTT_DDNS_BINARY), arguments);
    QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 20'000);
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(program.readAllStandardOutput().startsWith(expected));
    QCOMPARE(program.readAllStandardError(), QByteArray());
}

void ApplicationTest::firstScreenLine_onlyWhenAsked_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("lines");
    QTest::newRow("asked") << QByteArray("1") << 1;
    QTest::newRow("unset") << QByteArray() << 0;
}

void ApplicationTest::firstScreenLine_onlyWhenAsked()
{
    QFETCH(QByteArray, value);
    QFETCH(int, lines);
    const QString dataHome = temporaryRoot() + QStringLiteral("/first-screen-") + QTest::currentDataTag();
    QVERIFY(QDir().mkpath(dataHome));
    QProcessEnvironment environment = environmentWith(
        {{"QT_QPA_PLATFORM", "offscreen"}, {"VENNACOTT_REPORT_FIRST_SCREEN", value.isEmpty() ? nullptr : "1"}});
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(VENNACOTT_DDNS_BINARY), {});
    QVERIFY(program.waitForStarted(10'000));
    const QByteArray line("vennacott-ddns: first screen shown\n");
    QByteArray errors;
    if (lines > 0)
        QTRY_VERIFY_WITH_TIMEOUT((errors += program.readAllStandardError()).contains(line), 20'000);
    QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), SIGTERM), 20'000);
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 20'000);
    errors += program.readAllStandardError();
    QCOMPARE(errors.count(line), lines);
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
    const QProcessEnvironment environment = environmentWith({{"QT_QPA_PLATFORM", "offscreen"}});
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(QStringLiteral(VENNACOTT_DDNS_BINARY), {});
    QVERIFY(first.waitForStarted(10'000));
    QTRY_VERIFY_WITH_TIMEOUT(catches(first.processId(), SIGTERM), 20'000);

    QProcessEnvironment secondEnvironment = environment;
    if (!sameSettings) {
        const QString config = temporaryRoot() + QStringLiteral("/other-config");
        QVERIFY(QDir().mkpath(config));
        secondEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    }
    QProcess second;
    second.setProcessEnvironment(secondEnvironment);
    second.start(QStringLiteral(VENNACOTT_DDNS_BINARY), {});
    QVERIFY(second.waitForStarted(10'000));
    if (sameSettings) {
        // The first window answered that it came forward; the second ends at once.
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20'000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(catches(second.processId(), SIGTERM), 20'000);
        ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20'000);
    }
    QCOMPARE(first.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 20'000);
}

VENNACOTT_TEST_MAIN(ApplicationTest, QCoreApplication)
#include "tst_application.moc"
