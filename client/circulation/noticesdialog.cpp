#include "noticesdialog.h"

#include "accountwindow.h"

#include "messages.h"
#include "ui_noticesdialog.h"

#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>

NoticesDialog::NoticesDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::NoticesDialog>())
{
    m_ui->setupUi(this);
    AccountWindow::mark(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(m_ui->searchButton, &QPushButton::clicked, this, &NoticesDialog::search);
    connect(m_ui->accountEdit, &QLineEdit::returnPressed, this, &NoticesDialog::search);
    connect(m_ui->stateBox, &QComboBox::currentIndexChanged, this, &NoticesDialog::search);
    connect(m_ui->resendButton, &QPushButton::clicked, this, &NoticesDialog::resendSelected);
    connect(m_ui->printLettersButton, &QPushButton::clicked, this, &NoticesDialog::askAndPrintLetters);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_list, &RequestExchange::finished, this, &NoticesDialog::showRows);
    connect(&m_resend, &RequestExchange::finished, this, [this](const QList<QStringList>& frames) {
        const QStringList reply = frames.value(0);
        if (Reply::wordOf(reply) == Reply::ResendNoticeSuccessfully)
            search();
        else if (!reply.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Error"), RequestExchange::refusalText(reply));
    });
    connect(&m_letterRows, &RequestExchange::finished, this, [this](const QList<QStringList>& frames) {
        QList<QStringList> rows;
        for (const QStringList& frame : frames) {
            if (const std::optional<QStringList> row = Reply::rowOf(frame, Reply::NoticeRowSize))
                rows.append(*row);
        }
        m_letters = NoticeLetters::fromRows(rows);
        m_filling = 0;
        fillNextLetter();
    });
    connect(&m_loans, &RequestExchange::finished, this, [this](const QList<QStringList>& frames) {
        for (const QStringList& frame : frames) {
            if (const std::optional<QStringList> row = Reply::rowOf(frame, Reply::UserLoanRowSize))
                m_letters[m_filling].loans.append(*row);
        }
        m_holds.start(UserHoldsQuery{m_letters[m_filling].userId});
    });
    connect(&m_holds, &RequestExchange::finished, this, [this](const QList<QStringList>& frames) {
        for (const QStringList& frame : frames) {
            if (const std::optional<QStringList> row = Reply::rowOf(frame, Reply::HoldRowSize))
                m_letters[m_filling].holds.append(*row);
        }
        ++m_filling;
        fillNextLetter();
    });
    connect(&m_markPrinted, &RequestExchange::finished, this, [this](const QList<QStringList>&) {
        emit lettersPrinted(int(m_letters.size()));
        search();
    });
    show();
    search();
}

NoticesDialog::~NoticesDialog() = default;

QString NoticesDialog::stateWord(int index)
{
    static const QLatin1String words[] = {QLatin1String(""), Notice::Queued, Notice::Sent,   Notice::Failed,
                                          Notice::Obsolete,  Notice::Letter, Notice::Printed};
    return index > 0 && index < int(std::size(words)) ? QString(words[index]) : QString();
}

QString NoticesDialog::shown(const QString& word)
{
    if (word == Notice::DueSoon)
        return QStringLiteral("即将到期");
    if (word == Notice::Overdue)
        return QStringLiteral("已逾期");
    if (word == Notice::HoldReady)
        return QStringLiteral("预约可取");
    return word;
}

void NoticesDialog::search()
{
    m_list.start(NoticesQuery{stateWord(m_ui->stateBox->currentIndex()), m_ui->accountEdit->text().trimmed()});
}

void NoticesDialog::showRows(const QList<QStringList>& frames)
{
    m_ui->noticeList->clear();
    for (const QStringList& frame : frames) {
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::NoticeRowSize);
        if (!row)
            continue;
        QStringList shownRow = *row;
        shownRow[2] = shown(row->value(2));
        for (int i = 1; !stateWord(i).isEmpty(); ++i) {
            if (stateWord(i) == row->value(6))
                shownRow[6] = m_ui->stateBox->itemText(i);
        }
        auto* item = new QTreeWidgetItem(shownRow);
        item->setData(0, Qt::UserRole, row->value(0));
        item->setData(6, Qt::UserRole, row->value(6));
        if (row->value(6) == Notice::Failed)
            item->setForeground(6, QBrush(Qt::red));
        m_ui->noticeList->addTopLevelItem(item);
    }
}

void NoticesDialog::resendSelected()
{
    const QTreeWidgetItem* item = m_ui->noticeList->currentItem();
    if (!item)
        return;
    const QString state = item->data(6, Qt::UserRole).toString();
    if (state != Notice::Failed && state != Notice::Queued) {
        QMessageBox::information(this, QStringLiteral("通知"), QStringLiteral("只能重新发送待发送或发送失败的通知。"));
        return;
    }
    m_resend.start(ResendNoticeQuery{item->data(0, Qt::UserRole).toString()});
}

void NoticesDialog::askAndPrintLetters()
{
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    dialog.setWindowTitle(QStringLiteral("打印信件"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_ownedDevice = std::move(printer);
    printLetters(m_ownedDevice.get());
}

void NoticesDialog::printLetters(QPagedPaintDevice* device)
{
    m_device = device;
    m_letterRows.start(NoticesQuery{QString(Notice::Letter), QString()});
}

void NoticesDialog::fillNextLetter()
{
    if (m_filling < m_letters.size()) {
        m_loans.start(UserLoansQuery{m_letters[m_filling].userId});
        return;
    }
    if (m_letters.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("通知"), QStringLiteral("没有待打印的信件。"));
        emit lettersPrinted(0);
        return;
    }
    if (!m_device || !NoticeLetters::print(m_letters, *m_device)) {
        QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("信件没有打印出来。"));
        return;
    }
    QStringList ids;
    for (const NoticeLetter& letter : std::as_const(m_letters)) {
        for (const qint64 id : letter.noticeIds)
            ids.append(QString::number(id));
    }
    m_markPrinted.start(MarkLettersPrintedQuery{ids.join(QLatin1Char(','))});
}
