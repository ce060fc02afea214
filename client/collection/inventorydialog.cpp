#include "inventorydialog.h"

#include "accountwindow.h"
#include "messages.h"
#include "overduedialog.h"
#include "ui_inventorydialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QSignalBlocker>

namespace {

// The most book numbers one marking request carries (the server's limit).
constexpr int NumbersPerRequest = 1000;

} // namespace

InventoryDialog::InventoryDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::InventoryDialog>())
{
    m_ui->setupUi(this);
    AccountWindow::mark(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(m_ui->refreshButton, &QPushButton::pressed, this, &InventoryDialog::refreshList);
    connect(m_ui->startButton, &QPushButton::pressed, this, &InventoryDialog::startInventory);
    connect(m_ui->scanEdit, &QLineEdit::returnPressed, this, &InventoryDialog::queueScan);
    connect(m_ui->reportButton, &QPushButton::pressed, this, &InventoryDialog::askReport);
    connect(m_ui->exportButton, &QPushButton::pressed, this, &InventoryDialog::askAndExport);
    connect(m_ui->markLostButton, &QPushButton::pressed, this, &InventoryDialog::markMissingLost);
    connect(m_ui->closeButton, &QPushButton::pressed, this, &QDialog::close);
    connect(m_ui->inventoryBox, &QComboBox::currentIndexChanged, this, &InventoryDialog::chooseInventory);
    connect(&m_list, &RequestExchange::finished, this, &InventoryDialog::showList);
    connect(&m_start, &RequestExchange::finished, this, &InventoryDialog::started);
    connect(&m_scan, &RequestExchange::finished, this, &InventoryDialog::scanned);
    connect(&m_report, &RequestExchange::finished, this, &InventoryDialog::showReport);
    connect(&m_mark, &RequestExchange::finished, this, &InventoryDialog::markedLost);
    showCounts();
    show();
    refreshList();
}

InventoryDialog::~InventoryDialog() = default;

QString InventoryDialog::findingText(const QString& finding)
{
    if (finding == ScanFinding::Ok)
        return QStringLiteral("正常");
    if (finding == ScanFinding::OnLoan)
        return QStringLiteral("登记为借出（请办理还书）");
    if (finding == ScanFinding::Elsewhere || finding == InventoryFinding::Elsewhere)
        return QStringLiteral("不属于本次盘点范围");
    if (finding == ScanFinding::Unknown || finding == InventoryFinding::Unknown)
        return QStringLiteral("书库中没有此书号");
    if (finding == ScanFinding::Duplicate)
        return QStringLiteral("重复扫描");
    if (finding == InventoryFinding::Missing)
        return QStringLiteral("缺失");
    if (finding == InventoryFinding::OnLoanScanned)
        return QStringLiteral("登记为借出却在架上");
    return finding;
}

QString InventoryDialog::currentInventory() const
{
    return m_ui->inventoryBox->currentData().toString();
}

void InventoryDialog::refreshList()
{
    m_list.start(InventoryListQuery{});
}

void InventoryDialog::showList(const QList<QStringList>& frames)
{
    const QString keep = m_startedId.isEmpty() ? currentInventory() : m_startedId;
    m_startedId.clear();
    // The list is read again now and then: the stocktake chosen stays, with its scans so far.
    const QSignalBlocker quiet(m_ui->inventoryBox);
    m_ui->inventoryBox->clear();
    for (const QStringList& frame : frames) {
        const std::optional<QStringList> row = Reply::rowOf(frame, InventoryRecord::Size);
        if (!row)
            continue;
        const InventoryRecord r = InventoryRecord::from(*row);
        QString scope = r.type.isEmpty() ? QString() : QStringLiteral(" 类别 ") + r.type;
        if (!r.numberPrefix.isEmpty())
            scope += QStringLiteral(" 书号 ") + r.numberPrefix + QStringLiteral("…");
        m_ui->inventoryBox->addItem(
            QStringLiteral("%1%2（%3 开始，已扫描 %4）").arg(r.name, scope, r.startedAt, r.scanned), r.id);
    }
    const int index = m_ui->inventoryBox->findData(keep);
    m_ui->inventoryBox->setCurrentIndex(index >= 0 ? index : 0);
    chooseInventory();
    m_ui->scanEdit->setFocus();
}

void InventoryDialog::chooseInventory()
{
    if (currentInventory() == m_chosen)
        return;
    m_chosen = currentInventory();
    m_counts.clear();
    m_ui->scanList->clear();
    m_ui->reportList->clear();
    showCounts();
}

void InventoryDialog::startInventory()
{
    m_start.start(InventoryStartQuery{m_ui->nameEdit->text().trimmed(), m_ui->typeEdit->text().trimmed(),
                                      m_ui->prefixEdit->text().trimmed()});
}

void InventoryDialog::started(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (Reply::wordOf(frame) != Reply::InventoryStarted) {
        if (!RequestExchange::reportIfLoginEnded(this, frame))
            QMessageBox::warning(this, QStringLiteral("Error"), RequestExchange::refusalText(frame));
        return;
    }
    m_startedId = frame.value(1);
    refreshList();
}

void InventoryDialog::queueScan()
{
    const QString number = m_ui->scanEdit->text().trimmed();
    m_ui->scanEdit->clear();
    if (number.isEmpty())
        return;
    if (currentInventory().isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("请先开始或选择一次盘点。"));
        return;
    }
    m_waiting.append(number);
    sendNextScan();
}

