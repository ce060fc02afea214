#pragma once

#include "bookinfo.h"
#include "operationchannel.h"
#include "requestexchange.h"
#include "rowhandle.h"
#include "ui_bookdialog.h"
#include "userinfo.h"

#include <QDialog>

class QTreeWidgetItem;

// Shows one book of the main window's result list with its ISBN and how many copies of the title
// there are; borrows it, or corrects (编辑) or deletes it for an administrator. A reader may place a
// hold (预约) on a copy that is out or kept for someone else.
// Success is reported to the main window through the two signals, which then marks or removes the row.
class BookDialog : public QDialog
{
    Q_OBJECT

public:
    BookDialog(const UserInfo& user, const BookInfo& book, QTreeWidgetItem* item, QWidget* parent);

    // The row the dialog was opened from, or nullptr once a search, a return or a delete removed it.
    QTreeWidgetItem* item() const { return row.item(); }
    const BookInfo& bookInfo() const { return book; }

signals:
    void deleteSuccessfully(BookDialog* dialog);
    void borrowSuccessfully(BookDialog* dialog);
    // A borrow was pressed while nobody is logged in (the reader has been told).
    void loginWanted();

private slots:
    void borrowBook();
    void sendBorrowRequest();
    void getBorrowInfo();
    void getBorrowError();
    void deleteBook();
    void sendDeleteRequest();
    void getDeleteInfo();
    void getDeleteError();
    void placeHold();
    void holdPlaced(const QList<QStringList>& frames);
    void editOrSave();
    void edited(const QList<QStringList>& frames);

private:
    // The copy is out on loan after all: the state field and the result row show it.
    void showLent();
    // Between showing the record and correcting it: the text fields and the level list open up.
    void setEditing(bool editing);
    void showCopies(const QList<QStringList>& frames);

    Ui::BOOKUI ui;
    OperationChannel deleteChannel;
    OperationChannel borrowChannel;
    UserInfo user;
    BookInfo book;
    RowHandle row;
    // Set on the success word: the rest of that reply is read to its end but not acted on.
    bool borrowDone = false;
    bool deleteDone = false;
    RequestExchange holdExchange{this};
    RequestExchange copiesExchange{this};
    RequestExchange editExchange{this};
    EditBookQuery sentEdit;
};
