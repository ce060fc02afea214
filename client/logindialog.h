#pragma once

#include "ui_logindialog.h"

#include <QDialog>

// The login form. It only holds the fields: the main window reads them, runs the exchange and closes
// the dialog on success.
class LoginDialog : public QDialog, public Ui::LOGINUI
{
    Q_OBJECT

public:
    explicit LoginDialog(QWidget* parent);
};
