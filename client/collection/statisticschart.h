#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QChart;

// The chart of a statistics report, from the rows the table shows: bars per month (loans, returns,
// renewals, late returns; or the overdue share), a bar list of the most borrowed titles, shares of
// the loans by level or type. A report without a chart (copies never borrowed) gets a chart that
// says how many rows there are.
namespace StatisticsChart {

// The column headings of a report's rows, in the client's words; empty for an unknown report.
QStringList headings(const QString& report);
// The rows as the table shows them: levels by their Chinese names, shares as percentages.
QList<QStringList> shown(const QString& report, const QList<QStringList>& rows);
// A new chart (the caller owns it) of the shown rows.
QChart* create(const QString& report, const QList<QStringList>& shownRows);

} // namespace StatisticsChart
