// A desktop of the test's own: a virtual display, private D-Bus buses and the programs that live on them,
// started by the test and stopped with it.
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <list>

namespace vennacott::test {

class DesktopSession final
{
public:
    DesktopSession();
    ~DesktopSession(); // stops every program, last started first

    // A bus of its own, with no services to start on demand; its address, or empty.
    QString startBus();
    // Xvfb (DISPLAY, QT_QPA_PLATFORM=xcb) and a session bus (DBUS_SESSION_BUS_ADDRESS) for this process. Call it
    // before the application object exists.
    bool startDesktop();

    // A program on the session, or null: its output is collected line by line.
    QProcess *start(const QString &program, const QStringList &arguments = {});
    // Every line `process` has written so far.
    QStringList lines(const QProcess *process) const;
    // Waits (bounded) for a line of `process`'s output that starts with `prefix`.
    bool waitForLine(const QProcess *process, const QString &prefix) const;

    QString error() const { return m_error; }

private:
    // The first line `process` writes, read before any event loop runs.
    QString firstLine(QProcess *process) const;

    struct Program
    {
        QProcess process;
        QStringList lines;
    };
    QTemporaryDir m_folder;
    std::list<Program> m_programs;
    QString m_error;
};

} // namespace vennacott::test

// main() for a suite on a desktop of its own (testsupport.h): the desktop starts before the application object,
// and the test object gets the session, whose error() says why the desktop did not start.
#define VENNACOTT_DESKTOP_TEST_MAIN(TestClass)                                                                         \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        vennacott::test::prepareEnvironment();                                                                         \
        vennacott::test::DesktopSession session;                                                                       \
        session.startDesktop();                                                                                        \
        QApplication app(argc, argv);                                                                                  \
        vennacott::test::trustTestServer();                                                                            \
        TestClass test(session);                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
