#pragma once

#include "labelitem.h"
#include "operationchannel.h"
#include "ui_addbookdialog.h"

#include <QDialog>

// Sends a new book and the level needed to borrow it to the catalogue. Works alone: it holds no
// account, and closes itself once the server confirms.
class AddBookDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AddBookDialog(QWidget* parent);

    // The English level name sent for an entry of limitBox; a null string when no entry is chosen.
    static QString permissionForIndex(int index);

private slots:
    void addBook();
    void sendAddBookRequest();
    void getAddBookInfo();
    void getErrorAddBook();

private:
    Ui::ADDBOOKUI ui;
    OperationChannel addChannel;
    LabelItem sentCopy;
};
