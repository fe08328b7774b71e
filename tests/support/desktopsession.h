// A desktop of the test's own: a virtual display, private D-Bus buses and the programs that live on them,
// started by the test and stopped with it.
#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <list>
#include <memory>

namespace vennacott::test {

class DesktopSession final
{
public:
    DesktopSession();
    ~DesktopSession(); // stops every program, last started first

    // Xvfb on a display number it picks; DISPLAY and QT_QPA_PLATFORM=xcb are set for this process. Call it
    // before the application object exists.
    bool startDisplay();
    // A bus of its own, with no services to start on demand; its address, or empty.
    QString startBus();
    // The display and a session bus (DBUS_SESSION_BUS_ADDRESS), before the application object exists.
    bool startDesktop();

    // A program on the session: its output is collected line by line.
    QProcess *start(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    // Waits (bounded) for a line of `process`'s output that starts with `prefix`, after the first `skip`
    // such lines; the line without the prefix, or nothing.
    std::optional<QString> waitForLine(QProcess *process, const QString &prefix, int skip = 0);
    // Every line `process` has written so far.
    QStringList lines(QProcess *process);

    // Waits (bounded) until `name` has an owner on the bus at `address`.
    static bool waitForName(const QString &address, const QString &name);

    QString error() const { return m_error; }

private:
    struct Program
    {
        std::unique_ptr<QProcess> process;
        QByteArray pending;
        QStringList lines;
    };
    Program *find(QProcess *process);
    QProcess *spawn(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment);

    QTemporaryDir m_folder;
    std::list<Program> m_programs;
    QString m_error;
};

} // namespace vennacott::test
