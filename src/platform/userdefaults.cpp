// The per-user settings store: a few text values kept in one private file.
#include "userdefaults.h"

#include "console.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace vennacott {
namespace {

constexpr QFileDevice::Permissions kPrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

void report(const QString &message)
{
    console::logLine(QStringLiteral("vennacott-ddns: ") + message);
}

// A settings file larger than this was not written by this program.
constexpr qint64 kMaxFileBytes = 1024 * 1024;

// True when the file holds anything but key lines, section headers, comments and blank lines, in UTF-8
// without control characters other than tab; lines end at a line feed or a carriage return, as they do for
// Qt. Qt's parser skips what it cannot read and keeps the rest, so a file whose first line is a good token
// followed by binary garbage would otherwise be trusted; everything this program writes passes (Qt escapes
// the control characters below 0x20 in values and percent-encodes keys, but writes DEL as it is, so DEL is
// no sign of damage).
bool isDamaged(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > kMaxFileBytes)
        return true;
    // Read by the file's own size: a buffer of the largest size would cost a megabyte at every write.
    const QByteArray content = file.read(file.size() + 1);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(content);
    if (decoder.hasError())
        return true;
    const QStringList lines = QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')).split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        for (const QChar c : raw) {
            if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
                return true;
        }
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || line.left(equals).trimmed().isEmpty())
            return true;
    }
    return false;
}

// True when Qt would write a key back as a line without a name: it writes "host/" (read from "host/=x" or
// "host%2F=x") as the section [host] and the line "=x", which is damage, so the file would be set aside at
// the next write, and again at every write after.
bool hasKeyWithoutName(const QSettings &settings)
{
    const QStringList keys = settings.allKeys();
    return std::any_of(keys.cbegin(), keys.cend(),
                       [](const QString &key) { return key.mid(key.indexOf(QLatin1Char('/')) + 1).isEmpty(); });
}

// Creates the folder and an empty private file so the first write never leaves a readable token behind.
bool preparePrivateFile(const QString &path, QString *error)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("cannot create folder %1").arg(info.absolutePath());
        return false;
    }
    if (!info.exists()) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    if (QFile::exists(path) && QFile::permissions(path) != kPrivateFile)
        QFile::setPermissions(path, kPrivateFile);
    return true;
}

QString statusText(QSettings::Status status)
{
    switch (status) {
    case QSettings::NoError:
        return QStringLiteral("no error");
    case QSettings::AccessError:
        return QStringLiteral("the file cannot be written");
    case QSettings::FormatError:
        return QStringLiteral("the file is corrupt");
    }
    return QStringLiteral("unknown error");
}

} // namespace

UserDefaults &UserDefaults::standard()
{
    static UserDefaults defaults(QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("vennacott"),
                                           QStringLiteral("vennacott-ddns"))
                                     .fileName());
    return defaults;
}

UserDefaults::UserDefaults(QString filePath)
    : m_filePath(std::move(filePath))
{
    load();
}

std::optional<QString> UserDefaults::stringForKey(const QString &key) const
{
    const std::lock_guard lock(m_mutex);
    const auto it = m_values.constFind(key);
    if (it == m_values.constEnd())
        return std::nullopt;
    return *it;
}

void UserDefaults::setObject(const QString &value, const QString &key)
{
    const std::lock_guard lock(m_mutex);
    m_values.insert(key, value);
    persist(key, value);
    if (m_observer)
        m_observer(key, value);
}

void UserDefaults::removeObjectForKey(const QString &key)
{
    const std::lock_guard lock(m_mutex);
    m_values.remove(key);
    persist(key, std::nullopt);
    if (m_observer)
        m_observer(key, std::nullopt);
}

void UserDefaults::setChangeObserverForTesting(ChangeObserver observer)
{
    const std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

void UserDefaults::load()
{
    const QFileInfo info(m_filePath);
    if (!info.exists())
        return;
    if (!info.isFile() || !info.isReadable()) {
        m_fileUnreadable = true;
        report(QStringLiteral("cannot read settings file %1; starting with empty settings").arg(m_filePath));
        return;
    }
    const QSettings settings(m_filePath, QSettings::NativeFormat);
    if (settings.status() == QSettings::AccessError) {
        m_fileUnreadable = true;
        report(QStringLiteral("cannot read settings file %1; starting with empty settings").arg(m_filePath));
        return;
    }
    if (setAsideIfCorrupt(settings))
        return;
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys) {
        const QVariant value = settings.value(key);
        // Only text values are ours; anything else was not written by this program.
        if (value.typeId() == QMetaType::QString)
            m_values.insert(key, value.toString());
    }
    if (QFile::permissions(m_filePath) != kPrivateFile)
        QFile::setPermissions(m_filePath, kPrivateFile);
}

bool UserDefaults::setAsideIfCorrupt(const QSettings &settings)
{
    const bool corrupt =
        settings.status() == QSettings::FormatError || isDamaged(m_filePath) || hasKeyWithoutName(settings);
    if (!corrupt)
        return false;
    const QString copy = m_filePath + QStringLiteral(".corrupt-") +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz"));
    if (QFile::rename(m_filePath, copy)) {
        report(QStringLiteral("settings file %1 is corrupt; moved it to %2 and started with empty settings")
                   .arg(m_filePath, copy));
    } else {
        // Without a copy the file must not be overwritten: treat it like an unreadable one.
        m_fileUnreadable = true;
        report(QStringLiteral("settings file %1 is corrupt and could not be moved aside; starting with empty "
                              "settings and leaving it untouched")
                   .arg(m_filePath));
    }
    return true;
}

void UserDefaults::persist(const QString &key, const std::optional<QString> &value)
{
    if (m_fileUnreadable) {
        report(QStringLiteral("setting \"%1\" not saved: settings file %2 could not be read and is left untouched")
                   .arg(key, m_filePath));
        return;
    }
    QString error;
    if (!preparePrivateFile(m_filePath, &error)) {
        report(QStringLiteral("setting \"%1\" not saved to %2: %3").arg(key, m_filePath, error));
        return;
    }
    // A fresh QSettings per write: it merges what other processes wrote and its status belongs to this
    // write alone (Qt keeps a format error flagged on an object for good).
    QSettings settings(m_filePath, QSettings::NativeFormat);
    if (settings.status() == QSettings::FormatError || isDamaged(m_filePath)) {
        // Damaged since launch: keep it aside, then write the values of this process to a fresh file.
        if (!setAsideIfCorrupt(settings))
            return;
        if (m_fileUnreadable || !preparePrivateFile(m_filePath, &error)) {
            report(QStringLiteral("setting \"%1\" not saved to %2").arg(key, m_filePath));
            return;
        }
        QSettings fresh(m_filePath, QSettings::NativeFormat);
        for (auto it = m_values.constBegin(); it != m_values.constEnd(); ++it)
            fresh.setValue(it.key(), it.value());
        fresh.sync();
        if (fresh.status() != QSettings::NoError)
            report(
                QStringLiteral("setting \"%1\" not saved to %2: %3").arg(key, m_filePath, statusText(fresh.status())));
        return;
    }
    if (value)
        settings.setValue(key, *value);
    else
        settings.remove(key);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        report(
            QStringLiteral("setting \"%1\" not saved to %2: %3").arg(key, m_filePath, statusText(settings.status())));
}

} // namespace vennacott
