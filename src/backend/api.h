// The account and host API: sign in, register a host name, save and fetch the saved update link.
#pragma once

#include <QString>

#include <functional>

namespace vennacott {

using SuccessCallback = std::function<void(bool success)>;
using SuccessTextCallback = std::function<void(bool success, const QString &text)>;

// Printed in place of a non-empty password or token.
inline const QString kRedacted = QStringLiteral("[redacted]");

// Exchanges the credentials for a bearer token and stores it under "token" before reporting true.
// Refusals (code 401, an empty token, a reply without a token) report false and store nothing.
void login(const QString &email, const QString &password, SuccessCallback callback);

// Asks the update server for `name`: true with the update link, or false with the server's error text.
// A name that cannot travel unchanged as one path segment is refused without a request.
void registerHost(const QString &name, SuccessTextCallback callback);

// Records the update link with the backend; reports true whenever the backend answers.
void setSavedHost(const QString &hostLink, SuccessCallback callback);

// Fetches the recorded link: true with the reply text (a JSON string, quotes included), or false with
// the empty text when the reply is not a text.
void getSavedHost(SuccessTextCallback callback);

// Why `name` cannot be sent as the last segment of the registration URL, or the empty text when it can.
QString hostNameProblem(const QString &name);

} // namespace vennacott
