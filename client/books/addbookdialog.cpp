#include "addbookdialog.h"

#include "accountwindow.h"

#include "addedcopies.h"
#include "formchecks.h"
#include "labelprintdialog.h"
#include "levels.h"
#include "refusals.h"

#include <QDebug>
#include <QMessageBox>

AddBookDialog::AddBookDialog(QWidget* parent)
    : QDialog(parent)
{
    ui.setupUi(this);
    AccountWindow::mark(this);
    connect(ui.cancelButton, &QPushButton::pressed, this, &AddBookDialog::close);
    connect(ui.submitButton, &QPushButton::pressed, this, &AddBookDialog::addBook);
    ui.submitButton->setDefault(true);
    ui.cancelButton->setAutoDefault(false);
    FormChecks::limitToYear(ui.yearEdit);
    ui.nameEdit->setFocus();
    setAttribute(Qt::WA_ShowModal);
    show();

    addChannel.wire(this, &AddBookDialog::sendAddBookRequest, &AddBookDialog::getAddBookInfo,
                    &AddBookDialog::getErrorAddBook);
}

QString AddBookDialog::permissionForIndex(int index)
{
    // limitBox lists the levels from Undergraduate up; guests cannot be chosen.
    if (index < 0 || index > Levels::SuperAdmin - Levels::Undergraduate)
        return QString();
    return Levels::englishName(Levels::Undergraduate + index);
}

void AddBookDialog::addBook()
{
    if (!FormChecks::isYearOrEmpty(ui.yearEdit->text())) {
        QMessageBox::warning(this, QStringLiteral("Error!"), FormChecks::yearMessage());
        return;
    }
    addChannel.start();
}

void AddBookDialog::sendAddBookRequest()
{
    // The request keeps the form's row order: the book number comes before the year and publisher.
    sentCopy =
        LabelItem::book(ui.numberEdit->text().trimmed(), ui.nameEdit->text().trimmed(), ui.typeEdit->text().trimmed());
    if (!addChannel.send(AddBookQuery{ui.nameEdit->text(), ui.authorEdit->text(), ui.typeEdit->text(),
                                      ui.numberEdit->text(), ui.yearEdit->text(), ui.pressEdit->text(),
                                      permissionForIndex(ui.limitBox->currentIndex())}))
        QMessageBox::warning(this, QStringLiteral("Error!"), QStringLiteral("Request too large to send!"));
}

void AddBookDialog::getAddBookInfo()
{
    QStringList frame;
    while (addChannel.nextFrame(frame)) {
        if (Reply::wordOf(frame) == Reply::AddBookSuccessfully) {
            // The copy as it was sent (the server trims the fields); its label can be printed next.
            AddedCopies::add(sentCopy);
            QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("Add books sucessfully!"));
            if (ui.printLabelBox->isChecked() && parentWidget())
                new LabelPrintDialog(parentWidget(), {}, LabelPrintDialog::Source::Added);
            close();
        } else {
            Refusals::report(this, frame);
        }
    }
    if (addChannel.atEnd())
        qDebug() << "Receive End";
}

void AddBookDialog::getErrorAddBook()
{
    addChannel.reportError(this);
}
