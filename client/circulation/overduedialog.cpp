#include "overduedialog.h"

#include "accountfields.h"
#include "accountwindow.h"

#include "messages.h"
#include "ui_overduedialog.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSaveFile>

OverdueDialog::OverdueDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::OverdueDialog>())
{
    m_ui->setupUi(this);
    AccountWindow::mark(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(m_ui->refreshButton, &QPushButton::clicked, this, &OverdueDialog::refresh);
    connect(m_ui->exportButton, &QPushButton::clicked, this, &OverdueDialog::askAndExport);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_list, &RequestExchange::finished, this, &OverdueDialog::showRows);
    show();
    refresh();
}

OverdueDialog::~OverdueDialog() = default;

void OverdueDialog::refresh()
{
    m_list.start(OverdueLoansQuery{});
}

void OverdueDialog::showRows(const QList<QStringList>& frames)
{
    m_ui->overdueList->clear();
    for (const QStringList& frame : frames) {
        if (const std::optional<QStringList> row = Reply::rowOf(frame, Reply::OverdueLoanRowSize))
            m_ui->overdueList->addTopLevelItem(new QTreeWidgetItem(*row));
    }
}

QByteArray OverdueDialog::toCsv(const QList<QStringList>& rows)
{
    const auto field = [](const QString& value) -> QString {
        QString text = AccountFields::csvSafe(value);
        if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n'))
            || text.contains(QLatin1Char('\r')))
            return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
        return text;
    };
    QByteArray csv("\xEF\xBB\xBF");
    for (const QStringList& row : rows) {
        QStringList fields;
        for (const QString& text : row)
            fields.append(field(text));
        csv += fields.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    return csv;
}

bool OverdueDialog::exportTo(const QString& path) const
{
    QList<QStringList> rows;
    QStringList header;
    const QTreeWidgetItem* headerItem = m_ui->overdueList->headerItem();
    for (int column = 0; column < headerItem->columnCount(); ++column)
        header.append(headerItem->text(column));
    rows.append(header);
    for (int i = 0; i < m_ui->overdueList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_ui->overdueList->topLevelItem(i);
        QStringList row;
        for (int column = 0; column < header.size(); ++column)
            row.append(item->text(column));
        rows.append(row);
    }
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(toCsv(rows)) >= 0 && file.commit();
}

void OverdueDialog::askAndExport()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出CSV"), QStringLiteral("overdue.csv"),
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (!exportTo(path))
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("无法写入文件：%1").arg(path));
}
