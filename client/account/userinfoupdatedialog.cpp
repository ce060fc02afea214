#include "userinfoupdatedialog.h"

#include "accountwindow.h"

UserInfoUpdateDialog::UserInfoUpdateDialog(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    AccountWindow::mark(this);
    setWindowTitle(tr("User Information"));
    setAttribute(Qt::WA_ShowModal);
    // A new password needs the current one: a login left open at a shared PC is not enough.
    currentPasswordEdit->setEchoMode(QLineEdit::Password);
    newPasswordEdit->setEchoMode(QLineEdit::Password);
    repeatPasswordEdit->setEchoMode(QLineEdit::Password);
    // Enter in a line submits; cancel never takes Enter.
    submitButton->setDefault(true);
    cancelButton->setAutoDefault(false);
    newPasswordEdit->setFocus();
    setVisible(true);
}
