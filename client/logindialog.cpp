#include "logindialog.h"

LoginDialog::LoginDialog(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    setWindowTitle(QStringLiteral("Login"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    // Typing starts in the ID field; Enter in either field logs in, and never lands on cancel.
    loginButton->setDefault(true);
    cancelButton->setAutoDefault(false);
    userNameEdit->setFocus();
    setAttribute(Qt::WA_ShowModal);
    setVisible(true);
}
