#pragma once

#include "labelitem.h"
#include "operationchannel.h"
#include "ui_addbookdialog.h"

#include <QDialog>

// Sends a new book and the level needed to borrow it to the catalogue. Works alone: it holds no
// account, and closes itself once the server confirms. With an ISBN or more than one copy it adds
// the copies of the title at once; 查询 (or Enter in the ISBN field) fills the fields from the
// records the server's cataloguing targets have, with a pick list when there are several.
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
    void lookUp();
    void sendLookupRequest();
    void getLookupInfo();
    void getErrorLookup();
    void takeRecord(int index);

private:
    bool eventFilter(QObject* watched, QEvent* event) override;

    Ui::ADDBOOKUI ui;
    OperationChannel addChannel;
    OperationChannel lookupChannel;
    QList<CatalogueRecord> records; // the look-up's answer, in the order of the pick list
    LabelItem sentCopy; // the first copy as sent; its label can be printed next
};
