#include "statisticschart.h"

#include "levels.h"
#include "messages.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QHorizontalBarSeries>
#include <QPieSeries>
#include <QValueAxis>

namespace {

// Bars over categories; the value axis starts at zero.
QChart* barChart(QAbstractBarSeries* series, const QStringList& categories, const QString& title,
                 Qt::Alignment categoryAxis)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->addSeries(series);
    auto* axis = new QBarCategoryAxis;
    axis->append(categories);
    // Months side by side only fit slanted.
    if (categoryAxis == Qt::AlignBottom && categories.size() > 6)
        axis->setLabelsAngle(-60);
    chart->addAxis(axis, categoryAxis);
    series->attachAxis(axis);
    auto* values = new QValueAxis;
    values->setMin(0);
    values->setLabelFormat(QStringLiteral("%g"));
    chart->addAxis(values, categoryAxis == Qt::AlignBottom ? Qt::AlignLeft : Qt::AlignBottom);
    series->attachAxis(values);
    chart->legend()->setVisible(series->count() > 1);
    return chart;
}

} // namespace

namespace StatisticsChart {

QStringList headings(const QString& report)
{
    using namespace StatisticsReport;
    if (report == LoansByMonth)
        return {QStringLiteral("月份"), QStringLiteral("借出"), QStringLiteral("归还"), QStringLiteral("续借"),
                QStringLiteral("逾期归还")};
    if (report == TopTitles)
        return {QStringLiteral("书名"), QStringLiteral("作者"), QStringLiteral("ISBN"), QStringLiteral("借阅次数"),
                QStringLiteral("册数")};
    if (report == NeverBorrowed)
        return {QStringLiteral("书号"), QStringLiteral("书名"), QStringLiteral("类别"), QStringLiteral("入藏日期")};
    if (report == ByLevel)
        return {QStringLiteral("读者级别"), QStringLiteral("借出"), QStringLiteral("读者数")};
    if (report == ByType)
        return {QStringLiteral("类别"), QStringLiteral("借出"), QStringLiteral("读者数")};
    if (report == OverdueRate)
        return {QStringLiteral("月份"), QStringLiteral("归还"), QStringLiteral("其中逾期"), QStringLiteral("逾期率")};
    return {};
}

QList<QStringList> shown(const QString& report, const QList<QStringList>& rows)
{
    QList<QStringList> out = rows;
    for (QStringList& row : out) {
        if (report == StatisticsReport::ByLevel && !row.isEmpty())
            row[0] = Levels::toChinese(row[0]);
        else if (report == StatisticsReport::OverdueRate && row.size() == 4)
            row[3] = QString::number(row[3].toDouble() * 100.0, 'f', 1) + QLatin1Char('%');
    }
    return out;
}

QChart* create(const QString& report, const QList<QStringList>& rows)
{
    using namespace StatisticsReport;
    const QStringList titles = headings(report);
    if (report == LoansByMonth || report == OverdueRate) {
        auto* series = new QBarSeries;
        QStringList months;
        const QList<int> columns = report == LoansByMonth ? QList<int>{1, 2, 3, 4} : QList<int>{3};
        QList<QBarSet*> sets;
        for (int column : columns) {
            sets.append(new QBarSet(report == OverdueRate ? QStringLiteral("逾期率 (%)") : titles.value(column)));
            series->append(sets.last());
        }
        for (const QStringList& row : rows) {
            months.append(row.value(0));
            for (qsizetype i = 0; i < columns.size(); ++i)
                sets[i]->append(QString(row.value(columns[i])).remove(QLatin1Char('%')).toDouble());
        }
        return barChart(series, months, report == LoansByMonth ? QStringLiteral("每月借还") : QStringLiteral("逾期率"),
                        Qt::AlignBottom);
    }
    if (report == TopTitles) {
        // The first twenty, the most borrowed at the top.
        auto* series = new QHorizontalBarSeries;
        auto* set = new QBarSet(titles.value(3));
        QStringList names;
        for (qsizetype i = qMin<qsizetype>(rows.size(), 20) - 1; i >= 0; --i) {
            names.append(rows[i].value(0));
            set->append(rows[i].value(3).toDouble());
        }
        series->append(set);
        return barChart(series, names, QStringLiteral("热门书目"), Qt::AlignLeft);
    }
    auto* chart = new QChart;
    if (report == ByLevel || report == ByType) {
        auto* series = new QPieSeries;
        for (const QStringList& row : rows)
            series->append(row.value(0).isEmpty() ? QStringLiteral("（无）") : row.value(0), row.value(1).toDouble());
        for (QPieSlice* slice : series->slices()) {
            slice->setLabel(QStringLiteral("%1 %2%").arg(slice->label()).arg(slice->percentage() * 100.0, 0, 'f', 1));
            slice->setLabelVisible(true);
        }
        chart->addSeries(series);
        chart->setTitle(report == ByLevel ? QStringLiteral("各级读者借阅占比") : QStringLiteral("各类图书借阅占比"));
    } else {
        chart->setTitle(QStringLiteral("从未借出：%1 册").arg(rows.size()));
    }
    return chart;
}

} // namespace StatisticsChart
