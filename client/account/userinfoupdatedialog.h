#pragma once

#include "ui_userinfoupdatedialog.h"

#include <QDialog>

// The personal information form. It holds no logic: the main window fills it from the account,
// captures it on confirm, sends the update and reports the answer.
class UserInfoUpdateDialog : public QDialog, public Ui::USERINFOUPDATEUI
{
    Q_OBJECT

public:
    explicit UserInfoUpdateDialog(QWidget* parent);
};
