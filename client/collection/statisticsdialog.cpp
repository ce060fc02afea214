#include "statisticsdialog.h"

#include "accountwindow.h"
#include "levels.h"
#include "messages.h"
#include "overduedialog.h"
#include "statisticschart.h"
#include "ui_statisticsdialog.h"

#include <QChart>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>

StatisticsDialog::StatisticsDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::StatisticsDialog>())
{
    m_ui->setupUi(this);
    AccountWindow::mark(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The last twelve months by default.
    const QDate today = QDate::currentDate();
    m_ui->toEdit->setDate(today);
    m_ui->fromEdit->setDate(QDate(today.year(), today.month(), 1).addMonths(-11));
    m_ui->chartView->setRenderHint(QPainter::Antialiasing);
    connect(m_ui->queryButton, &QPushButton::pressed, this, &StatisticsDialog::query);
    connect(m_ui->exportButton, &QPushButton::pressed, this, &StatisticsDialog::askAndExport);
    connect(m_ui->saveChartButton, &QPushButton::pressed, this, &StatisticsDialog::askAndSaveChart);
    connect(m_ui->closeButton, &QPushButton::pressed, this, &QDialog::close);
    show();
}

StatisticsDialog::~StatisticsDialog() = default;

QString StatisticsDialog::report() const
{
    return QString(StatisticsReport::all.at(std::size_t(qBound(0, m_ui->reportBox->currentIndex(), 5))));
}

void StatisticsDialog::query()
{
    if (m_exchange && m_exchange->isBusy())
        return;
    const QString chosen = report();
    // A list of rows of the report's width; a frame of one string instead is a refusal.
    m_exchange = std::make_unique<RequestExchange>(this, StatisticsReport::rowSize(chosen));
    connect(m_exchange.get(), &RequestExchange::finished, this, &StatisticsDialog::showRows);
    const int level = m_ui->levelBox->currentIndex();
    m_shownReport = chosen;
    m_exchange->start(StatisticsQuery{
        chosen, m_ui->fromEdit->date().toString(Qt::ISODate), m_ui->toEdit->date().toString(Qt::ISODate),
        level > 0 ? Levels::englishName(level) : QString(), m_ui->typeEdit->text().trimmed()});
}

void StatisticsDialog::showRows(const QList<QStringList>& frames)
{
    const int size = StatisticsReport::rowSize(m_shownReport);
    QList<QStringList> rows;
    for (const QStringList& frame : frames) {
        if (const std::optional<QStringList> row = Reply::rowOf(frame, size))
            rows.append(*row);
    }
    m_rows = StatisticsChart::shown(m_shownReport, rows);
    const QStringList headings = StatisticsChart::headings(m_shownReport);
    m_ui->reportList->clear();
    m_ui->reportList->setColumnCount(int(headings.size()));
    m_ui->reportList->setHeaderLabels(headings);
    for (const QStringList& row : std::as_const(m_rows))
        m_ui->reportList->addTopLevelItem(new QTreeWidgetItem(row));
    QChart* old = m_ui->chartView->chart();
    m_ui->chartView->setChart(StatisticsChart::create(m_shownReport, m_rows));
    delete old;
}

bool StatisticsDialog::exportTo(const QString& path) const
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly)
        && file.write(OverdueDialog::toCsv(QList<QStringList>{StatisticsChart::headings(m_shownReport)} + m_rows)) >= 0
        && file.commit();
}

bool StatisticsDialog::saveChartTo(const QString& path) const
{
    return m_ui->chartView->grab().save(path, "PNG");
}

void StatisticsDialog::askAndExport()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出CSV"), m_shownReport + QStringLiteral(".csv"), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty() && !exportTo(path))
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("无法写入文件：%1").arg(path));
}

void StatisticsDialog::askAndSaveChart()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("保存图表"), m_shownReport + QStringLiteral(".png"), QStringLiteral("PNG (*.png)"));
    if (!path.isEmpty() && !saveChartTo(path))
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("无法写入文件：%1").arg(path));
}
