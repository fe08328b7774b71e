// What the updater saw change, kept across restarts.
#include "history.h"

#include "addressfamilies.h"
#include "timetext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace vennacott {
namespace {

// A line longer than this was not written by us; the whole file, at its bound, is far below the limit.
constexpr qint64 kMaxLineBytes = 4096;
constexpr qint64 kTrimAboveBytes = qint64(kHistoryMaxEntries) * 256;
constexpr qint64 kMaxReadBytes = 64 * 1024 * 1024;

AddressFamily familyFromKey(const QString &key)
{
    if (key == familyKey(AddressFamily::IPv4))
        return AddressFamily::IPv4;
    return key == familyKey(AddressFamily::IPv6) ? AddressFamily::IPv6 : AddressFamily::Any;
}

} // namespace

bool HistoryEntry::operator==(const HistoryEntry &other) const
{
    return time == other.time && family == other.family && result == other.result && address == other.address;
}

QJsonObject HistoryEntry::toJson() const
{
    return {{QStringLiteral("time"), utcIsoText(time)},
            {QStringLiteral("family"), family == AddressFamily::Any ? QJsonValue() : QJsonValue(familyKey(family))},
            {QStringLiteral("result"), resultName(result)},
            {QStringLiteral("address"), address.isEmpty() ? QJsonValue() : QJsonValue(address)}};
}

std::optional<HistoryEntry> HistoryEntry::fromJson(const QJsonObject &object)
{
    HistoryEntry entry;
    entry.time = QDateTime::fromString(object.value(QStringLiteral("time")).toString(), Qt::ISODate).toUTC();
    const std::optional<UpdateResult> result = resultFromName(object.value(QStringLiteral("result")).toString());
    if (!entry.time.isValid() || !result)
        return std::nullopt;
    entry.result = *result;
    entry.family = familyFromKey(object.value(QStringLiteral("family")).toString());
    entry.address = object.value(QStringLiteral("address")).toString();
    return entry;
}

QString HistoryEntry::line() const
{
    const QString family = this->family == AddressFamily::Any ? QStringLiteral("-") : familyLabel(this->family);
    return QStringLiteral("%1 UTC  %2  %3  %4")
        .arg(utcLineText(time), family.leftJustified(4), resultName(result).leftJustified(9),
             address.isEmpty() ? QStringLiteral("-") : address);
}

std::optional<HistoryEntry> historyEntryBetween(const UpdaterStatus &before, const UpdaterStatus &after)
{
    if (!after.last)
        return std::nullopt;
    const UpdateAttempt &last = *after.last;
    const AddressFamily family = last.family;
    const std::optional<UpdateAttempt> &previous =
        family == AddressFamily::Any ? before.last : before.family(family).last;
    const QString was = family == AddressFamily::Any ? before.knownAddress : before.family(family).knownAddress;
    const QString is = family == AddressFamily::Any ? after.knownAddress : after.family(family).knownAddress;
    if (previous && previous->result == last.result && was == is)
        return std::nullopt;
    return HistoryEntry{last.time, family, last.result, is};
}

History::History(QString filePath)
    : m_filePath(std::move(filePath))
{}

bool History::append(const HistoryEntry &entry)
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir(folder).exists() &&
        (!QDir().mkpath(folder) ||
         !QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)))
        return false;
    QFile file(m_filePath);
    const bool existed = file.exists();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    if (!existed)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // A line torn by a crash is ended first, so it spoils only itself.
    QByteArray line = QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n';
    if (file.size() > 0) {
        QFile reader(m_filePath);
        if (reader.open(QIODevice::ReadOnly) && reader.seek(file.size() - 1) && reader.read(1) != "\n")
            line.prepend('\n');
    }
    const bool written = file.write(line) == line.size() && file.flush();
    const bool large = file.size() > kTrimAboveBytes;
    file.close();
    if (large)
        trim();
    return written;
}

QList<HistoryEntry> History::read(const QDateTime &since) const
{
    QList<HistoryEntry> entries;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QDateTime oldest = QDateTime::currentDateTimeUtc().addDays(-kHistoryMaxDays);
    const QDateTime from = since.isValid() && since > oldest ? since : oldest;
    qint64 total = 0;
    while (!file.atEnd() && total < kMaxReadBytes) {
        const QByteArray line = file.readLine(kMaxLineBytes);
        total += line.size();
        if (!line.endsWith('\n'))
            continue; // torn, or too long
        const QJsonDocument document = QJsonDocument::fromJson(line);
        const std::optional<HistoryEntry> entry =
            document.isObject() ? HistoryEntry::fromJson(document.object()) : std::nullopt;
        if (entry && entry->time >= from)
            entries.append(*entry);
    }
    if (entries.size() > kHistoryMaxEntries)
        entries = entries.mid(entries.size() - kHistoryMaxEntries);
    return entries;
}

void History::trim()
{
    const QList<HistoryEntry> kept = read();
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const HistoryEntry &entry : kept)
        file.write(QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact) + '\n');
    file.commit();
}

} // namespace vennacott
