#include "circulationdeskdialog.h"

#include "accountwindow.h"

#include "duedate.h"
#include "listcolumns.h"
#include "refusals.h"
#include "levels.h"
#include "messages.h"
#include "slip.h"
#include "ui_circulationdeskdialog.h"

CirculationDeskDialog::CirculationDeskDialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::CirculationDeskDialog>())
{
    m_ui->setupUi(this);
    AccountWindow::mark(this);
    ListColumns::setUp(m_ui->loanList, {3, 2, 0, 0, 0, 0});
    ListColumns::setUp(m_ui->holdList, {0, 3, 0, 0, 0});
    ListColumns::reserve(m_ui->holdList, 3, ListColumns::bookStates());
    setAttribute(Qt::WA_DeleteOnClose);
    connect(m_ui->readerEdit, &QLineEdit::returnPressed, this, &CirculationDeskDialog::lookUpReader);
    connect(m_ui->checkoutEdit, &QLineEdit::returnPressed, this, &CirculationDeskDialog::checkOut);
    connect(m_ui->checkinEdit, &QLineEdit::returnPressed, this, &CirculationDeskDialog::checkIn);
    connect(m_ui->renewButton, &QPushButton::clicked, this, &CirculationDeskDialog::renew);
    connect(m_ui->slipButton, &QPushButton::clicked, this, &CirculationDeskDialog::printSlip);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_readerLookup, &RequestExchange::finished, this, &CirculationDeskDialog::showReader);
    connect(&m_loans, &RequestExchange::finished, this, &CirculationDeskDialog::showLoans);
    connect(&m_holds, &RequestExchange::finished, this, &CirculationDeskDialog::showHolds);
    connect(&m_checkout, &RequestExchange::finished, this, &CirculationDeskDialog::checkedOut);
    connect(&m_checkin, &RequestExchange::finished, this, &CirculationDeskDialog::checkedIn);
    connect(&m_renewal, &RequestExchange::finished, this, &CirculationDeskDialog::renewed);
    show();
    m_ui->readerEdit->setFocus();
}

CirculationDeskDialog::~CirculationDeskDialog() = default;

void CirculationDeskDialog::note(const QString& text, Note kind)
{
    m_ui->deskLog->insertItem(0, text);
    QListWidgetItem* item = m_ui->deskLog->item(0);
    if (kind == Note::Refused)
        item->setForeground(Qt::red);
    if (kind == Note::PutAside) {
        // The one line that asks the desk to do something with the copy in hand.
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
        item->setForeground(QColor(0x1565c0));
    }
}

// The reader ------------------------------------------------------------------------------------------

void CirculationDeskDialog::lookUpReader()
{
    const QString id = m_ui->readerEdit->text().trimmed();
    if (id.isEmpty() || !m_readerLookup.start(SearchUserQuery{id}))
        return;
    m_reader.clear();
    m_readerName.clear();
    m_loanRecords.clear();
    m_lentThisVisit.clear();
    m_ui->readerLabel->setText(QStringLiteral("…"));
    m_ui->loanList->clear();
    m_ui->holdList->clear();
}

void CirculationDeskDialog::showReader(const QList<QStringList>& frames)
{
    const QString id = m_ui->readerEdit->text().trimmed();
    for (const QStringList& frame : frames) {
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::UserRowSize);
        if (!row || row->value(0) != id)
            continue;
        const UserRecord user = UserRecord::from(*row);
        m_reader = user.id;
        m_readerName = user.name;
        m_ui->readerLabel->setText(
            QStringLiteral("%1  %2  %3  %4  %5")
                .arg(user.id, user.name, Levels::toChinese(user.permission), user.phoneNumber, user.email));
        reloadReader();
        m_ui->checkoutEdit->setFocus();
        return;
    }
    m_ui->readerLabel->setText(QStringLiteral("没有这位读者：%1").arg(id));
}

void CirculationDeskDialog::reloadReader()
{
    if (m_reader.isEmpty())
        return;
    m_loans.start(UserLoansQuery{m_reader});
    m_holds.start(UserHoldsQuery{m_reader});
}

void CirculationDeskDialog::showLoans(const QList<QStringList>& frames)
{
    m_ui->loanList->clear();
    m_loanRecords.clear();
    for (const QStringList& frame : frames) {
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::UserLoanRowSize);
        if (!row)
            continue;
        const UserLoanRecord loan = UserLoanRecord::from(*row);
        m_loanRecords << loan;
        QTreeWidgetItem* item = ListColumns::addRow(
            m_ui->loanList,
            {loan.loan.name, loan.loan.author, loan.loan.number, loan.loan.borrowedAt, QString(), loan.renewalsLeft});
        DueDate::show(item, 4, loan.dueAt);
        if (loan.loan.number == m_checkedOutNumber) {
            note(QStringLiteral("%1《%2》借给 %3，到期 %4")
                     .arg(loan.loan.number, loan.loan.name, QStringLiteral("%1（%2）").arg(m_readerName, m_reader),
                          DueDate::shortened(loan.dueAt)));
            m_checkedOutNumber.clear();
        }
    }
    ListColumns::fit(m_ui->loanList);
}

void CirculationDeskDialog::showHolds(const QList<QStringList>& frames)
{
    m_ui->holdList->clear();
    for (const QStringList& frame : frames) {
        if (const std::optional<QStringList> row = Reply::rowOf(frame, Reply::HoldRowSize))
            ListColumns::addRow(m_ui->holdList, *row);
    }
    ListColumns::fit(m_ui->holdList);
}

