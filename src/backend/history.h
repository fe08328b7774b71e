// What the updater saw change, kept across restarts: one entry when a family's address or the result changes.
#pragma once

#include "updaterstatus.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace vennacott {

struct HistoryEntry
{
    QDateTime time; // UTC
    AddressFamily family = AddressFamily::Any;
    UpdateResult result = UpdateResult::NoAnswer;
    QString address; // the address the service saw over that family, kept through failures

    bool operator==(const HistoryEntry &other) const;
    QJsonObject toJson() const;
    static std::optional<HistoryEntry> fromJson(const QJsonObject &object);
    // "2026-12-07 19:03:00 UTC  IPv4  updated  203.0.113.7", for people.
    QString line() const;
};

// The entry the step from `before` to `after` is worth, if any: never one per tick.
std::optional<HistoryEntry> historyEntryBetween(const UpdaterStatus &before, const UpdaterStatus &after);

// Entries kept: a year, and 10,000 at most.
inline constexpr int kHistoryMaxEntries = 10'000;
inline constexpr int kHistoryMaxDays = 366;

// The history file of a setup: JSON lines, private to the user. Reading skips what does not parse (a line
// torn by a crash, say).
class History final
{
public:
    explicit History(QString filePath);

    QString filePath() const { return m_filePath; }
    // Appends one entry; false when it did not reach the file.
    bool append(const HistoryEntry &entry);
    // The entries from `since` on (all when invalid), oldest first.
    QList<HistoryEntry> read(const QDateTime &since = {}) const;

private:
    void trim();

    QString m_filePath;
};

} // namespace vennacott
