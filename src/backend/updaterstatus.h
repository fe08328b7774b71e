// What the updater knows of its last update: when, what came of it, the address the service sees, and how
// many ticks in a row have failed. Kept by the running updater, read by everything that shows it.
#pragma once

#include "transport.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace vennacott {

enum class UpdateResult {
    Updated,  // a JSON object with no error text, with a 2xx status
    Refused,  // an error text, an HTTP error status, or a reply that is no JSON object
    NoAnswer, // a transport failure or the timeout
};

// "updated", "refused", "no_answer": the names scripts read.
QString resultName(UpdateResult result);
std::optional<UpdateResult> resultFromName(const QString &name);

struct UpdateAttempt
{
    QDateTime time; // when the request was sent, UTC
    UpdateResult result = UpdateResult::NoAnswer;
    QString address; // the reply's "ip" text, when it has one
    QString error;   // the server's error text, or ours for a refusal without one
    // The family the request went over: the one asked for, else that of the address the service saw; Any when
    // neither is known.
    AddressFamily family = AddressFamily::Any;
    QString interface; // the network interface it left through, when known
};

// What the user should know about an attempt's address, in plain words: sent through a VPN interface, or an
// address the service saw in a shared or private range. Empty when nothing.
QStringList warningsAbout(const UpdateAttempt &attempt);

// What an exchange of the update request means.
UpdateAttempt attemptOf(const Exchange &exchange, const QDateTime &sentAt);

// The last attempt and the last address the service saw over one address family.
struct FamilyStatus
{
    std::optional<UpdateAttempt> last;
    QString knownAddress;
    QDateTime failingSince; // the first failed attempt of this family's current run of failures
    bool operator==(const FamilyStatus &other) const;
};

struct UpdaterStatus
{
    // Which update link the status is about (a fingerprint: the link itself is a secret). A status about
    // another link than the stored one is not shown.
    QString linkFingerprint;
    std::optional<UpdateAttempt> last;
    int failuresInARow = 0;
    QDateTime failingSince; // the first failed attempt of the current run of failures
    QString knownAddress;   // the last address the service reported, kept through failures
    FamilyStatus ipv4;      // the same per family, once an attempt's family is known
    FamilyStatus ipv6;

    const FamilyStatus &family(AddressFamily family) const { return family == AddressFamily::IPv6 ? ipv6 : ipv4; }

    bool operator==(const UpdaterStatus &other) const;
    bool operator!=(const UpdaterStatus &other) const { return !(*this == other); }

    // The status file's form: one compact JSON object.
    QByteArray toJson() const;
    static std::optional<UpdaterStatus> fromJson(const QJsonObject &object);
};

// A short fingerprint of an update link that does not give the key away; empty for an empty link.
QString linkFingerprint(const QString &link);

// The family whose address the last attempt changed, or whose result it told.
inline AddressFamily lastFamily(const UpdaterStatus &status)
{
    return status.last ? status.last->family : AddressFamily::Any;
}

// The status after one more attempt.
UpdaterStatus advance(const UpdaterStatus &status, const UpdateAttempt &attempt);

// What is worth telling the user between two statuses: never one per tick.
enum class StatusEvent {
    StartedFailing, // the third failure in a row
    WorkingAgain,   // the first update after such a run of failures
    AddressChanged, // the service reports an address other than the one it reported before over that family
};
QList<StatusEvent> eventsBetween(const UpdaterStatus &before, const UpdaterStatus &after);

// Ticks in a row that make a run of failures worth a notification.
inline constexpr int kFailuresWorthTelling = 3;

// One line for people: "Updated at 19:03 — the service sees 203.0.113.7", and so on; a second one for a family
// that fails while the other works, and one for each warning. Times in local time
// and the user's locale. `interval` is how often the updater tries.
QString statusLine(const UpdaterStatus &status, std::chrono::milliseconds interval);

} // namespace vennacott
