// The one log line written for every request.
#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringView>

namespace vennacott::refsvc {

enum class Origin { Api, Update };

// The request path as it may appear in the log: update keys are replaced by "<key>", and of a path that no
// endpoint serves only a short first segment is kept, so that no password, token or key ever reaches the log.
QString loggablePath(Origin origin, QStringView path);

// "<time> <origin> <caller> <method> <path> <status>" on standard output.
void logRequest(Origin origin, const QHostAddress &caller, QStringView method, QStringView path, int status);

// The line for a request refused before it could be read whole, as too large (413) or too slow (408):
// method and path are not known.
void logRefusedRequest(Origin origin, const QHostAddress &caller, int status);

} // namespace vennacott::refsvc
