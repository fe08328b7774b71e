// The service origins and texts the client is built with.
#pragma once

#include <QByteArray>
#include <QString>

namespace vennacott::endpoints {

// The backend API origin (sign-in and the saved host).
QString apiBaseUrl();
// The DDNS update server origin (registration and the periodic update).
QString updateBaseUrl();
// Shown after a host name, starting with ".".
QString zoneSuffix();

// What --version prints for `program`: its name and version, then a line for each CA in `extraCaPem` (the
// build's buildconfig::kExtraCaPem), with its subject and SHA-256 fingerprint, so that a build trusting
// more than the system's CAs says so.
QString versionText(const QString &program, const QByteArray &extraCaPem);

// Points the client at other origins, such as a local test server. Tests only; empty restores the built-in.
void overrideForTesting(const QString &apiBaseUrl, const QString &updateBaseUrl);

} // namespace vennacott::endpoints
