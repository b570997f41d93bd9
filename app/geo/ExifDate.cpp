#include "app/geo/ExifDate.h"

namespace pexil {

namespace {

// The value of `count` ASCII digits from `from`, or -1 when any is not a digit.
int digits(QStringView text, qsizetype from, qsizetype count) {
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

}  // namespace

std::optional<QDateTime> parseExifDate(QString text, const QTimeZone& zone) {
    while (text.endsWith(QChar(0))) text.chop(1);
    if (text.size() != 19) return std::nullopt;
    const QStringView t(text);
    if (t[4] != u':' || t[7] != u':' || t[10] != u' ' || t[13] != u':' || t[16] != u':')
        return std::nullopt;
    const int year = digits(t, 0, 4), month = digits(t, 5, 2), day = digits(t, 8, 2);
    const int hour = digits(t, 11, 2), minute = digits(t, 14, 2), second = digits(t, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    const QDateTime result(date, time, zone);
    if (!result.isValid()) return std::nullopt;
    return result;
}

}  // namespace pexil
