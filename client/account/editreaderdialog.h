#pragma once

#include "messages.h"
#include "ui_editreaderdialog.h"

#include <QDialog>

// Staff correct a reader's name, student number, phone, e-mail and notes; the ID stays (it is on the
// card). The form holds the record as listed; Save hands back the request to send.
class EditReaderDialog : public QDialog, public Ui::EditReaderDialog
{
    Q_OBJECT

public:
    // `record` is a row of the user list: ID, name, student number, phone, e-mail, level, then when
    // and where the account registered, and its notes.
    EditReaderDialog(const QStringList& record, QWidget* parent);

    EditUserQuery request() const;
};
