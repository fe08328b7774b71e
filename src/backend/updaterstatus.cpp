// What the updater knows of its last update, what it means, and how it is told.
#include "updaterstatus.h"

#include "addressfamilies.h"
#include "timetext.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QLocale>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <cstring>

namespace vennacott {
namespace {

QString localTime(const QDateTime &time)
{
    return QLocale().toString(time.toLocalTime().time(), QLocale::ShortFormat);
}

// The status file is written at every tick: as text into one buffer, since Qt's JSON objects copy and
// re-sort themselves at every insertion, which cost two thirds of an update's instructions.
void appendText(QByteArray &json, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    json += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            json += "\\u00";
            json += "0123456789abcdef"[byte >> 4];
            json += "0123456789abcdef"[byte & 0xf];
        } else {
            json += c;
        }
    }
    json += '"';
}

void appendTextOrNull(QByteArray &json, const QString &value)
{
    if (value.isEmpty())
        json += "null";
    else
        appendText(json, value);
}

void appendTimeOrNull(QByteArray &json, const QDateTime &time)
{
    if (time.isValid())
        appendText(json, utcIsoText(time));
    else
        json += "null";
}

QDateTime timeOf(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODate).toUTC();
}

bool sameAttempt(const std::optional<UpdateAttempt> &a, const std::optional<UpdateAttempt> &b)
{
    if (!a || !b)
        return !a && !b;
    return a->time == b->time && a->result == b->result && a->address == b->address && a->error == b->error &&
           a->family == b->family && a->interface == b->interface;
}

void appendAttempt(QByteArray &json, const std::optional<UpdateAttempt> &last)
{
    if (!last) {
        json += "null";
        return;
    }
    json += "{\"time\":";
    appendTimeOrNull(json, last->time);
    json += ",\"result\":";
    appendText(json, resultName(last->result));
    json += ",\"address\":";
    appendTextOrNull(json, last->address);
    json += ",\"error\":";
    appendTextOrNull(json, last->error);
    if (last->family != AddressFamily::Any) {
        json += ",\"family\":";
        appendText(json, familyKey(last->family));
    }
    if (!last->interface.isEmpty()) {
        json += ",\"interface\":";
        appendText(json, last->interface);
    }
    json += '}';
}

// Nothing when the value is neither null nor a well-formed attempt.
std::optional<std::optional<UpdateAttempt>> attemptFromJson(const QJsonValue &value)
{
    if (value.isNull() || value.isUndefined())
        return std::optional<UpdateAttempt>();
    const QJsonObject attempt = value.toObject();
    const std::optional<UpdateResult> result = resultFromName(attempt.value(QStringLiteral("result")).toString());
    const QDateTime time = timeOf(attempt.value(QStringLiteral("time")));
    if (!value.isObject() || !result || !time.isValid())
        return std::nullopt;
    const QString family = attempt.value(QStringLiteral("family")).toString();
    return UpdateAttempt{time,
                         *result,
                         attempt.value(QStringLiteral("address")).toString(),
                         attempt.value(QStringLiteral("error")).toString(),
                         family == familyKey(AddressFamily::IPv4)   ? AddressFamily::IPv4
                         : family == familyKey(AddressFamily::IPv6) ? AddressFamily::IPv6
                                                                    : AddressFamily::Any,
                         attempt.value(QStringLiteral("interface")).toString()};
}

// "203.0.113.7 (IPv4) and 2001:db8::7 (IPv6)" when the service saw both, else the one it saw.
QString seenAddresses(const UpdaterStatus &status, const UpdateAttempt &last)
{
    const FamilyStatus &other =
        status.family(last.family == AddressFamily::IPv6 ? AddressFamily::IPv4 : AddressFamily::IPv6);
    if (last.family == AddressFamily::Any || other.knownAddress.isEmpty() || last.address.isEmpty())
        return last.address;
    const auto labelled = [](const QString &address) {
        return QStringLiteral("%1 (%2)").arg(address, familyLabel(familyOfAddress(address)));
    };
    const QString v4 = last.family == AddressFamily::IPv4 ? last.address : other.knownAddress;
    const QString v6 = last.family == AddressFamily::IPv6 ? last.address : other.knownAddress;
    return QCoreApplication::translate("UpdaterStatus", "%1 and %2").arg(labelled(v4), labelled(v6));
}

// Whether `address` lies in `prefix`/`bits` (both of one family, in network order).
bool inRange(const QByteArray &address, const QByteArray &prefix, int bits)
{
    const int bytes = bits / 8;
    if (address.size() != prefix.size() || std::memcmp(address.constData(), prefix.constData(), bytes) != 0)
        return false;
    const int rest = bits % 8;
    const auto mask = static_cast<unsigned char>(0xff << (8 - rest));
    return rest == 0 || ((address.at(bytes) ^ prefix.at(bytes)) & mask) == 0;
}

