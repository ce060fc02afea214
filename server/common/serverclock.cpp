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
    return time.toUTC().toString(Qt::ISODateWithMs);
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
