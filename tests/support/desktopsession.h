// A desktop of the test's own: a virtual display, private D-Bus buses and the programs that live on them,
// started by the test and stopped with it.
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <list>

namespace vennacott::test {

// A program on the session, its output collected line by line.
class SessionProgram final : public QProcess
{
public:
    QStringList lines;
    // Waits (bounded) for a line that starts with `prefix`.
    bool waitForLine(const QString &prefix) const;
};

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
    // A program on the session, or null.
    SessionProgram *start(const QString &program, const QStringList &arguments = {});

    QString error() const { return m_error; }

private:
    QTemporaryDir m_folder;
    std::list<SessionProgram> m_programs;
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
