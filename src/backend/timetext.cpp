// Times as the client writes them.
#include "timetext.h"

namespace vennacott {
namespace {

// The civil date of a day counted from 1970-01-01 (Howard Hinnant's civil_from_days): gmtime_r takes
// glibc's time zone lock and looks at TZ even for UTC.
void civilFromDays(qint64 days, qint64 &year, int &month, int &day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153; // March is 0
    day = int(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = int(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

void appendDigits(QString &text, qint64 value, int digits)
{
    QChar buffer[4];
    for (int i = digits - 1; i >= 0; --i, value /= 10)
        buffer[i] = QChar(u'0' + int(value % 10));
    text.append(buffer, digits);
}

// "YYYY-MM-DD", `separator`, "hh:mm:ss", and ".mmmZ" with `millis`; empty outside the years 0 to 9999.
QString utcText(const QDateTime &time, char16_t separator, bool millis)
{
    if (!time.isValid())
        return {};
    constexpr qint64 kMsPerDay = 86'400'000;
    const qint64 ms = time.toMSecsSinceEpoch();
    const qint64 msOfDay = (ms % kMsPerDay + kMsPerDay) % kMsPerDay;
    qint64 year = 0;
    int month = 0;
    int day = 0;
    civilFromDays((ms - msOfDay) / kMsPerDay, year, month, day);
    if (year < 0 || year > 9999)
        return {};
    QString text;
    text.reserve(24);
    appendDigits(text, year, 4);
    text += u'-';
    appendDigits(text, month, 2);
    text += u'-';
    appendDigits(text, day, 2);
    text += QChar(separator);
    appendDigits(text, msOfDay / 3'600'000, 2);
    text += u':';
    appendDigits(text, msOfDay / 60'000 % 60, 2);
    text += u':';
    appendDigits(text, msOfDay / 1000 % 60, 2);
    if (millis) {
        text += u'.';
        appendDigits(text, msOfDay % 1000, 3);
        text += u'Z';
    }
    return text;
}

} // namespace

QString utcIsoText(const QDateTime &time)
{
    return utcText(time, u'T', true);
}

QString utcLineText(const QDateTime &time)
{
    return utcText(time, u' ', false);
}

} // namespace vennacott
