// The saved host as the backend returns it, cut into the host name and the update link.
#include "savedhost.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringList>
#include <QTextBoundaryFinder>

namespace vennacott {
namespace {

// The longest update link the update server hands out, and a reply that could hold one.
constexpr qsizetype kMaxLinkCharacters = 512;
constexpr qsizetype kMaxReplyCharacters = 2 * kMaxLinkCharacters;

// Offsets in the saved-host text count characters as a reader sees them, not UTF-16 units.
QStringList graphemes(const QString &text)
{
    QStringList pieces;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() >= 0) {
        pieces.append(text.mid(start, finder.position() - start));
        start = finder.position();
    }
    return pieces;
}

QString joined(const QStringList &pieces, qsizetype from, qsizetype to)
{
    QString text;
    for (qsizetype i = from; i < to; ++i)
        text += pieces.at(i);
    return text;
}

// The value of `text` when it is exactly one JSON string (escapes such as "\/" decoded).
std::optional<QString> jsonStringValue(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(QLatin1Char('"')))
        return std::nullopt;
    // The reader refuses a string at top level; inside an array it reads one, and only one, as it is.
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson('[' + trimmed.toUtf8() + ']', &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1 || !document.array().at(0).isString())
        return std::nullopt;
    return document.array().at(0).toString();
}

// The host name of a link: from the character at `start` up to, not including, the last "/".
std::optional<SavedHost> cut(const QString &text, qsizetype hostnameStart, bool quoted)
{
    const QStringList characters = graphemes(text);
    const qsizetype lastSlash = characters.lastIndexOf(QStringLiteral("/"));
    if (lastSlash < 0)
        return std::nullopt;
    SavedHost saved;
    saved.hostname = lastSlash > hostnameStart ? joined(characters, hostnameStart, lastSlash) : QString();
    if (!quoted)
        saved.link = text;
    else
        saved.link = characters.size() >= 3 ? joined(characters, 1, characters.size() - 1) : QString();
    return saved;
}

} // namespace

std::optional<SavedHost> cutSavedHost(const QString &text)
{
    // The link begins with "/update/": the name starts at its ninth character, the tenth of the quoted text.
    if (const std::optional<QString> link = jsonStringValue(text))
        return cut(*link, 8, false);
    return cut(text, 9, true);
}

std::optional<SavedHost> acceptedSavedHost(const QString &text)
{
    if (text.isEmpty() || text.size() > kMaxReplyCharacters)
        return std::nullopt;
    const std::optional<SavedHost> saved = cutSavedHost(text);
    if (!saved || saved->link.size() > kMaxLinkCharacters)
        return std::nullopt;
    static const QRegularExpression form(
        QStringLiteral("^/update/([A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?)/[A-Za-z0-9._~!$&'()*+,;=:@%-]+$"));
    const QRegularExpressionMatch match = form.match(saved->link);
    if (!match.hasMatch() || match.captured(1) != saved->hostname)
        return std::nullopt;
    return saved;
}

} // namespace vennacott
