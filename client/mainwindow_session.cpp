// Login, logout, the server address dialog, book detail, borrowed books and the reader's holds.
#include "mainwindow.h"

#include "accountwindow.h"
#include "addbookdialog.h"
#include "auditlogdialog.h"
#include "bookdialog.h"
#include "circulationdeskdialog.h"
#include "devicetokenfile.h"
#include "dialogchip.h"
#include "logindialog.h"
#include "loginsession.h"
#include "myholdsdialog.h"
#include "overduedialog.h"
#include "refusals.h"
#include "returnbookdialog.h"
#include "userinfoupdatedialog.h"
#include "usermanagedialog.h"

#include <QCloseEvent>
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
    endLogin(false);
    // On a shared PC the next person must not find the last one's loans, overdue readers or audit
    // trail on the screen.
    closeAccountDialogs();
    enterGuestState();
}

void MainWindow::endLogin(bool wait)
{
    LoginSession& session = LoginSession::instance();
    const bool loggedIn = session.isActive();
    pendingLogout = {user.id, session.token()};
    session.end();
    if (!loggedIn)
        return;
    logoutChannel.start();
    if (!wait)
        return;
    // Quitting: the event loop is about to end, so the notice is written (through TLS when on) before
    // the window goes, within a short bound.
    logoutChannel.flush(2000);
    logoutChannel.close();
}

void MainWindow::sendLogoutRequest()
{
    // The token of the login it ends (none when the server gave none: then the address's login).
    const std::optional<QString> token =
        pendingLogout.second.isEmpty() ? std::nullopt : std::optional<QString>(pendingLogout.second);
    logoutChannel.send(LogoutQuery{pendingLogout.first}, token);
}

void MainWindow::getLogoutInfo()
{
    // The answer changes nothing here: the client has logged out already.
    QStringList frame;
    while (logoutChannel.nextFrame(frame)) { }
}

void MainWindow::getErrorLogout()
{
    logoutChannel.close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    endLogin(true);
    QMainWindow::closeEvent(event);
}

void MainWindow::loginLost()
{
    const QString id = user.id;
    closeAccountDialogs();
    enterGuestState();
    userLoginWindow();
    // The ID is kept for the new login.
    loginDialog->userNameEdit->setText(id);
    loginDialog->passwordEdit->setFocus();
}

void MainWindow::closeAccountDialogs()
{
    AccountWindow::closeAll(this);
}

void MainWindow::openPasswordChange()
{
    if (!LoginSession::instance().isActive())
        return;
    if (infoDialog && infoDialog->isVisible())
        return;
    userInfoWindow();
}

void MainWindow::userLogin()
{
    if (!loginDialog)
        return;
    pending[0] = loginDialog->userNameEdit->text();
    pending[1] = loginDialog->passwordEdit->text();
    loginPassed = false;
    // A press while an exchange is open starts over with what the form holds now; start() drops the
    // old exchange, so its reply can no longer arrive.
    loginChannel.start();
}

void MainWindow::sendLoginRequest()
{
    // Asks for a session token, and presents this PC's device token for the account; a server
    // without tokens answers as to the documented login.
    LoginQuery query{pending[0], pending[1]};
    query.sessionWord = Reply::Session;
    const ServerAddress& address = loginChannel.address();
    query.deviceToken = DeviceTokenFile::load(TlsSettings::pathBeside(loginChannel.addressFile()), address.host,
                                              quint16(address.port), pending[0]);
    loginChannel.send(query);
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
            // Before the box: while it is open, a nested read may already take the token frame.
            LoginSession::instance().begin();
            loginPassed = true;
            QMessageBox::information(boxParent, QStringLiteral("PASS!"), tr("Login successfully!"));
            if (loginDialog)
                loginDialog->close();
            enterLoggedInState(user);
        } else if (word == Reply::Session) {
            if (loginPassed)
                LoginSession::instance().setToken(frame.value(1));
        } else if (word == Reply::Device) {
            const ServerAddress& address = loginChannel.address();
            if (loginPassed)
                DeviceTokenFile::save(TlsSettings::pathBeside(loginChannel.addressFile()), address.host,
                                      quint16(address.port), user.id, frame.value(1));
        } else if (word == Wire::spelling(Refusal::PasswordChangeRequired)) {
            // A generated password: the new one is chosen before anything else.
            if (loginPassed) {
                QMessageBox::information(this, QStringLiteral("Error!"), Refusals::message(word));
                LoginSession::instance().announcePasswordChangeRequired();
            }
        } else if (word == Reply::WrongId) {
            QMessageBox::warning(boxParent, QStringLiteral("Error!"), tr("Wrong user name!"));
        } else if (Refusals::isLoginThrottle(word) || word == Wire::spelling(Refusal::ServerError)) {
            // Not the password's fault: the lockout, with its seconds when the server sends them.
            QMessageBox::warning(boxParent, QStringLiteral("Error!"), Refusals::message(word, frame.value(1)));
        } else {
            QMessageBox::warning(boxParent, QStringLiteral("Error!"), tr("Wrong password!"));
        }
    }
    if (loginChannel.atEnd())
        qDebug() << "Recive End"
                 << " " << 65535;
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
    const BookInfo book(item->text(0), item->text(1), item->text(2), item->text(3), item->text(4), item->text(5),
                        item->text(6), user.permissionToEnglish(item->text(7)));
    auto* dialog = new BookDialog(user, book, item, this);
    connect(dialog, &BookDialog::deleteSuccessfully, this, &MainWindow::deleteBook);
    connect(dialog, &BookDialog::borrowSuccessfully, this, &MainWindow::borrowBook);
    connect(dialog, &BookDialog::loginWanted, this, &MainWindow::userLoginWindow);
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

// The reader's holds ---------------------------------------------------------------------------------

void MainWindow::holdsWindow()
{
    new MyHoldsDialog(user.id, this);
}