// Check-out, check-in, renewal ----------------------------------------------------------------------------

void CirculationDeskDialog::checkOut()
{
    const QString number = m_ui->checkoutEdit->text().trimmed();
    if (number.isEmpty())
        return;
    if (m_reader.isEmpty()) {
        note(QStringLiteral("请先输入读者ID"), Note::Refused);
        m_ui->readerEdit->setFocus();
        return;
    }
    if (!m_checkout.start(BorrowBookQuery{BookRecord{{}, {}, {}, {}, {}, number, {}, {}}, m_reader}))
        return; // the previous scan is still out: the number stays in the field
    m_checkoutNumber = number;
    m_ui->checkoutEdit->clear();
}

void CirculationDeskDialog::checkedOut(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.value(0) == Reply::BorrowBookSuccessfully) {
        // The line with the title and due date is written when the reader's loans have come back.
        m_checkedOutNumber = m_checkoutNumber;
        m_lentThisVisit << m_checkoutNumber;
        reloadReader();
    } else if (!RequestExchange::reportIfLoginEnded(this, frame)) {
        note(QStringLiteral("%1 未借出：%2")
                 .arg(m_checkoutNumber, Refusals::aboutReader(frame.value(0), frame.value(1))),
             Note::Refused);
    }
}

void CirculationDeskDialog::checkIn()
{
    const QString number = m_ui->checkinEdit->text().trimmed();
    if (number.isEmpty() || !m_checkin.start(CheckinBookQuery{number}))
        return;
    m_checkinNumber = number;
    m_ui->checkinEdit->clear();
}

void CirculationDeskDialog::checkedIn(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.value(0) != Reply::ReturnBookSuccessfully) {
        if (!RequestExchange::reportIfLoginEnded(this, frame))
            note(QStringLiteral("%1 未还：%2")
                     .arg(m_checkinNumber, Refusals::aboutReader(frame.value(0), frame.value(1))),
                 Note::Refused);
        return;
    }
    const CheckinRecord receipt = CheckinRecord::from(frame.mid(1));
    QString text = QStringLiteral("%1 已还：%2（%3）").arg(m_checkinNumber, receipt.userId, receipt.name);
    if (receipt.daysOverdue.toInt() > 0)
        text += QStringLiteral("，逾期 %1 天").arg(receipt.daysOverdue);
    note(text, receipt.daysOverdue.toInt() > 0 ? Note::Refused : Note::Done);
    if (!receipt.nextHolder.isEmpty()) {
        const QString holder = receipt.nextHolderName.isEmpty()
            ? receipt.nextHolder
            : QStringLiteral("%1（%2）").arg(receipt.nextHolderName, receipt.nextHolder);
        note(QStringLiteral("请将 %1 放到预约架，留给 %2").arg(m_checkinNumber, holder), Note::PutAside);
    }
    if (receipt.userId == m_reader || receipt.nextHolder == m_reader)
        reloadReader();
}

void CirculationDeskDialog::renew()
{
    QTreeWidgetItem* current = m_ui->loanList->currentItem();
    if (!current || !m_renewal.start(RenewBookQuery{{current->text(2), m_reader}}))
        return;
    m_renewNumber = current->text(2);
}

void CirculationDeskDialog::renewed(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.value(0) == Reply::RenewBookSuccessfully) {
        note(QStringLiteral("%1 续借到 %2").arg(m_renewNumber, DueDate::shortened(frame.value(1))));
        reloadReader();
    } else if (!RequestExchange::reportIfLoginEnded(this, frame)) {
        note(QStringLiteral("%1 未续借：%2").arg(m_renewNumber, Refusals::aboutReader(frame.value(0), frame.value(1))),
             Note::Refused);
    }
}

// The due-date slip -----------------------------------------------------------------------------------

QList<UserLoanRecord> CirculationDeskDialog::slipLoans(const QList<UserLoanRecord>& loans, const QStringList& lent)
{
    if (lent.isEmpty())
        return loans;
    // The number scanned may differ from the stored one in hyphens, spaces or case.
    auto key = [](QString number) { return number.remove(QLatin1Char('-')).remove(QLatin1Char(' ')).toUpper(); };
    QStringList keys;
    for (const QString& number : lent)
        keys << key(number);
    QList<UserLoanRecord> out;
    for (const UserLoanRecord& loan : loans) {
        if (keys.contains(key(loan.loan.number)))
            out << loan;
    }
    return out;
}

void CirculationDeskDialog::printSlip()
{
    if (m_reader.isEmpty()) {
        note(QStringLiteral("请先输入读者ID"), Note::Refused);
        return;
    }
    // The loans are listed again after each check-out: a slip printed before that would miss the
    // copy just lent and its due date.
    if (m_loans.isBusy()) {
        note(QStringLiteral("正在刷新在借图书，请稍后再打印借书单"), Note::Refused);
        return;
    }
    const QList<UserLoanRecord> loans = slipLoans(m_loanRecords, m_lentThisVisit);
    if (loans.isEmpty()) {
        note(QStringLiteral("%1 没有在借图书，无借书单可打印").arg(m_reader), Note::Refused);
        return;
    }
    SlipContent slip;
    slip.readerId = m_reader;
    slip.readerName = m_readerName;
    for (const UserLoanRecord& loan : loans)
        slip.loans << SlipContent::Loan{loan.loan.name, loan.loan.number, Slip::dueDay(loan.dueAt)};
    Slip::preview(this, slip);
}
