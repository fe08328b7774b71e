// Times as the client writes them: in UTC, formatted by hand, since Qt's date formatting goes through the
// locale machinery and costs more than the rest of an update.
#pragma once

#include <QDateTime>
#include <QString>

namespace vennacott {

// "2026-12-07T21:52:32.123Z", as Qt::ISODateWithMs writes a UTC time; empty for an invalid time.
QString utcIsoText(const QDateTime &time);
// "2026-12-07 21:52:32", the time of a printed line.
QString utcLineText(const QDateTime &time);

} // namespace vennacott
