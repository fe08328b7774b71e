// history [--json] [--since DATE]: what the updater of these settings saw change.
#include "historycommand.h"

#include "console.h"
#include "history.h"
#include "setuppaths.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace vennacott::ctl {
namespace {

// "2026-12-01" (midnight UTC) or an ISO 8601 time ("2026-12-01T18:00:00Z"; without a zone, UTC).
QDateTime sinceOf(const QString &text)
{
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid())
        return QDateTime(date, QTime(0, 0), Qt::UTC);
    QDateTime time = QDateTime::fromString(text, Qt::ISODate);
    if (time.isValid() && time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC);
    return time.toUTC();
}

} // namespace

QString HistoryCommand::summary() const
{
    return QStringLiteral("show when the address or the result of the updates changed");
}

QStringList HistoryCommand::help() const
{
    return {
        QStringLiteral("Prints what the updater of these settings (the window or run) saw change, oldest first, one"),
        QStringLiteral("line each: the time in UTC, the family (IPv4, IPv6, or - when not known), the result and the"),
        QStringLiteral("address the service saw. An entry is kept only when an address or the result changes, for a"),
        QStringLiteral("year and 10,000 entries at most."),
        QString(),
        QStringLiteral("  --json          a JSON array of objects: time, family, result, address"),
        QStringLiteral("  --since DATE    entries from DATE on (2026-12-01, or 2026-12-01T18:00:00Z)"),
    };
}

void HistoryCommand::start(const Invocation &invocation, const Finish &finish)
{
    QDateTime since;
    if (invocation.values.contains(QStringLiteral("--since"))) {
        const QString text = invocation.values.value(QStringLiteral("--since"));
        since = sinceOf(text);
        if (!since.isValid()) {
            complain(QStringLiteral("--since takes a date such as 2026-12-01, not '%1'").arg(text));
            console::logLine(QStringLiteral("Try '%1 history --help'.").arg(kProgram));
            finish(ExitStatus::Usage);
            return;
        }
    }
    const QList<HistoryEntry> entries = History(setup::historyFilePath()).read(since);
    if (invocation.flags.contains(QStringLiteral("--json"))) {
        QJsonArray array;
        for (const HistoryEntry &entry : entries)
            array.append(entry.toJson());
        say(QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    } else {
        for (const HistoryEntry &entry : entries)
            say(entry.line());
    }
    finish(ExitStatus::Done);
}

} // namespace vennacott::ctl
