// Login, logout, the server address dialog, book detail and borrowed books.
#include "mainwindow.h"

#include "bookdialog.h"
#include "dialogchip.h"
#include "logindialog.h"
#include "returnbookdialog.h"

#include <QDebug>
#include <QMessageBox>

// Login and logout -----------------------------------------------------------------------------------

void MainWindow::userLoginWindow()
{
    // The previous dialog, if any, stays a hidden child of the window.
    loginDialog = new LoginDialog(this);
    connect(loginDialog->cancelButton, &QPushButton::pressed, loginDialog, &LoginDialog::close);
    connect(loginDialog->loginButton, &QPushButton::pressed, this, &MainWindow::userLogin);
}

void MainWindow::userLogoutWindow()
{
    enterGuestState();
}

void MainWindow::userLogin()
{
    if (!loginDialog)
        return;
    pending[0] = loginDialog->userNameEdit->text();
    pending[1] = loginDialog->passwordEdit->text();
    // A press while an exchange is open starts over with what the form holds now; start() drops the
    // old exchange, so its reply can no longer arrive.
    loginChannel.start();
}

void MainWindow::sendLoginRequest()
{
    loginChannel.send(LoginQuery{pending[0], pending[1]});
}

void MainWindow::getLoginInfo()
{
    // Every frame that has arrived is read, the end-of-stream frame included, so the connection closes
    // as soon as the reply is complete.
    QWidget* boxParent = loginDialog ? static_cast<QWidget*>(loginDialog) : this;
    QStringList frame;
    while (loginChannel.nextFrame(frame)) {
        const QString word = Reply::wordOf(frame);
        if (word == Reply::Pass) {
            const std::optional<QStringList> record = Reply::accountAfterPass(frame);
            if (!record) {
                qDebug() << "Login reply without an account record ignored";
                continue;
            }
            user = UserInfo::fromRecord(*record);
            QMessageBox::information(boxParent, QStringLiteral("PASS!"), tr("Login successfully!"));
            if (loginDialog)
                loginDialog->close();
            enterLoggedInState(user);
        } else if (word == Reply::WrongId) {
            QMessageBox::warning(boxParent, QStringLiteral("Error!"), tr("Wrong user name!"));
        } else {
            QMessageBox::warning(boxParent, QStringLiteral("Error!"), tr("Wrong password!"));
        }
    }
    if (loginChannel.atEnd())
        qDebug() << "Recive End" << " " << 65535;
}

void MainWindow::getErrorLogin()
{
    loginChannel.reportError(this);
}

// Server address -------------------------------------------------------------------------------------

void MainWindow::openChangeIPWindow()
{
    new DialogChIP(this);
}

// Book detail ----------------------------------------------------------------------------------------

void MainWindow::bookWindow(QTreeWidgetItem* item, int)
{
    if (!item)
        return;
    const BookInfo book(item->text(0), item->text(1), item->text(2), item->text(3), item->text(4),
                        item->text(5), item->text(6), user.permissionToEnglish(item->text(7)));
    auto* dialog = new BookDialog(user, book, item, this);
    connect(dialog, &BookDialog::deleteSuccessfully, this, &MainWindow::deleteBook);
    connect(dialog, &BookDialog::borrowSuccessfully, this, &MainWindow::borrowBook);
}

void MainWindow::deleteBook(BookDialog* dialog)
{
    // The row may already be gone (a new search, a return): then there is nothing to remove.
    if (QTreeWidgetItem* row = dialog->item())
        delete bookList->takeTopLevelItem(bookList->indexOfTopLevelItem(row));
    dialog->close();
}

void MainWindow::borrowBook(BookDialog* dialog)
{
    if (QTreeWidgetItem* row = dialog->item())
        row->setText(6, BookState::lentOut());
    dialog->close();
}

// Borrowed books -------------------------------------------------------------------------------------

void MainWindow::borrowBookWindow()
{
    auto* dialog = new ReturnBookDialog(user, this);
    connect(dialog, &ReturnBookDialog::returnBookSuccessfully, this, &MainWindow::returnBookSuccessfully);
}

void MainWindow::returnBookSuccessfully(ReturnBookDialog*)
{
    bookList->clear();
}
