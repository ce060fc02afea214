#pragma once

#include "requestexchange.h"

#include <QDialog>
#include <QMap>
#include <QStringList>

#include <memory>

namespace Ui {
class InventoryDialog;
}

// 盘点: start a stocktake of a part of the collection or continue one, scan the copies on the shelves
// one after another (a scanner types the number and Enter; numbers scanned while an answer is out
// wait their turn), with a sound and a colour for anything but a copy where it belongs and the
// running counts; then the report of what needs staff, exported as CSV, and the missing copies marked
// lost.
class InventoryDialog : public QDialog
{
    Q_OBJECT

public:
    explicit InventoryDialog(QWidget* parent);
    ~InventoryDialog() override;

    bool exportTo(const QString& path) const;
    // The scan answers counted so far, by ScanFinding word.
    const QMap<QString, int>& counts() const { return m_counts; }

    // A finding word of a scan or of the report in the client's words.
    static QString findingText(const QString& finding);

private:
    void refreshList();
    void showList(const QList<QStringList>& frames);
    // Another stocktake chosen: its counts start from nothing.
    void chooseInventory();
    void startInventory();
    void started(const QList<QStringList>& frames);
    void queueScan();
    void sendNextScan();
    void scanned(const QList<QStringList>& frames);
    void showCounts();
    void askReport();
    void showReport(const QList<QStringList>& frames);
    void askAndExport();
    void markMissingLost();
    void markedLost(const QList<QStringList>& frames);
    QString currentInventory() const;

    std::unique_ptr<Ui::InventoryDialog> m_ui;
    RequestExchange m_list{this, InventoryRecord::Size};
    RequestExchange m_start{this};
    RequestExchange m_scan{this};
    RequestExchange m_report{this, InventoryFindingRecord::Size};
    RequestExchange m_mark{this};
    QStringList m_waiting; // scanned numbers not sent yet
    QString m_scanning; // the number whose answer is out
    QString m_startedId; // a stocktake just started: chosen once the list is back
    QString m_chosen; // the stocktake the scans and counts shown are of
    QMap<QString, int> m_counts;
};
