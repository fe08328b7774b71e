// What stands in printed lines for the secrets: the password, the bearer token and the update key.
#pragma once

#include <QString>

namespace vennacott {

// Printed in place of a secret.
inline const QString kRedacted = QStringLiteral("[redacted]");

// `secret` as printed: the empty text stays empty, anything else is kRedacted.
QString redactedSecret(const QString &secret);

// An update link, or a URL that ends in one, as printed: its last path segment (the update key, with any
// trailing "/") is replaced by kRedacted, so the line still names the host; a text without "/" is
// redacted whole. Whoever holds the key can move the user's DNS record.
QString redactedLink(const QString &link);

// `text` (a server's reply or error text) with every occurrence of the update key of `link` replaced by
// kRedacted. Keys the update server hands out are long random strings; a "key" shorter than a few characters
// would match ordinary words and is left alone.
QString withoutUpdateKey(const QString &text, const QString &link);

} // namespace vennacott
