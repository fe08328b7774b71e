// What the updater knows of its last update, what it means, and how it is told.
#include "updaterstatus.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QLocale>

namespace vennacott {
namespace {

QString localTime(const QDateTime &time)
{
    return QLocale().toString(time.toLocalTime().time(), QLocale::ShortFormat);
}

QJsonValue textOrNull(const QString &value)
{
    return value.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(value);
}

QJsonValue timeOrNull(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue(QJsonValue::Null);
}

QDateTime timeOf(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate).toUTC();
}

} // namespace

QString resultName(UpdateResult result)
{
    switch (result) {
    case UpdateResult::Updated:
        return QStringLiteral("updated");
    case UpdateResult::Refused:
        return QStringLiteral("refused");
    case UpdateResult::NoAnswer:
        break;
    }
    return QStringLiteral("no_answer");
}

std::optional<UpdateResult> resultFromName(const QString &name)
{
    for (const UpdateResult result : {UpdateResult::Updated, UpdateResult::Refused, UpdateResult::NoAnswer}) {
        if (resultName(result) == name)
            return result;
    }
    return std::nullopt;
}

UpdateAttempt attemptOf(const Exchange &exchange, const QDateTime &sentAt)
{
    UpdateAttempt attempt;
    attempt.time = sentAt.toUTC();
    switch (exchange.end) {
    case Exchange::End::NoAnswer:
    case Exchange::End::Cancelled:
        attempt.result = UpdateResult::NoAnswer;
        return attempt;
    case Exchange::End::NotSent:
        attempt.result = UpdateResult::Refused;
        attempt.error =
            QCoreApplication::translate("UpdaterStatus", "the stored update link does not make a valid address");
        return attempt;
    case Exchange::End::Answered:
        break;
    }
    const QJsonObject &object = exchange.decoded.object;
    const bool isObject = exchange.decoded.kind == DecodedBody::Kind::Object;
    const QJsonValue address = object.value(QStringLiteral("ip"));
    if (isObject && address.isString())
        attempt.address = address.toString();
    const QJsonValue error = object.value(QStringLiteral("error"));
    if (isObject && error.isString())
        attempt.error = error.toString();
    const bool success = exchange.httpStatus >= 200 && exchange.httpStatus < 300;
    if (isObject && success && attempt.error.isEmpty()) {
        attempt.result = UpdateResult::Updated;
        return attempt;
    }
    attempt.result = UpdateResult::Refused;
    if (attempt.error.isEmpty()) {
        attempt.error =
            !success ? QCoreApplication::translate("UpdaterStatus", "HTTP status %1").arg(exchange.httpStatus)
                     : QCoreApplication::translate("UpdaterStatus", "the update server's reply is not a JSON object");
    }
    return attempt;
}

bool UpdaterStatus::operator==(const UpdaterStatus &other) const
{
    const auto same = [](const std::optional<UpdateAttempt> &a, const std::optional<UpdateAttempt> &b) {
        if (!a || !b)
            return !a && !b;
        return a->time == b->time && a->result == b->result && a->address == b->address && a->error == b->error;
    };
    return linkFingerprint == other.linkFingerprint && same(last, other.last) &&
           failuresInARow == other.failuresInARow && failingSince == other.failingSince &&
           knownAddress == other.knownAddress;
}

QJsonObject UpdaterStatus::toJson() const
{
    QJsonObject object{{QStringLiteral("link"), linkFingerprint},
                       {QStringLiteral("failures_in_a_row"), failuresInARow},
                       {QStringLiteral("failing_since"), timeOrNull(failingSince)},
                       {QStringLiteral("known_address"), textOrNull(knownAddress)}};
    if (last) {
        object.insert(QStringLiteral("last_update"), QJsonObject{{QStringLiteral("time"), timeOrNull(last->time)},
                                                                 {QStringLiteral("result"), resultName(last->result)},
                                                                 {QStringLiteral("address"), textOrNull(last->address)},
                                                                 {QStringLiteral("error"), textOrNull(last->error)}});
    } else {
        object.insert(QStringLiteral("last_update"), QJsonValue::Null);
    }
    return object;
}

