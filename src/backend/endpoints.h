// The service origins and texts the client is built with.
#pragma once

#include <QString>

namespace vennacott::endpoints {

// The backend API origin (sign-in and the saved host).
QString apiBaseUrl();
// The DDNS update server origin (registration and the periodic update).
QString updateBaseUrl();
// Shown after a host name, starting with ".".
QString zoneSuffix();

// Points the client at other origins, such as a local test server. Tests only; empty restores the built-in.
void overrideForTesting(const QString &apiBaseUrl, const QString &updateBaseUrl);

} // namespace vennacott::endpoints
