#pragma once

#include "requestexchange.h"

#include <QDialog>

#include <memory>

namespace Ui {
class StatisticsDialog;
}

// 统计: a report of the loan statistics over a period, for a level and a type when chosen; its chart
// above the table of the same numbers, exported as CSV and the chart saved as PNG.
class StatisticsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit StatisticsDialog(QWidget* parent);
    ~StatisticsDialog() override;

    // The report chosen in the form, by its wire name.
    QString report() const;
    bool exportTo(const QString& path) const;
    bool saveChartTo(const QString& path) const;

private:
    void query();
    void showRows(const QList<QStringList>& frames);
    void askAndExport();
    void askAndSaveChart();

    std::unique_ptr<Ui::StatisticsDialog> m_ui;
    std::unique_ptr<RequestExchange> m_exchange;
    QString m_shownReport;
    QList<QStringList> m_rows; // as the table shows them
};
