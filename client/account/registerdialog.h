#pragma once

#include "ui_registerdialog.h"

#include <QDialog>

// The registration form. It holds no logic: the main window reads its editors, sends the request and
// reports the answer over it.
class RegisterDialog : public QDialog, public Ui::REGISTERUI
{
    Q_OBJECT

public:
    explicit RegisterDialog(QWidget* parent);
};
