#include "serverclock.h"

#include <ctime>
#include <optional>

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

namespace {

void putDigits(char16_t* at, int value, int digits)
{
    for (int i = digits - 1; i >= 0; --i, value /= 10)
        at[i] = char16_t(u'0' + value % 10);
}

// "yyyy-MM-dd", the separator, "HH:mm:ss": 19 characters, written by hand (Qt's formatting and printf
// cost thousands of instructions, and lists write thousands of these).
void putDateTime(char16_t* text, int year, int month, int day, char16_t between, int hour, int minute, int second)
{
    putDigits(text, year, 4);
    text[4] = u'-';
    putDigits(text + 5, month, 2);
    text[7] = u'-';
    putDigits(text + 8, day, 2);
    text[10] = between;
    putDigits(text + 11, hour, 2);
    text[13] = u':';
    putDigits(text + 14, minute, 2);
    text[16] = u':';
    putDigits(text + 17, second, 2);
}

} // namespace

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
    putDateTime(text, date.year(), date.month(), date.day(), u'T', int(ofDay / 3600000), int(ofDay / 60000 % 60),
                int(ofDay / 1000 % 60));
    text[19] = u'.';
    putDigits(text + 20, int(ofDay % 1000), 3);
    text[23] = u'Z';
    return QString(reinterpret_cast<const QChar*>(text), 24);
}

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar (H. Hinnant's days_from_civil).
qint64 daysFromCivil(int year, int month, int day)
{
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return qint64(era) * 146097 + dayOfEra - 719468;
}

// The milliseconds since 1970 of a stamp in the form stamp() writes, read by hand: Qt's ISO parsing
// cost four thousand instructions a stamp, and a loans list reads two a row. nullopt for any other text.
std::optional<qint64> stampMs(const QString& stored)
{
    if (stored.size() != 24)
        return std::nullopt;
    const ushort* text = stored.utf16();
    static constexpr char Pattern[] = "dddd-dd-ddTdd:dd:dd.dddZ";
    for (int i = 0; i < 24; ++i) {
        const bool digit = text[i] >= u'0' && text[i] <= u'9';
        if (Pattern[i] == 'd' ? !digit : text[i] != char16_t(Pattern[i]))
            return std::nullopt;
    }
    const auto number = [&](int at, int digits) {
        int value = 0;
        for (int i = at; i < at + digits; ++i)
            value = value * 10 + (text[i] - u'0');
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2), ms = number(20, 3);
    if (month < 1 || month > 12 || day < 1 || day > QDate(year, month, 1).daysInMonth() || hour > 23 || minute > 59
        || second > 59)
        return std::nullopt;
    return ((daysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL + ms;
}

} // namespace

QDateTime fromStamp(const QString& stored)
{
    if (const std::optional<qint64> ms = stampMs(stored))
        return QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC);
    return QDateTime::fromString(stored, Qt::ISODate);
}

QString shown(const QString& stored)
{
    std::optional<qint64> ms = stampMs(stored);
    if (!ms) {
        const QDateTime time = QDateTime::fromString(stored, Qt::ISODate);
        if (!time.isValid())
            return stored;
        ms = time.toMSecsSinceEpoch();
    }
    // Long lists show thousands of these. QDateTime::toLocalTime calls tzset(), which without TZ in the
    // environment stats /etc/localtime each time, and toString() reads its format anew on each call:
    // together two thirds of a 1,000-row loans list. localtime_r uses the zone the last tzset() loaded
    // (every other conversion of the server still calls it).
    const time_t seconds = time_t(*ms / 1000);
    tm local{};
    if (*ms >= 0 && localtime_r(&seconds, &local) && local.tm_year + 1900 >= 1000 && local.tm_year + 1900 <= 9999) {
        char16_t text[19];
        putDateTime(text, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, u' ', local.tm_hour, local.tm_min,
                    local.tm_sec);
        return QString(reinterpret_cast<const QChar*>(text), 19);
    }
    return QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
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
