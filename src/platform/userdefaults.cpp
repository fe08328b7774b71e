// The per-user settings store: a few text values kept in one private file.
#include "userdefaults.h"

#include "console.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vennacott {
namespace {

constexpr QFileDevice::Permissions kPrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

void report(const QString &message, console::Priority priority = console::Priority::Warning)
{
    console::logLine(QStringLiteral("vennacott-ddns: ") + message, priority);
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

// Why a file could not be written in `folder`, as far as can be told afterwards.
QString writeFailure(const QString &folder)
{
    struct statvfs info = {};
    if (::statvfs(QFile::encodeName(folder).constData(), &info) == 0 && info.f_bavail == 0)
        return QStringLiteral("no space left on the device");
    return QStringLiteral("the file cannot be written");
}

// Qt keeps the settings files it has parsed and parses one again only when its size or its time stamp, in
// milliseconds, has changed. Two writes of the same size within one tick of the file system's clock would
// look unchanged, and the next read, in this process or another, would get the old values: the new file
// is given a time stamp a millisecond past the old one's instead.
void keepQtsCacheHonest(const QString &written, const QString &replaced)
{
    struct stat before = {};
    struct stat after = {};
    if (::stat(QFile::encodeName(replaced).constData(), &before) != 0 ||
        ::stat(QFile::encodeName(written).constData(), &after) != 0 || before.st_size != after.st_size)
        return;
    const auto milliseconds = [](const timespec &time) {
        return qint64(time.tv_sec) * 1000 + time.tv_nsec / 1'000'000;
    };
    if (milliseconds(after.st_mtim) > milliseconds(before.st_mtim))
        return;
    const qint64 next = milliseconds(before.st_mtim) + 1;
    const timespec times[2] = {after.st_atim, {time_t(next / 1000), long(next % 1000) * 1'000'000}};
    ::utimensat(AT_FDCWD, QFile::encodeName(written).constData(), times, 0);
}

// A write killed before its rename leaves its private copy behind, which may hold the token, and, while
// Qt wrote that copy, Qt's own lock and temporary file beside it. Only a writer holding the settings
// lock makes these, so whatever of them is found by the holder of the lock is left over. Qt names them
// with six random letters; a name in letters of one case (".backup") is the user's and stays.
void removeLeftoversOfInterruptedWrites(const QString &target)
{
    const QFileInfo file(target);
    const QString random = QStringLiteral("(?=[A-Za-z]*[a-z])(?=[A-Za-z]*[A-Z])[A-Za-z]{6}");
    const QRegularExpression leftover(
        QStringLiteral("^%1\\.%2(\\.lock|\\.%2)?$").arg(QRegularExpression::escape(file.fileName()), random));
    QDir folder = file.absoluteDir();
    const QStringList names = folder.entryList({file.fileName() + QStringLiteral(".*")},
                                               QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (leftover.match(name).hasMatch())
            folder.remove(name);
    }
}

// A rename reaches the disk with the folder's entries: without this a power cut can bring the old file back.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

std::optional<QString> valueIn(const QHash<QString, QString> &values, const QString &key)
{
    const auto it = values.constFind(key);
    return it == values.constEnd() ? std::nullopt : std::optional<QString>(*it);
}

void applyTo(QHash<QString, QString> &values, const QString &key, const std::optional<QString> &value)
{
    if (value)
        values.insert(key, *value);
    else
        values.remove(key);
}

} // namespace

UserDefaults::UserDefaults(QString filePath, std::chrono::milliseconds lockWait)
    : m_filePath(std::move(filePath))
    , m_lockWait(lockWait)
{
    load();
}

std::optional<QString> UserDefaults::stringForKey(const QString &key)
{
    const std::lock_guard lock(m_mutex);
    reloadIfChangedOnDisk();
    // Reads come with every update, so changes the disk refused are tried again without a wake-up of their own.
    if (m_saveFailing)
        save();
    return valueIn(m_values, key);
}

void UserDefaults::setObject(const QString &value, const QString &key)
{
    apply({{key, value}});
}

void UserDefaults::removeObjectForKey(const QString &key)
{
    apply({{key, std::nullopt}});
}

void UserDefaults::apply(const QList<Change> &changes)
{
    const std::lock_guard lock(m_mutex);
    reloadIfChangedOnDisk();
    for (const auto &[key, value] : changes) {
        const auto unsaved = m_unsaved.find(key);
        if (unsaved == m_unsaved.end())
            m_unsaved.insert(key, {value, valueIn(m_values, key)});
        else
            unsaved->value = value;
        applyTo(m_values, key, value);
    }
    save();
}

QHash<QString, QString> UserDefaults::values()
{
    const std::lock_guard lock(m_mutex);
    reloadIfChangedOnDisk();
    return m_values;
}

bool UserDefaults::isSaved()
{
    const std::lock_guard lock(m_mutex);
    return m_unsaved.isEmpty();
}

bool UserDefaults::reload()
{
    const std::lock_guard lock(m_mutex);
    bool readAnew = reloadIfChangedOnDisk();
    if (m_saveFailing) {
        // The retried write reads what another process wrote in the meantime.
        const QHash<QString, QString> before = m_values;
        save();
        readAnew = readAnew || m_values != before;
    }
    return readAnew;
}

bool UserDefaults::FileStamp::operator==(const FileStamp &other) const
{
    return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
           modifiedNs == other.modifiedNs;
}

UserDefaults::FileStamp UserDefaults::stampOnDisk() const
{
    struct stat info = {};
    if (::stat(QFile::encodeName(m_filePath).constData(), &info) != 0)
        return {};
    return {true, static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino), info.st_size,
            qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

bool UserDefaults::reloadIfChangedOnDisk()
{
    // A file that could not be read stays as it was found; its values are this process's alone.
    if (m_fileUnreadable || stampOnDisk() == m_stamp)
        return false;
    m_values.clear();
    load();
    // Changes not on disk yet stay, unless another process has changed the same key since they were made.
    for (auto it = m_unsaved.begin(); it != m_unsaved.end();) {
        if (valueIn(m_values, it.key()) != it->onDisk) {
            it = m_unsaved.erase(it);
            continue;
        }
        applyTo(m_values, it.key(), it->value);
        ++it;
    }
    return true;
}

void UserDefaults::load()
{
    m_stamp = stampOnDisk();
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
        // The copy may hold the token: private, whatever mode the damaged file had.
        QFile::setPermissions(copy, kPrivateFile);
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

// One line when saving starts to fail and one when it works again, however many writes come between: a
// full disk would otherwise add a line at every read.
void UserDefaults::save()
{
    const std::optional<QString> error = writeUnsaved();
    if (error && !m_saveFailing) {
        QStringList keys = m_unsaved.keys();
        keys.sort();
        report(QStringLiteral("setting%1 \"%2\" not saved to %3: %4; %5")
                   .arg(keys.size() > 1 ? QStringLiteral("s") : QString(), keys.join(QStringLiteral("\", \"")),
                        m_filePath, *error,
                        m_fileUnreadable ? QStringLiteral("kept in memory only")
                                         : QStringLiteral("kept in memory and saved once the file can be written")));
    } else if (!error && m_saveFailing) {
        report(QStringLiteral("settings saved to %1 again").arg(m_filePath), console::Priority::Notice);
    }
    m_saveFailing = error.has_value();
}

// Merges the changes not on disk yet with what the file holds now (other processes' changes included) and
// replaces the file whole with a private copy written beside it, so that a full disk leaves the old file
// as it was. QSettings only ever reads the file itself: one whose write failed keeps the change in Qt's
// cache of parsed files and writes it again, unasked, when the file is next opened.
std::optional<QString> UserDefaults::writeUnsaved()
{
    if (m_fileUnreadable)
        return QStringLiteral("the file could not be read and is left untouched");
    if (m_unsaved.isEmpty())
        return std::nullopt;
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create folder %1").arg(folder);
    // The lock QSettings takes to write this file: writers in other processes take turns.
    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    if (!lock.tryLock(int(m_lockWait.count()))) {
        return lock.error() == QLockFile::LockFailedError ? QStringLiteral("another program keeps it locked")
                                                          : writeFailure(folder);
    }
    QVariantMap merged;
    if (QFileInfo::exists(m_filePath)) {
        const QSettings current(m_filePath, QSettings::NativeFormat);
        if (setAsideIfCorrupt(current)) {
            if (m_fileUnreadable)
                return QStringLiteral("the file is damaged and could not be moved aside");
            // Damaged since it was read: the fresh file gets every value of this process.
            for (auto it = m_values.constBegin(); it != m_values.constEnd(); ++it)
                m_unsaved.insert(it.key(), {it.value(), std::nullopt});
        } else if (current.status() != QSettings::NoError) {
            return QStringLiteral("the file cannot be read");
        } else {
            const QStringList keys = current.allKeys();
            for (const QString &key : keys)
                merged.insert(key, current.value(key));
        }
    }
    for (auto it = m_unsaved.constBegin(); it != m_unsaved.constEnd(); ++it) {
        if (it->value)
            merged.insert(it.key(), *it->value);
        else
            merged.remove(it.key());
    }
    // A settings file that is a link (kept with other dotfiles, say) stays one: the file it points to is replaced.
    const QFileInfo link(m_filePath);
    const QString target = link.isSymLink() ? link.symLinkTarget() : m_filePath;
    removeLeftoversOfInterruptedWrites(target);
    QTemporaryFile temp(target + QStringLiteral(".XXXXXX")); // created with mode 0600
    if (!temp.open())
        return writeFailure(QFileInfo(target).absolutePath());
    {
        QSettings written(temp.fileName(), QSettings::NativeFormat);
        for (auto it = merged.constBegin(); it != merged.constEnd(); ++it)
            written.setValue(it.key(), it.value());
        written.sync();
        if (written.status() != QSettings::NoError)
            return writeFailure(QFileInfo(target).absolutePath());
    }
    keepQtsCacheHonest(temp.fileName(), target);
    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(target).constData()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    temp.setAutoRemove(false);
    syncFolder(QFileInfo(target).absolutePath());
    m_stamp = stampOnDisk();
    m_unsaved.clear();
    // What the file holds now: another process's changes merged in above are this process's values too, or
    // the stamp just taken would hide them from every later read.
    m_values.clear();
    for (auto it = merged.constBegin(); it != merged.constEnd(); ++it) {
        if (it.value().typeId() == QMetaType::QString)
            m_values.insert(it.key(), it.value().toString());
    }
    return std::nullopt;
}

} // namespace vennacott
