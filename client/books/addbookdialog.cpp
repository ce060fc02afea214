#include "addbookdialog.h"

#include "levels.h"

#include <QDebug>
#include <QMessageBox>

AddBookDialog::AddBookDialog(QWidget* parent)
    : QDialog(parent)
{
    ui.setupUi(this);
    connect(ui.cancelButton, &QPushButton::pressed, this, &AddBookDialog::close);
    connect(ui.submitButton, &QPushButton::pressed, this, &AddBookDialog::addBook);
    setAttribute(Qt::WA_ShowModal);
    show();

    QTcpSocket* socket = &addChannel.socket();
    connect(socket, &QTcpSocket::connected, this, &AddBookDialog::sendAddBookRequest);
    connect(socket, &QTcpSocket::readyRead, this, &AddBookDialog::getAddBookInfo);
    connect(socket, &QTcpSocket::errorOccurred, this, &AddBookDialog::getErrorAddBook);
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
    addChannel.start();
}

void AddBookDialog::sendAddBookRequest()
{
    // The request keeps the form's row order: the book number comes before the year and publisher.
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
            QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("Add books sucessfully!"));
            close();
        }
    }
    if (addChannel.atEnd())
        qDebug() << "Receive End";
}

void AddBookDialog::getErrorAddBook()
{
    addChannel.reportError(this);
}
