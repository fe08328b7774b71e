// Shared set-up for the test suites: private folders, the trusted test CA and captured output.
#pragma once

#include "console.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

namespace vennacott::test {

// Points XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at a fresh temporary folder and selects the
// offscreen platform, before the application object exists.
void prepareEnvironment();
QString temporaryRoot();

// Trusts the test CA and shortens the inactivity timeout of the shared session.
void trustTestServer(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

// Drops the offscreen platform's warning about fixed window sizes; call from initTestCase(), after the
// test library has installed its own message handler.
void quietPlatformWarnings();

// Clears the three stored settings; writes or reads one in the settings file, as another program would.
void clearSettings();
void storeSetting(const QString &key, const std::optional<QString> &value);
std::optional<QString> storedSetting(const QString &key);

// Collects every line printed while it lives.
class ConsoleCapture final
{
public:
    ConsoleCapture();
    ~ConsoleCapture() { console::setSinkForTesting({}); }
    ConsoleCapture(const ConsoleCapture &) = delete;
    ConsoleCapture &operator=(const ConsoleCapture &) = delete;

    QStringList output() const { return locked(m_output); }          // standard output, without line feeds
    QStringList errors() const { return locked(m_errors); }          // standard error
    QString all() const { return QString::fromUtf8(locked(m_raw)); } // both, raw

private:
    template<typename T>
    T locked(const T &value) const
    {
        const std::lock_guard lock(m_mutex);
        return value;
    }
    mutable std::mutex m_mutex;
    QStringList m_output, m_errors;
    QByteArray m_raw;
};

// Runs this test executable again as a child with VENNACOTT_TEST_CHILD=role (see VENNACOTT_TEST_MAIN), in this
// process's environment as it is now; events keep flowing while it runs (it may talk to a test server of ours).
struct ChildResult
{
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray out, err;
};
ChildResult runChild(const QString &role);

} // namespace vennacott::test

// main() for a suite: environment first, then the application, then the tests, or `childMain` when the
// executable was started as a child.
#define VENNACOTT_TEST_MAIN_WITH_CHILD(TestClass, AppClass, childMain)                                                 \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        vennacott::test::prepareEnvironment();                                                                         \
        AppClass app(argc, argv);                                                                                      \
        vennacott::test::trustTestServer();                                                                            \
        if (const QString role = qEnvironmentVariable("VENNACOTT_TEST_CHILD"); !role.isEmpty())                        \
            return std::function<int(const QString &)>(childMain)(role);                                               \
        TestClass tc;                                                                                                  \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }

#define VENNACOTT_TEST_MAIN(TestClass, AppClass)                                                                       \
    VENNACOTT_TEST_MAIN_WITH_CHILD(TestClass, AppClass, [](const QString &) { return 2; })
