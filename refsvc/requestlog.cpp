// The one log line written for every request.
#include "requestlog.h"

#include "console.h"
#include "service.h"

#include <QDateTime>
#include <QStringList>

namespace vennacott::refsvc {
namespace {

// Too short to hold a token or an update key.
constexpr qsizetype kMaxUnknownSegment = 24;

bool isPlainSegment(QStringView segment)
{
    for (const QChar c : segment) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' ||
                        u == '_' || u == '-';
        if (!ok)
            return false;
    }
    return true;
}

QString unknownPath(QStringView path)
{
    const QStringView rest = path.mid(1);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const QStringView first = slash < 0 ? rest : rest.left(slash);
    const bool more = slash >= 0 && slash + 1 < rest.size();
    if (first.isEmpty() && !more)
        return QStringLiteral("/");
    if (first.size() > kMaxUnknownSegment || !isPlainSegment(first))
        return QStringLiteral("/<unknown path>");
    return QLatin1Char('/') + first.toString() + (more ? QStringLiteral("/…") : QString());
}

QString updatePath(QStringView path)
{
    static const QString newPrefix = QStringLiteral("/new/");
    static const QString updatePrefix = QStringLiteral("/update/");
    if (path == QLatin1String("/"))
        return QStringLiteral("/");
    if (path.startsWith(newPrefix)) {
        const QStringView name = path.mid(newPrefix.size());
        return newPrefix + (isValidHostName(name) ? name.toString() : QStringLiteral("<invalid name>"));
    }
    if (path.startsWith(updatePrefix)) {
        const QStringView rest = path.mid(updatePrefix.size());
        const qsizetype slash = rest.indexOf(QLatin1Char('/'));
        const QStringView name = slash < 0 ? rest : rest.left(slash);
        return updatePrefix + (isValidHostName(name) ? name.toString() : QStringLiteral("<invalid name>")) +
               QStringLiteral("/<key>");
    }
    return unknownPath(path);
}

void writeLine(Origin origin, const QHostAddress &caller, const QString &method, const QString &path, int status)
{
    console::printLine(QStringList{QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                                   origin == Origin::Api ? QStringLiteral("api") : QStringLiteral("update"),
                                   caller.toString(), method, path, QString::number(status)}
                           .join(QLatin1Char(' ')));
}

} // namespace

QString loggablePath(Origin origin, QStringView path)
{
    if (origin == Origin::Update)
        return updatePath(path);
    for (const char *known : {"/login", "/secure/api/save_dns", "/secure/api/get_dns"}) {
        if (path == QLatin1String(known))
            return path.toString();
    }
    return unknownPath(path);
}

void logRequest(Origin origin, const QHostAddress &caller, QStringView method, QStringView path, int status)
{
    writeLine(origin, caller, method.toString(), loggablePath(origin, path), status);
}

void logRefusedRequest(Origin origin, const QHostAddress &caller, int status)
{
    writeLine(origin, caller, QStringLiteral("-"),
              status == 413 ? QStringLiteral("<request too large>") : QStringLiteral("<request too slow>"), status);
}

} // namespace vennacott::refsvc