void InventoryDialog::sendNextScan()
{
    if (m_scan.isBusy())
        return;
    // An exchange that failed (its error was shown) gave no answer: that number goes again first.
    if (!m_scanning.isEmpty())
        m_waiting.prepend(m_scanning);
    if (m_waiting.isEmpty())
        return;
    m_scanning = m_waiting.takeFirst();
    m_scan.start(InventoryScanQuery{currentInventory(), m_scanning});
}

void InventoryDialog::scanned(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    auto* item = new QTreeWidgetItem(QStringList{m_scanning, frame.value(1)});
    if (Reply::wordOf(frame) == Reply::InventoryScanned) {
        const QString finding = frame.value(2);
        ++m_counts[finding];
        item->setText(2, findingText(finding));
        if (finding != ScanFinding::Ok) {
            for (int column = 0; column < 3; ++column)
                item->setBackground(column,
                                    finding == ScanFinding::Duplicate ? QColor(255, 243, 205) : QColor(248, 215, 218));
            QApplication::beep();
        }
    } else {
        // Not scanned: the numbers waiting are kept for another try.
        item->setText(2, frame.isEmpty() ? QStringLiteral("未送达") : RequestExchange::refusalText(frame));
        item->setBackground(2, QColor(248, 215, 218));
        QApplication::beep();
        if (RequestExchange::reportIfLoginEnded(this, frame))
            m_waiting.clear();
    }
    m_ui->scanList->insertTopLevelItem(0, item);
    m_scanning.clear();
    showCounts();
    // Once the finished exchange has let go of its socket: starting the next one from inside its
    // reader would drop the new connection with the old one.
    QMetaObject::invokeMethod(this, &InventoryDialog::sendNextScan, Qt::QueuedConnection);
}

void InventoryDialog::showCounts()
{
    int all = 0;
    for (const int n : std::as_const(m_counts))
        all += n;
    m_ui->countsLabel->setText(QStringLiteral("本次已扫描 %1：正常 %2，借出未还 %3，不属本处 %4，未知书号 %5，重复 %6")
                                   .arg(all)
                                   .arg(m_counts.value(ScanFinding::Ok))
                                   .arg(m_counts.value(ScanFinding::OnLoan))
                                   .arg(m_counts.value(ScanFinding::Elsewhere))
                                   .arg(m_counts.value(ScanFinding::Unknown))
                                   .arg(m_counts.value(ScanFinding::Duplicate)));
}

void InventoryDialog::askReport()
{
    if (!currentInventory().isEmpty())
        m_report.start(InventoryReportQuery{currentInventory()});
}

void InventoryDialog::showReport(const QList<QStringList>& frames)
{
    m_ui->reportList->clear();
    for (const QStringList& frame : frames) {
        const std::optional<QStringList> row = Reply::rowOf(frame, InventoryFindingRecord::Size);
        if (!row)
            continue;
        auto* item = new QTreeWidgetItem(*row);
        item->setData(4, Qt::UserRole, row->value(4));
        item->setText(4, findingText(row->value(4)));
        m_ui->reportList->addTopLevelItem(item);
    }
}

bool InventoryDialog::exportTo(const QString& path) const
{
    QList<QStringList> rows;
    QStringList header;
    const QTreeWidgetItem* headerItem = m_ui->reportList->headerItem();
    for (int column = 0; column < headerItem->columnCount(); ++column)
        header.append(headerItem->text(column));
    rows.append(header);
    for (int i = 0; i < m_ui->reportList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_ui->reportList->topLevelItem(i);
        QStringList row;
        for (int column = 0; column < header.size(); ++column)
            row.append(item->text(column));
        rows.append(row);
    }
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(OverdueDialog::toCsv(rows)) >= 0 && file.commit();
}

void InventoryDialog::askAndExport()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出CSV"), QStringLiteral("stocktake.csv"),
                                                      QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty() && !exportTo(path))
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("无法写入文件：%1").arg(path));
}

void InventoryDialog::markMissingLost()
{
    // The missing copies selected, or every missing copy when none is.
    QStringList numbers;
    const QList<QTreeWidgetItem*> selected = m_ui->reportList->selectedItems();
    for (int i = 0; i < m_ui->reportList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_ui->reportList->topLevelItem(i);
        if (item->data(4, Qt::UserRole).toString() == InventoryFinding::Missing
            && (selected.isEmpty() || selected.contains(item)))
            numbers.append(item->text(0));
    }
    if (numbers.isEmpty() || m_mark.isBusy())
        return;
    if (numbers.size() > NumbersPerRequest)
        numbers = numbers.mid(0, NumbersPerRequest);
    if (QMessageBox::question(this, QStringLiteral("标记丢失"),
                              QStringLiteral("将 %1 册缺失的书标记为丢失？").arg(numbers.size()))
        != QMessageBox::Yes)
        return;
    m_mark.start(MarkLostQuery{{numbers.join(QLatin1Char(','))}});
}

void InventoryDialog::markedLost(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (Reply::wordOf(frame) == Reply::MarkLostSuccessfully) {
        QMessageBox::information(this, QStringLiteral("PASS"),
                                 QStringLiteral("已标记 %1 册为丢失。").arg(frame.value(1)));
        askReport();
        return;
    }
    if (!RequestExchange::reportIfLoginEnded(this, frame))
        QMessageBox::warning(this, QStringLiteral("Error"),
                             RequestExchange::refusalText(frame) + QLatin1Char(' ') + frame.value(1));
}