std::optional<UpdaterStatus> UpdaterStatus::fromJson(const QJsonObject &object)
{
    UpdaterStatus status;
    status.linkFingerprint = object.value(QStringLiteral("link")).toString();
    status.failuresInARow = qMax(0, object.value(QStringLiteral("failures_in_a_row")).toInt());
    status.failingSince = timeOf(object.value(QStringLiteral("failing_since")));
    status.knownAddress = object.value(QStringLiteral("known_address")).toString();
    const QJsonValue last = object.value(QStringLiteral("last_update"));
    if (last.isObject()) {
        const QJsonObject attempt = last.toObject();
        const std::optional<UpdateResult> result = resultFromName(attempt.value(QStringLiteral("result")).toString());
        const QDateTime time = timeOf(attempt.value(QStringLiteral("time")));
        if (!result || !time.isValid())
            return std::nullopt;
        status.last = UpdateAttempt{time, *result, attempt.value(QStringLiteral("address")).toString(),
                                    attempt.value(QStringLiteral("error")).toString()};
    } else if (!last.isNull()) {
        return std::nullopt;
    }
    if (status.linkFingerprint.isEmpty())
        return std::nullopt;
    return status;
}

QString linkFingerprint(const QString &link)
{
    if (link.isEmpty())
        return QString();
    const QByteArray digest = QCryptographicHash::hash(link.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(16));
}

UpdaterStatus advance(const UpdaterStatus &status, const UpdateAttempt &attempt)
{
    UpdaterStatus next = status;
    next.last = attempt;
    if (attempt.result == UpdateResult::Updated) {
        next.failuresInARow = 0;
        next.failingSince = QDateTime();
    } else {
        if (next.failuresInARow == 0)
            next.failingSince = attempt.time;
        ++next.failuresInARow;
    }
    if (!attempt.address.isEmpty())
        next.knownAddress = attempt.address;
    return next;
}

QList<StatusEvent> eventsBetween(const UpdaterStatus &before, const UpdaterStatus &after)
{
    QList<StatusEvent> events;
    if (before.failuresInARow < kFailuresWorthTelling && after.failuresInARow >= kFailuresWorthTelling)
        events.append(StatusEvent::StartedFailing);
    if (before.failuresInARow >= kFailuresWorthTelling && after.failuresInARow == 0)
        events.append(StatusEvent::WorkingAgain);
    if (!before.knownAddress.isEmpty() && !after.knownAddress.isEmpty() && before.knownAddress != after.knownAddress)
        events.append(StatusEvent::AddressChanged);
    return events;
}

QString statusLine(const UpdaterStatus &status, std::chrono::milliseconds interval)
{
    if (!status.last)
        return QCoreApplication::translate("UpdaterStatus", "Waiting for the first update");
    const UpdateAttempt &last = *status.last;
    switch (last.result) {
    case UpdateResult::Updated:
        if (last.address.isEmpty())
            return QCoreApplication::translate("UpdaterStatus", "Updated at %1").arg(localTime(last.time));
        return QCoreApplication::translate("UpdaterStatus", "Updated at %1 — the service sees %2")
            .arg(localTime(last.time), last.address);
    case UpdateResult::Refused:
        return QCoreApplication::translate("UpdaterStatus", "The update server refused the last update at %1: %2")
            .arg(localTime(last.time), last.error);
    case UpdateResult::NoAnswer:
        break;
    }
    const qint64 seconds = std::chrono::duration_cast<std::chrono::seconds>(interval).count();
    const QDateTime since = status.failingSince.isValid() ? status.failingSince : last.time;
    return QCoreApplication::translate("UpdaterStatus",
                                       "No answer from the update server since %1; trying again every %n seconds",
                                       nullptr, int(seconds))
        .arg(localTime(since));
}

} // namespace vennacott
