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

} // namespace vennacott
