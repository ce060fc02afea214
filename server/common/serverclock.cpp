#include "serverclock.h"

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
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : stored;
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
