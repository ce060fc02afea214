#include "statisticsrequests.h"

#include "levels.h"
#include "serverclock.h"
#include "storage.h"

#include <QDate>
#include <QMap>

namespace {

constexpr int TopTitleRows = 100;
constexpr int NeverBorrowedRows = 5000;
constexpr int GroupRows = 1000;
// A period longer than a century is a typing error, and would make a month list without end.
constexpr qint64 LongestPeriodDays = 36600;

// A day typed as "yyyy-MM-dd"; nullopt for an empty text, an invalid date for anything else.
std::optional<QDate> dayOf(const QString& text)
{
    const QString day = text.trimmed();
    if (day.isEmpty())
        return std::nullopt;
    if (day.size() != 10)
        return QDate();
    return QDate::fromString(day, Qt::ISODate);
}

// Every month from the first to the last, with the rows the counts gave (zeros where none).
QList<QStringList> everyMonth(const QList<QStringList>& counted, const QString& first, const QString& last)
{
    QMap<QString, QStringList> byMonth;
    for (const QStringList& row : counted)
        byMonth.insert(row.first(), row);
    QList<QStringList> rows;
    QDate month = QDate::fromString(first + QStringLiteral("-01"), Qt::ISODate);
    const QDate end = QDate::fromString(last + QStringLiteral("-01"), Qt::ISODate);
    for (; month.isValid() && month <= end; month = month.addMonths(1)) {
        const QString key = month.toString(QStringLiteral("yyyy-MM"));
        rows.append(byMonth.value(
            key, {key, QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")}));
    }
    return rows;
}

} // namespace

HandlerReply StatisticsRequests::statistics(const StatisticsQuery& query)
{
    const QString report = query.report.trimmed();
    if (StatisticsReport::rowSize(report) == 0)
        return word(Refusal::UnknownReport);
    std::optional<QDate> from = dayOf(query.fromDay), to = dayOf(query.toDay);
    if ((from && !from->isValid()) || (to && !to->isValid()))
        return word(Refusal::BadPeriod);
    // A period typed the wrong way round means the days between.
    if (from && to && *from > *to)
        std::swap(from, to);
    if (from && to && from->daysTo(*to) > LongestPeriodDays)
        return word(Refusal::BadPeriod);
    StatisticsFilter filter;
    filter.fromDay = from ? from->toString(Qt::ISODate) : QString();
    filter.toDay = to ? to->toString(Qt::ISODate) : QString();
    filter.level = query.level.trimmed();
    filter.type = query.type.trimmed();
    if (!filter.level.isEmpty() && Levels::code(filter.level) == Levels::Unknown)
        return word(Refusal::UnknownPermission);

    QList<QStringList> rows;
    std::optional<QString> refusal;
    QString error;
    if (!read(
            [&](Storage& storage) {
                refusal = adminRefusal(storage);
                if (refusal)
                    return;
                if (report == StatisticsReport::LoansByMonth || report == StatisticsReport::OverdueRate)
                    rows = storage.loansByMonth(filter);
                else if (report == StatisticsReport::TopTitles)
                    rows = storage.topTitles(filter, TopTitleRows);
                else if (report == StatisticsReport::NeverBorrowed)
                    rows = storage.neverBorrowed(filter, NeverBorrowedRows);
                else
                    rows = storage.loansByGroup(report == StatisticsReport::ByLevel ? QStringLiteral("level")
                                                                                    : QStringLiteral("type"),
                                                filter, GroupRows);
            },
            &error))
        return serverError(QStringLiteral("database error: ") + error);
    if (refusal)
        return word(*refusal);

    if (report == StatisticsReport::LoansByMonth || report == StatisticsReport::OverdueRate) {
        // Months without a loan are there too, so that a chart shows the gap.
        const QString thisMonth = ServerClock::nowUtc().toLocalTime().toString(QStringLiteral("yyyy-MM"));
        const QString last = to ? to->toString(QStringLiteral("yyyy-MM"))
            : rows.isEmpty()    ? thisMonth
                                : std::max(rows.last().first(), thisMonth);
        const QString first = from ? from->toString(QStringLiteral("yyyy-MM"))
            : rows.isEmpty()       ? last
                                   : rows.first().first();
        rows = everyMonth(rows, first, last);
        if (report == StatisticsReport::OverdueRate) {
            for (QStringList& row : rows) {
                const qint64 ended = row[2].toLongLong(), overdue = row[4].toLongLong();
                row = QStringList{row[0], row[2], row[4],
                                  QString::number(ended > 0 ? double(overdue) / double(ended) : 0.0, 'f', 3)};
            }
        }
    } else if (report == StatisticsReport::NeverBorrowed) {
        for (QStringList& row : rows) {
            const QDateTime added = ServerClock::fromStamp(row[3]);
            row[3] = added.isValid() ? added.toLocalTime().date().toString(Qt::ISODate) : QString();
        }
    }
    return rowStream<QStringList>(rows, [](const QStringList& row) { return row; });
}
