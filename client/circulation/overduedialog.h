#pragma once

#include "requestexchange.h"

#include <QDialog>

#include <memory>

namespace Ui {
class OverdueDialog;
}

// The overdue loans (逾期列表), most overdue first, with the borrowers' contact details; read when the
// dialog opens and on 刷新, and exported to a CSV file for letters or calls.
class OverdueDialog : public QDialog
{
    Q_OBJECT

public:
    explicit OverdueDialog(QWidget* parent);
    ~OverdueDialog() override;

    // Writes the list as shown, with its header, to the file; false when it cannot be written.
    bool exportTo(const QString& path) const;

    // The rows as CSV (RFC 4180, UTF-8 with a byte-order mark so that spreadsheets read the Chinese).
    // A text that a spreadsheet would take for a formula is written with a leading apostrophe.
    static QByteArray toCsv(const QList<QStringList>& rows);

private:
    void refresh();
    void showRows(const QList<QStringList>& frames);
    void askAndExport();

    std::unique_ptr<Ui::OverdueDialog> m_ui;
    RequestExchange m_list{this, OverdueLoanRecord::Size};
};
