#pragma once

#include "requestexchange.h"
#include "ui_userinfoupdatedialog.h"

#include <QDialog>

// The personal information form. It holds no logic for the details: the main window fills it from
// the account, captures it on confirm, sends the update and reports the answer. The choice of
// due-soon reminders is the form's own: read when it opens, stored as soon as it is changed.
class UserInfoUpdateDialog : public QDialog, public Ui::USERINFOUPDATEUI
{
    Q_OBJECT

public:
    explicit UserInfoUpdateDialog(QWidget* parent);

    // Reads the account's choice; the box shows once the server has answered (a server without
    // notices never does).
    void showNoticePreference(const QString& userId);

private:
    void storeNoticePreference(bool wanted);

    QString m_userId;
    RequestExchange m_readPreference{this};
    RequestExchange m_storePreference{this};
};
