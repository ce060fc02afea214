#include "logindialog.h"

LoginDialog::LoginDialog(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    setWindowTitle(QStringLiteral("Login"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    setAttribute(Qt::WA_ShowModal);
    setVisible(true);
}
