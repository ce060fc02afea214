#include "auditlogdialog.h"

#include "accountwindow.h"

#include "auditwords.h"
#include "listcolumns.h"
#include "messages.h"
#include "ui_auditlogdialog.h"

AuditLogDialog::AuditLogDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::AuditLogDialog>())
{
    m_ui->setupUi(this);
    AccountWindow::mark(this);
    ListColumns::setUp(m_ui->eventList, {0, 1, 0, 0, 1, 0, 3});
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
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::AuditRowSize);
        if (!row)
            continue;
        const AuditRecord entry = AuditRecord::from(*row);
        QTreeWidgetItem* item =
            ListColumns::addRow(m_ui->eventList,
                                {AuditWords::time(entry.at), entry.actor, entry.peer, AuditWords::action(entry.action),
                                 entry.userId, entry.number, AuditWords::note(entry.detail)});
        // The words as stored, for whoever reads the server's log beside the window.
        item->setToolTip(3, entry.action);
        item->setToolTip(6, entry.detail);
    }
    ListColumns::fit(m_ui->eventList);
}
