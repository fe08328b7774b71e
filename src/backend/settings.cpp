// The client's stored settings: the one owner of the settings file of a setup.
#include "settings.h"

#include "settingskeys.h"
#include "userdefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QSettings>
#include <QTimer>

namespace vennacott {
namespace {

const QList<QString> kKeys = {keys::kToken, keys::kHostname, keys::kDnsLink};

// A write that found the file locked by another process is tried again this soon, so a value set while the
// command line writes still reaches the disk without waiting for the next update.
constexpr std::chrono::milliseconds kRetryAfterLock{250};
constexpr int kQuickRetries = 8;

} // namespace

QString Settings::defaultFilePath()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("vennacott"),
                     QStringLiteral("vennacott-ddns"))
        .fileName();
}

Settings::Settings(QString filePath, std::chrono::milliseconds lockWait, QObject *parent)
    : QObject(parent)
    , m_defaults(std::make_unique<UserDefaults>(std::move(filePath), lockWait))
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryAfterLock);
    connect(m_retry, &QTimer::timeout, this, &Settings::refresh);
    m_known = current();
    watch();
}

Settings::~Settings() = default;

QString Settings::filePath() const
{
    return m_defaults->filePath();
}

std::optional<QString> Settings::value(const QString &key)
{
    // A change another process made is told before anything reads it.
    refresh();
    return m_known.value(key);
}

QString Settings::token()
{
    return value(keys::kToken).value_or(QString());
}

QString Settings::dnsLink()
{
    return value(keys::kDnsLink).value_or(QString());
}

std::optional<QString> Settings::registeredHostname()
{
    const QString hostname = value(keys::kHostname).value_or(QString());
    if (hostname.isEmpty() || hostname == QLatin1String("ERROR"))
        return std::nullopt;
    return hostname;
}

bool Settings::setToken(const QString &token)
{
    return write({{keys::kToken, token}});
}

bool Settings::setHost(const QString &hostname, const QString &link)
{
    return write({{keys::kHostname, hostname}, {keys::kDnsLink, link}});
}

bool Settings::forgetHost()
{
    return write({{keys::kHostname, std::nullopt}, {keys::kDnsLink, std::nullopt}});
}

bool Settings::forgetSignIn()
{
    return write({{keys::kToken, std::nullopt}, {keys::kHostname, std::nullopt}, {keys::kDnsLink, std::nullopt}});
}

QHash<QString, std::optional<QString>> Settings::current()
{
    const QHash<QString, QString> stored = m_defaults->values();
    QHash<QString, std::optional<QString>> values;
    for (const QString &key : kKeys)
        values.insert(key, stored.contains(key) ? std::optional<QString>(stored.value(key)) : std::nullopt);
    return values;
}

void Settings::announce(bool elsewhere)
{
    const QHash<QString, std::optional<QString>> now = current();
    QList<QString> changedKeys;
    for (const QString &key : kKeys) {
        if (m_known.value(key) != now.value(key))
            changedKeys.append(key);
    }
    // All of one write is known before the first listener hears of it, in the order the keys are written.
    m_known = now;
    for (const QString &key : changedKeys)
        Q_EMIT changed(key, elsewhere);
}

bool Settings::write(const QList<Change> &changes)
{
    // What another process changed is told as its own, before this change goes on top of it.
    refresh();
    m_defaults->apply(changes);
    const bool saved = m_defaults->isSaved();
    m_retries = 0;
    if (!saved)
        m_retry->start();
    announce(false);
    return saved;
}

void Settings::refresh()
{
    m_defaults->reload();
    announce(true);
    // A few quick tries for a file another process held locked; after that the next read tries (the
    // updater reads at every tick), so a full disk costs no wake-ups of its own.
    if (m_defaults->isSaved())
        m_retries = 0;
    else if (!m_retry->isActive() && ++m_retries < kQuickRetries)
        m_retry->start();
    // The file is replaced at every write: the watch on the old one is gone with it.
    if (m_watcher && QFileInfo::exists(filePath()) && !m_watcher->files().contains(filePath()))
        m_watcher->addPath(filePath());
}

void Settings::watch()
{
    const QString folder = QFileInfo(filePath()).absolutePath();
    if (!QDir().mkpath(folder))
        return; // a file in the folder's way: nothing to watch, and nothing another process could write
    m_watcher = std::make_unique<QFileSystemWatcher>();
    m_watcher->addPath(folder);
    if (QFileInfo::exists(filePath()))
        m_watcher->addPath(filePath());
    // The folder tells of a file replaced by a rename; the file of one written in place (by hand, say).
    connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, this, &Settings::refresh);
    connect(m_watcher.get(), &QFileSystemWatcher::fileChanged, this, &Settings::refresh);
}

} // namespace vennacott