QByteArray binaryAddress(const QString &text)
{
    in6_addr v6{};
    in_addr v4{};
    const QByteArray latin = text.toLatin1();
    if (::inet_pton(AF_INET, latin.constData(), &v4) == 1)
        return QByteArray(reinterpret_cast<const char *>(&v4), sizeof v4);
    if (::inet_pton(AF_INET6, latin.constData(), &v6) == 1)
        return QByteArray(reinterpret_cast<const char *>(&v6), sizeof v6);
    return {};
}

} // namespace

QStringList warningsAbout(const UpdateAttempt &attempt)
{
    QStringList warnings;
    static const QRegularExpression vpn(QStringLiteral("^(wg|tun|tap|ppp|ipsec|tailscale|zt|nordlynx|proton)"));
    if (vpn.match(attempt.interface).hasMatch()) {
        warnings.append(
            QCoreApplication::translate(
                "UpdaterStatus", "sent through the VPN interface %1: the service may have recorded the VPN's address")
                .arg(attempt.interface));
    }
    const QByteArray address = binaryAddress(attempt.address);
    if (inRange(address, binaryAddress(QStringLiteral("100.64.0.0")), 10)) {
        warnings.append(QCoreApplication::translate("UpdaterStatus",
                                                    "your provider shares this address between customers: "
                                                    "connections from the internet may not reach this computer"));
    } else if (inRange(address, binaryAddress(QStringLiteral("10.0.0.0")), 8) ||
               inRange(address, binaryAddress(QStringLiteral("172.16.0.0")), 12) ||
               inRange(address, binaryAddress(QStringLiteral("192.168.0.0")), 16) ||
               inRange(address, binaryAddress(QStringLiteral("fc00::")), 7)) {
        warnings.append(QCoreApplication::translate("UpdaterStatus",
                                                    "the service saw the private address %1: connections from the "
                                                    "internet cannot reach it")
                            .arg(attempt.address));
    }
    return warnings;
}

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

bool FamilyStatus::operator==(const FamilyStatus &other) const
{
    return sameAttempt(last, other.last) && knownAddress == other.knownAddress && failingSince == other.failingSince;
}

bool UpdaterStatus::operator==(const UpdaterStatus &other) const
{
    return linkFingerprint == other.linkFingerprint && sameAttempt(last, other.last) &&
           failuresInARow == other.failuresInARow && failingSince == other.failingSince &&
           knownAddress == other.knownAddress && ipv4 == other.ipv4 && ipv6 == other.ipv6;
}

QByteArray UpdaterStatus::toJson() const
{
    QByteArray json;
    json.reserve(1024);
    json += "{\"link\":";
    appendText(json, linkFingerprint);
    json += ",\"failures_in_a_row\":" + QByteArray::number(failuresInARow) + ",\"failing_since\":";
    appendTimeOrNull(json, failingSince);
    json += ",\"known_address\":";
    appendTextOrNull(json, knownAddress);
    json += ",\"last_update\":";
    appendAttempt(json, last);
    json += ",\"addresses\":{\"ipv4\":";
    appendTextOrNull(json, ipv4.knownAddress);
    json += ",\"ipv6\":";
    appendTextOrNull(json, ipv6.knownAddress);
    json += "},\"last_updates\":{\"ipv4\":";
    appendAttempt(json, ipv4.last);
    json += ",\"ipv6\":";
    appendAttempt(json, ipv6.last);
    json += "},\"failing_since_by_family\":{\"ipv4\":";
    appendTimeOrNull(json, ipv4.failingSince);
    json += ",\"ipv6\":";
    appendTimeOrNull(json, ipv6.failingSince);
    json += "}}";
    return json;
}

