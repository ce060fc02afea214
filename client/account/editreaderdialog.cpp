#include "editreaderdialog.h"

EditReaderDialog::EditReaderDialog(const QStringList& record, QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    idLabel->setText(record.value(0));
    nameEdit->setText(record.value(1));
    studentNumberEdit->setText(record.value(2));
    phoneEdit->setText(record.value(3));
    emailEdit->setText(record.value(4));
    notesEdit->setPlainText(record.value(8));
    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

EditUserQuery EditReaderDialog::request() const
{
    return {idLabel->text(),
            nameEdit->text().trimmed(),
            studentNumberEdit->text().trimmed(),
            phoneEdit->text().trimmed(),
            emailEdit->text().trimmed(),
            notesEdit->toPlainText()};
}
