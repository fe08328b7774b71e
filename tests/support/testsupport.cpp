// Shared set-up for the test suites: private folders, the trusted test CA and captured output.
#include "testsupport.h"

#include "refsvcharness.h"
#include "settings.h"
#include "settingskeys.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace vennacott::test {
namespace {

QTemporaryDir *g_root = nullptr;
QtMessageHandler g_defaultHandler = nullptr;

} // namespace

// The offscreen platform warns each time a window is given a fixed size; that says nothing about us.
void quietPlatformWarnings()
{
    g_defaultHandler =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
            if (!text.contains(QLatin1String("does not support propagateSizeHints")))
                g_defaultHandler(type, context, text);
        });
}

void prepareEnvironment()
{
    // A child reuses its parent's folders so both see the same settings file.
    if (qEnvironmentVariableIsEmpty("VENNACOTT_TEST_CHILD")) {
        static QTemporaryDir root(QDir::tempPath() + QStringLiteral("/vennacott-test-XXXXXX"));
        g_root = &root;
        for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_STATE_HOME"}) {
            const QString folder = root.path() + QLatin1Char('/') + QLatin1String(variable);
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            qputenv(variable, QFile::encodeName(folder));
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

QString temporaryRoot()
{
    return g_root ? g_root->path() : QString();
}

void trustTestServer(std::chrono::milliseconds timeout)
{
    QFile ca(QStringLiteral(VENNACOTT_TEST_CERT_DIR "/ca.pem"));
    if (!ca.open(QIODevice::ReadOnly))
        qFatal("cannot read the test CA");
    SessionOptions options;
    options.inactivityTimeout = timeout;
    options.extraCaPem = ca.readAll();
    UrlSession::shared().setOptions(options);
}

void clearSettings()
{
    UserDefaults(Settings::defaultFilePath())
        .apply({{keys::kToken, std::nullopt}, {keys::kHostname, std::nullopt}, {keys::kDnsLink, std::nullopt}});
}

void storeSetting(const QString &key, const std::optional<QString> &value)
{
    UserDefaults(Settings::defaultFilePath()).apply({{key, value}});
}
std::optional<QString> storedSetting(const QString &key)
{
    return UserDefaults(Settings::defaultFilePath()).stringForKey(key);
}

ConsoleCapture::ConsoleCapture()
{
    console::setSinkForTesting([this](console::Stream stream, const QByteArray &line) {
        const std::lock_guard lock(m_mutex);
        m_raw += line;
        (stream == console::Stream::Output ? m_output : m_errors).append(QString::fromUtf8(line.chopped(1)));
    });
}

ChildResult runChild(const QString &role)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VENNACOTT_TEST_CHILD"), role);
    const refsvc::test::Finished child =
        refsvc::test::runToEnd(QCoreApplication::applicationFilePath(), {}, {}, environment);
    return {child.status, child.status < 0 ? QProcess::CrashExit : QProcess::NormalExit, child.out, child.err};
}

} // namespace vennacott::test