std::optional<UpdaterStatus> UpdaterStatus::fromJson(const QJsonObject &object)
{
    UpdaterStatus status;
    status.linkFingerprint = object.value(QStringLiteral("link")).toString();
    status.failuresInARow = qMax(0, object.value(QStringLiteral("failures_in_a_row")).toInt());
    status.failingSince = timeOf(object.value(QStringLiteral("failing_since")));
    status.knownAddress = object.value(QStringLiteral("known_address")).toString();
    const std::optional<std::optional<UpdateAttempt>> last =
        attemptFromJson(object.value(QStringLiteral("last_update")));
    if (!last || status.linkFingerprint.isEmpty())
        return std::nullopt;
    status.last = *last;
    const QJsonObject addresses = object.value(QStringLiteral("addresses")).toObject();
    const QJsonObject lastUpdates = object.value(QStringLiteral("last_updates")).toObject();
    for (FamilyStatus *family : {&status.ipv4, &status.ipv6}) {
        const QString key = family == &status.ipv4 ? QStringLiteral("ipv4") : QStringLiteral("ipv6");
        family->knownAddress = addresses.value(key).toString();
        family->failingSince = timeOf(object.value(QStringLiteral("failing_since_by_family")).toObject().value(key));
        const std::optional<std::optional<UpdateAttempt>> familyLast = attemptFromJson(lastUpdates.value(key));
        if (!familyLast)
            return std::nullopt;
        family->last = *familyLast;
    }
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
    if (attempt.family != AddressFamily::Any) {
        FamilyStatus &family = attempt.family == AddressFamily::IPv6 ? next.ipv6 : next.ipv4;
        family.last = attempt;
        if (!attempt.address.isEmpty())
            family.knownAddress = attempt.address;
        if (attempt.result == UpdateResult::Updated)
            family.failingSince = QDateTime();
        else if (!family.failingSince.isValid())
            family.failingSince = attempt.time;
    }
    return next;
}

QList<StatusEvent> eventsBetween(const UpdaterStatus &before, const UpdaterStatus &after)
{
    QList<StatusEvent> events;
    if (before.failuresInARow < kFailuresWorthTelling && after.failuresInARow >= kFailuresWorthTelling)
        events.append(StatusEvent::StartedFailing);
    if (before.failuresInARow >= kFailuresWorthTelling && after.failuresInARow == 0)
        events.append(StatusEvent::WorkingAgain);
    // Per family: with updates over both, the last address alternates between an IPv4 and an IPv6 one.
    const AddressFamily family = lastFamily(after);
    const QString was = family == AddressFamily::Any ? before.knownAddress : before.family(family).knownAddress;
    const QString is = family == AddressFamily::Any ? after.knownAddress : after.family(family).knownAddress;
    if (!was.isEmpty() && !is.isEmpty() && was != is)
        events.append(StatusEvent::AddressChanged);
    return events;
}

namespace {

QString attemptLine(const UpdaterStatus &status, const UpdateAttempt &last, const QDateTime &failingSince,
                    std::chrono::milliseconds interval)
{
    switch (last.result) {
    case UpdateResult::Updated: {
        if (last.address.isEmpty())
            return QCoreApplication::translate("UpdaterStatus", "Updated at %1").arg(localTime(last.time));
        QString line = QCoreApplication::translate("UpdaterStatus", "Updated at %1 — the service sees %2")
                           .arg(localTime(last.time), seenAddresses(status, last));
        // Each family's last update may have its own reason for concern; the same words once.
        QStringList warnings = warningsAbout(last);
        for (const FamilyStatus *family : {&status.ipv4, &status.ipv6}) {
            if (family->last && family->last->result == UpdateResult::Updated)
                warnings += warningsAbout(*family->last);
        }
        warnings.removeDuplicates();
        for (const QString &warning : warnings)
            line += QStringLiteral("\n⚠ ") + warning;
        return line;
    }
    case UpdateResult::Refused:
        return QCoreApplication::translate("UpdaterStatus", "The update server refused the last update at %1: %2")
            .arg(localTime(last.time), last.error);
    case UpdateResult::NoAnswer:
        break;
    }
    const qint64 seconds = std::chrono::duration_cast<std::chrono::seconds>(interval).count();
    const QDateTime since = failingSince.isValid() ? failingSince : last.time;
    return QCoreApplication::translate("UpdaterStatus",
                                       "No answer from the update server since %1; trying again every %n seconds",
                                       nullptr, int(seconds))
        .arg(localTime(since));
}

} // namespace

QString statusLine(const UpdaterStatus &status, std::chrono::milliseconds interval)
{
    if (!status.last)
        return QCoreApplication::translate("UpdaterStatus", "Waiting for the first update");
    // Over both families one may fail while the other works: the working one first, the other on a line of
    // its own, so that the line does not flip with every request.
    const FamilyStatus &v4 = status.ipv4;
    const FamilyStatus &v6 = status.ipv6;
    if (status.last->family != AddressFamily::Any && v4.last && v6.last && v4.last->result != v6.last->result) {
        const bool v4First = v4.last->result == UpdateResult::Updated;
        const FamilyStatus &first = v4First ? v4 : v6;
        const FamilyStatus &second = v4First ? v6 : v4;
        return attemptLine(status, *first.last, first.failingSince, interval) + QLatin1Char('\n') +
               QCoreApplication::translate("UpdaterStatus", "%1: %2")
                   .arg(familyLabel(v4First ? AddressFamily::IPv6 : AddressFamily::IPv4),
                        attemptLine(status, *second.last, second.failingSince, interval));
    }
    return attemptLine(status, *status.last, status.failingSince, interval);
}

} // namespace vennacott
