// Where the files that belong to one setup live.
#include "setuppaths.h"

#include "settings.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace vennacott::setup {
namespace {

// A Unix socket's path must fit in sockaddr_un.
constexpr qsizetype kMaxSocketPath = 100;

QString settingsFolder()
{
    return QFileInfo(settingsFilePath()).absolutePath();
}

// Names a setup in places shared by several setups.
QString setupKey()
{
    const QByteArray path = QFile::encodeName(QFileInfo(settingsFilePath()).absoluteFilePath());
    return QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(16));
}

QString stateHome()
{
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.isEmpty() && QDir::isAbsolutePath(state))
        return state;
    return QDir::homePath() + QStringLiteral("/.local/state");
}

} // namespace

QString settingsFilePath()
{
    return Settings::defaultFilePath();
}

QString updaterLockPath()
{
    return settingsFolder() + QStringLiteral("/vennacott-ddns.updater.lock");
}

QString windowLockPath()
{
    return settingsFolder() + QStringLiteral("/vennacott-ddns.window.lock");
}

QString windowSocketPath()
{
    const QString beside = settingsFolder() + QStringLiteral("/vennacott-ddns.window.socket");
    if (QFile::encodeName(beside).size() <= kMaxSocketPath)
        return beside;
    // A settings folder too deep for a socket: a private folder of the user's own, in the runtime folder or
    // else the cache (never a name in the shared /tmp, which another user could take first).
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return base + QStringLiteral("/vennacott-ddns/") + setupKey() + QStringLiteral(".socket");
}

QString statusFilePath()
{
    // Rewritten after every update: memory, not the disk, where the system gives the user a runtime folder.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QDir::isAbsolutePath(runtime) ? runtime : stateHome();
    return folder + QStringLiteral("/vennacott-ddns/status-") + setupKey() + QStringLiteral(".json");
}

QString historyFilePath()
{
    return stateHome() + QStringLiteral("/vennacott-ddns/history-") + setupKey() + QStringLiteral(".jsonl");
}

} // namespace vennacott::setup
