// What stands in printed lines for the secrets: the password, the bearer token and the update key.
#include "redaction.h"

namespace vennacott {

QString redactedSecret(const QString &secret)
{
    return secret.isEmpty() ? QString() : kRedacted;
}

QString redactedLink(const QString &link)
{
    if (link.isEmpty())
        return link;
    qsizetype end = link.size();
    while (end > 0 && link.at(end - 1) == QLatin1Char('/'))
        --end;
    const qsizetype slash = link.lastIndexOf(QLatin1Char('/'), end - 1);
    if (slash < 0 || end == 0)
        return kRedacted;
    return link.left(slash + 1) + kRedacted;
}

QString withoutUpdateKey(const QString &text, const QString &link)
{
    constexpr qsizetype kShortestKey = 8;
    const QString key = link.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    if (key.size() < kShortestKey || link.count(QLatin1Char('/')) == 0)
        return text;
    return QString(text).replace(key, kRedacted);
}

} // namespace vennacott
