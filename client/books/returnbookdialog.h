#pragma once

#include "messages.h"
#include "operationchannel.h"
#include "requestexchange.h"
#include "rowhandle.h"
#include "ui_returnbookdialog.h"
#include "userinfo.h"

#include <QDialog>

// Lists the books on loan to the account (asked for as soon as the dialog opens) and returns the
// selected one. A successful return removes the row here and is reported to the main window. The due
// dates come from a second request, red once passed (a server without it leaves the column empty);
// 续借 renews the selected loan.
class ReturnBookDialog : public QDialog
{
    Q_OBJECT

public:
    ReturnBookDialog(const UserInfo& user, QWidget* parent);

signals:
    void returnBookSuccessfully(ReturnBookDialog* dialog);

private slots:
    void sendRequest();
    void getInfo();
    void getError();
    void returnBook();
    void sendReturnRequest();
    void getReturnInfo();
    void getReturnError();
    void showDueDates(const QList<QStringList>& frames);
    void renewBook();
    void renewed(const QList<QStringList>& frames);
    void printSlip();

private:
    Ui::RETURNBOOKUI ui;
    UserInfo user;
    OperationChannel listChannel;
    OperationChannel returnChannel;
    // The row being returned; empty once it is gone.
    RowHandle returnItem;
    // The row's seven column texts and the user ID, captured when return is pressed.
    ReturnBookQuery returnRecord;
    // Set on the success word: the rest of that reply is read to its end but not acted on.
    bool returnDone = false;
    RequestExchange dueDates{this, Reply::UserLoanRowSize};
    RequestExchange renewal{this};
    RowHandle renewItem;
};
