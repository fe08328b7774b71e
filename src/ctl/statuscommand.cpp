// status [--json]: the sign-in, the host and the updater of these settings, without a network request.
#include "statuscommand.h"

#include "processlock.h"
#include "setuppaths.h"

#include <QJsonDocument>

namespace vennacott::ctl {
namespace {

QJsonValue textOrNull(const std::optional<QString> &text)
{
    return text && !text->isEmpty() ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

// What the settings and the published status say right now.
struct Snapshot
{
    bool signedIn = false;
    std::optional<QString> hostname;
    std::optional<qint64> updater; // its process id (0 when unreadable), when one runs
    bool hasLink = false;
    UpdaterStatus status; // about the stored link: empty when the last update was about another one
};

Snapshot snapshot(Settings &settings)
{
    Snapshot now;
    now.signedIn = !settings.token().isEmpty();
    now.hostname = settings.registeredHostname();
    now.updater = ProcessLock::holder(setup::updaterLockPath());
    const QString link = settings.dnsLink();
    now.hasLink = !link.isEmpty();
    const std::optional<UpdaterStatus> published = readPublishedStatus();
    if (published && now.hasLink && published->linkFingerprint == linkFingerprint(link))
        now.status = *published;
    return now;
}

} // namespace

QString StatusCommand::summary() const
{
    return QStringLiteral("show the sign-in, the host and the last update");
}

QStringList StatusCommand::help() const
{
    return {
        QStringLiteral("Shows whether a sign-in is stored, the host name, whether an updater runs for these"),
        QStringLiteral("settings (the window or run) and its last update. Sends no request."),
        QString(),
        QStringLiteral("  --json   one JSON object: signed_in, hostname, full_name, updater_running and last_update"),
        QStringLiteral("           (null, or time in ISO 8601 UTC, result \"updated\", \"refused\" or \"no_answer\","),
        QStringLiteral(
            "           address and error) and addresses (ipv4, ipv6: the last address the service saw over"),
        QStringLiteral("           each family, or null)"),
    };
}

QJsonObject StatusCommand::json()
{
    const Snapshot now = snapshot(m_core.settings());
    QJsonValue last(QJsonValue::Null);
    if (now.status.last) {
        const UpdateAttempt &attempt = *now.status.last;
        last = QJsonObject{{QStringLiteral("time"), attempt.time.toUTC().toString(Qt::ISODate)},
                           {QStringLiteral("result"), resultName(attempt.result)},
                           {QStringLiteral("address"), textOrNull(attempt.address)},
                           {QStringLiteral("error"), textOrNull(attempt.error)}};
    }
    return {
        {QStringLiteral("signed_in"), now.signedIn},
        {QStringLiteral("hostname"), textOrNull(now.hostname)},
        {QStringLiteral("full_name"), now.hostname ? QJsonValue(fullName(*now.hostname)) : QJsonValue()},
        {QStringLiteral("updater_running"), now.updater.has_value()},
        {QStringLiteral("last_update"), last},
        {QStringLiteral("addresses"), QJsonObject{{QStringLiteral("ipv4"), textOrNull(now.status.ipv4.knownAddress)},
                                                  {QStringLiteral("ipv6"), textOrNull(now.status.ipv6.knownAddress)}}}};
}

void StatusCommand::start(const Invocation &invocation, const Finish &finish)
{
    if (invocation.flags.contains(QStringLiteral("--json"))) {
        say(QString::fromUtf8(QJsonDocument(json()).toJson(QJsonDocument::Compact)));
        finish(ExitStatus::Done);
        return;
    }
    const Snapshot now = snapshot(m_core.settings());
    say(QStringLiteral("Signed in:   ") +
        (now.signedIn ? QStringLiteral("yes") : QStringLiteral("no (%1 login EMAIL signs in)").arg(kProgram)));
    say(QStringLiteral("Host:        ") +
        (now.hostname ? fullName(*now.hostname)
                      : QStringLiteral("none (%1 register NAME registers one)").arg(kProgram)));
    if (!now.updater)
        say(QStringLiteral("Updater:     not running (start %1 run, or the window)").arg(kProgram));
    else if (*now.updater > 0)
        say(QStringLiteral("Updater:     running, process %1").arg(*now.updater));
    else
        say(QStringLiteral("Updater:     running"));
    say(QStringLiteral("Last update: ") +
        (now.hasLink ? statusLine(now.status, kUpdateInterval) : QStringLiteral("none (no update link stored)")));
    finish(ExitStatus::Done);
}

} // namespace vennacott::ctl
