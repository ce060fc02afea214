#include "registerdialog.h"

RegisterDialog::RegisterDialog(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    setWindowTitle(tr("Register"));
    setAttribute(Qt::WA_ShowModal);
    passwordEdit->setEchoMode(QLineEdit::Password);
    repeatPasswordEdit->setEchoMode(QLineEdit::Password);
    // Enter in a line submits; cancel never takes Enter.
    submitButton->setDefault(true);
    cancelButton->setAutoDefault(false);
    idEdit->setFocus();
    setVisible(true);
}
