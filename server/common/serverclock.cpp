#include "serverclock.h"

#include <cstdio>
#include <ctime>

namespace ServerClock {

namespace {
Source source = nullptr;
} // namespace

QDateTime nowUtc()
{
    return source ? source() : QDateTime::currentDateTimeUtc();
}

qint64 nowMs()
{
    return nowUtc().toMSecsSinceEpoch();
}

void setSource(Source newSource)
{
    source = newSource;
}

QString stamp(const QDateTime& time)
{
    // Written out by hand: Qt's ISO formatting cost ten thousand instructions a stamp, and a loan
    // writes several.
    if (!time.isValid())
        return {};
    const qint64 ms = time.toMSecsSinceEpoch();
    constexpr qint64 DayMs = 86400000;
    const qint64 days = ms >= 0 ? ms / DayMs : -((-ms + DayMs - 1) / DayMs);
    const qint64 ofDay = ms - days * DayMs;
    const QDate date = QDate(1970, 1, 1).addDays(days);
    if (date.year() < 0 || date.year() > 9999)
        return time.toUTC().toString(Qt::ISODateWithMs);
    char16_t text[24];
    const auto put = [&](int at, qint64 value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, date.year(), 4);
    text[4] = u'-';
    put(5, date.month(), 2);
    text[7] = u'-';
    put(8, date.day(), 2);
    text[10] = u'T';
    put(11, ofDay / 3600000, 2);
    text[13] = u':';
    put(14, ofDay / 60000 % 60, 2);
    text[16] = u':';
    put(17, ofDay / 1000 % 60, 2);
    text[19] = u'.';
    put(20, ofDay % 1000, 3);
    text[23] = u'Z';
    return QString(reinterpret_cast<const QChar*>(text), 24);
}

QDateTime fromStamp(const QString& stored)
{
    return QDateTime::fromString(stored, Qt::ISODate);
}

QString shown(const QString& stored)
{
    const QDateTime time = fromStamp(stored);
    if (!time.isValid())
        return stored;
    // Long lists show thousands of these. QDateTime::toLocalTime calls tzset(), which without TZ in the
    // environment stats /etc/localtime each time, and toString() reads its format anew on each call:
    // together two thirds of a 1,000-row loans list. localtime_r uses the zone the last tzset() loaded
    // (every other conversion of the server still calls it).
    const qint64 ms = time.toMSecsSinceEpoch();
    const time_t seconds = time_t(ms / 1000);
    tm local{};
    if (ms >= 0 && localtime_r(&seconds, &local) && local.tm_year + 1900 >= 1000 && local.tm_year + 1900 <= 9999) {
        char text[32];
        const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                                         local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        return QString::fromLatin1(text, length);
    }
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

int daysOverdue(const QString& dueStamp, const QDateTime& now)
{
    const QDateTime due = fromStamp(dueStamp);
    if (!due.isValid())
        return 0;
    const qint64 seconds = due.secsTo(now);
    return seconds <= 0 ? 0 : int((seconds + 86399) / 86400);
}

} // namespace ServerClock
