// Times as the client writes them.
#include "timetext.h"

#include <cstdio>
#include <ctime>

namespace vennacott {
namespace {

// `format` takes year, month, day, hours, minutes, seconds and milliseconds; extra arguments are ignored.
QString utcText(const QDateTime &time, const char *format)
{
    if (!time.isValid())
        return {};
    const qint64 ms = time.toMSecsSinceEpoch();
    const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm utc{};
    if (!::gmtime_r(&seconds, &utc))
        return {};
    char text[40];
    const int length = std::snprintf(text, sizeof text, format, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                                     utc.tm_hour, utc.tm_min, utc.tm_sec, int(ms - qint64(seconds) * 1000));
    if (length <= 0 || length >= int(sizeof text))
        return {};
    return QString::fromLatin1(text, length);
}

} // namespace

QString utcIsoText(const QDateTime &time)
{
    return utcText(time, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ");
}

QString utcLineText(const QDateTime &time)
{
    return utcText(time, "%04d-%02d-%02d %02d:%02d:%02d");
}

} // namespace vennacott
