#include "returnbookdialog.h"

#include "accountwindow.h"

#include "duedate.h"
#include "listcolumns.h"
#include "refusals.h"
#include "slip.h"

#include <QDebug>
#include <QMessageBox>

ReturnBookDialog::ReturnBookDialog(const UserInfo& user, QWidget* parent)
    : QDialog(parent)
    , user(user)
{
    ui.setupUi(this);
    AccountWindow::mark(this);
    setWindowTitle(QStringLiteral("Book List"));
    setAttribute(Qt::WA_ShowModal);
    show();

    connect(ui.cancelButton, &QPushButton::pressed, this, &ReturnBookDialog::close);
    connect(ui.returnButton, &QPushButton::pressed, this, &ReturnBookDialog::returnBook);
    listChannel.wire(this, &ReturnBookDialog::sendRequest, &ReturnBookDialog::getInfo, &ReturnBookDialog::getError);
    returnChannel.wire(this, &ReturnBookDialog::sendReturnRequest, &ReturnBookDialog::getReturnInfo,
                       &ReturnBookDialog::getReturnError);
    ui.returnButton->setAutoDefault(false);
    ui.cancelButton->setAutoDefault(false);
    ui.renewButton->setAutoDefault(false);
    // Title, author, type and publisher share the room; year, number and the whole dates fit their texts.
    ListColumns::setUp(ui.bookList, {4, 2, 1, 2, 0, 0, 0, 0, 0});
    connect(ui.renewButton, &QPushButton::pressed, this, &ReturnBookDialog::renewBook);
    connect(ui.slipButton, &QPushButton::clicked, this, &ReturnBookDialog::printSlip);
    connect(&dueDates, &RequestExchange::finished, this, &ReturnBookDialog::showDueDates);
    connect(&renewal, &RequestExchange::finished, this, &ReturnBookDialog::renewed);

    // The listing runs once, now; the signals are wired first so that no early error is missed.
    listChannel.start();
    ui.bookList->clear();
}

// Listing --------------------------------------------------------------------------------------------

void ReturnBookDialog::sendRequest()
{
    listChannel.send(UserBorrowBookQuery{user.id});
}

void ReturnBookDialog::getInfo()
{
    QStringList frame;
    while (listChannel.nextFrame(frame)) {
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::BorrowedBookRowSize);
        if (!row) {
            // A frame of one string is a refusal in place of the rows (the login has ended, say): an
            // empty list must not pass for "no loans".
            if (frame.size() == 1)
                Refusals::report(this, frame);
            else
                qDebug() << "Borrowed-book row of" << frame.size() << "fields ignored";
            continue;
        }
        ListColumns::addRow(ui.bookList, *row);
    }
    if (listChannel.atEnd()) {
        qDebug() << "Receive End";
        ListColumns::fit(ui.bookList);
        // The due dates come in a second exchange, only where there are loans to show them for.
        if (ui.bookList->topLevelItemCount() > 0)
            dueDates.start(UserLoansQuery{user.id});
    }
}

void ReturnBookDialog::getError()
{
    listChannel.reportError(this);
}

// Returning ------------------------------------------------------------------------------------------

void ReturnBookDialog::returnBook()
{
    // A second press mid-exchange is ignored: aborting the first request could leave a book returned
    // on the server whose row never leaves the list.
    if (returnChannel.isBusy())
        return;
    QTreeWidgetItem* current = ui.bookList->currentItem();
    returnItem = RowHandle(current);
    if (!current)
        return;
    QStringList columns;
    for (int column = 0; column < Reply::BorrowedBookRowSize; ++column)
        columns << current->text(column);
    returnRecord = ReturnBookQuery{LoanRecord::from(columns), user.id};
    returnDone = false;
    returnChannel.start();
}

void ReturnBookDialog::sendReturnRequest()
{
    returnChannel.send(returnRecord);
}

void ReturnBookDialog::getReturnInfo()
{
    QStringList frame;
    while (returnChannel.nextFrame(frame)) {
        if (returnDone)
            continue;
        if (Reply::wordOf(frame) != Reply::ReturnBookSuccessfully) {
            Refusals::report(this, frame);
            continue;
        }
        returnDone = true;
        QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("Return the book successfully!!!"));
        emit returnBookSuccessfully(this);
        delete returnItem.item();
        returnItem.reset();
    }
    if (returnChannel.atEnd())
        qDebug() << "Receive End";
}

void ReturnBookDialog::getReturnError()
{
    returnChannel.reportError(this);
}

// Due dates and renewal ---------------------------------------------------------------------------------

void ReturnBookDialog::showDueDates(const QList<QStringList>& frames)
{
    constexpr int DueColumn = Reply::BorrowedBookRowSize;
    constexpr int RenewalsLeftColumn = DueColumn + 1;
    for (const QStringList& frame : frames) {
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::UserLoanRowSize);
        if (!row)
            continue;
        const UserLoanRecord loan = UserLoanRecord::from(*row);
        for (int i = 0; i < ui.bookList->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = ui.bookList->topLevelItem(i);
            if (item->text(5) == loan.loan.number) {
                DueDate::show(item, DueColumn, loan.dueAt);
                item->setText(RenewalsLeftColumn, loan.renewalsLeft);
            }
        }
    }
    ListColumns::fit(ui.bookList);
}

void ReturnBookDialog::renewBook()
{
    QTreeWidgetItem* current = ui.bookList->currentItem();
    if (!current || renewal.isBusy())
        return;
    renewItem = RowHandle(current);
    renewal.start(RenewBookQuery{{current->text(5), user.id}});
}

void ReturnBookDialog::renewed(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.value(0) == Reply::RenewBookSuccessfully) {
        if (QTreeWidgetItem* item = renewItem.item()) {
            DueDate::show(item, Reply::BorrowedBookRowSize, frame.value(1));
            bool counted = false;
            const int left = item->text(Reply::BorrowedBookRowSize + 1).toInt(&counted);
            if (counted && left > 0)
                item->setText(Reply::BorrowedBookRowSize + 1, QString::number(left - 1));
        }
        QMessageBox::information(this, QStringLiteral("PASS"),
                                 QStringLiteral("续借成功，新的到期日期：%1").arg(DueDate::shortened(frame.value(1))));
    } else if (!frame.isEmpty()) {
        Refusals::report(this, frame);
    }
    renewItem.reset();
}

// The due-date slip -----------------------------------------------------------------------------------

void ReturnBookDialog::printSlip()
{
    SlipContent slip;
    slip.readerId = user.id;
    slip.readerName = user.name;
    constexpr int DueColumn = Reply::BorrowedBookRowSize;
    for (int i = 0; i < ui.bookList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = ui.bookList->topLevelItem(i);
        slip.loans << SlipContent::Loan{item->text(0), item->text(5), Slip::dueDay(item->text(DueColumn))};
    }
    if (slip.loans.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("打印借书单"), QStringLiteral("没有在借图书"));
        return;
    }
    Slip::preview(this, slip);
}
