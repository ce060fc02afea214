#include "auditlogdialog.h"

#include "accountwindow.h"

#include "messages.h"
#include "ui_auditlogdialog.h"

AuditLogDialog::AuditLogDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::AuditLogDialog>())
{
    m_ui->setupUi(this);
    AccountWindow::mark(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(m_ui->searchButton, &QPushButton::clicked, this, &AuditLogDialog::search);
    connect(m_ui->accountEdit, &QLineEdit::returnPressed, this, &AuditLogDialog::search);
    connect(m_ui->bookEdit, &QLineEdit::returnPressed, this, &AuditLogDialog::search);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_list, &RequestExchange::finished, this, &AuditLogDialog::showRows);
    show();
    search();
}

AuditLogDialog::~AuditLogDialog() = default;

void AuditLogDialog::search()
{
    m_list.start(AuditLogQuery{m_ui->accountEdit->text().trimmed(), m_ui->bookEdit->text().trimmed()});
}

void AuditLogDialog::showRows(const QList<QStringList>& frames)
{
    m_ui->eventList->clear();
    for (const QStringList& frame : frames) {
        if (const std::optional<QStringList> row = Reply::rowOf(frame, Reply::AuditRowSize))
            m_ui->eventList->addTopLevelItem(new QTreeWidgetItem(*row));
    }
}
