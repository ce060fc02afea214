#pragma once

#include "requestexchange.h"

#include <QDialog>

#include <memory>

namespace Ui {
class AuditLogDialog;
}

// The audit trail (审计记录): the latest stored changes, newest first, of everything or of one account
// and/or book.
class AuditLogDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AuditLogDialog(QWidget* parent);
    ~AuditLogDialog() override;

private:
    void search();
    void showRows(const QList<QStringList>& frames);

    std::unique_ptr<Ui::AuditLogDialog> m_ui;
    RequestExchange m_list{this, AuditRecord::Size};
};
