#pragma once

#include "operationchannel.h"
#include "ui_mainwindow.h"
#include "userinfo.h"

#include <QMainWindow>
#include <QPointer>

class BookDialog;
class LoginDialog;
class RegisterDialog;
class ReturnBookDialog;
class UserInfoUpdateDialog;
class QTreeWidgetItem;

// The client's one parentless window: menus, the book search form and its result list, and the
// account the user is logged in with. Every dialog is its child.
class MainWindow : public QMainWindow, private Ui::MUI
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    // The current account; the guest record while nobody is logged in.
    const UserInfo& currentUser() const { return user; }

private slots:
    // Login and logout.
    void userLoginWindow();
    void userLogoutWindow();
    void userLogin();
    void sendLoginRequest();
    void getLoginInfo();
    void getErrorLogin();

    // Book search.
    void startSearch();
    void stopSearch();
    void updateListWidget();
    void sendSearchingRequest();
    void getError();

    // Server address.
    void openChangeIPWindow();

    // Registration.
    void registerWindow();
    void userRegister();
    void sendRegisterRequest();
    void getRegisterInfo();
    void getErrorRegister();

    // Personal information update.
    void userInfoWindow();
    void userInfoUpdate();
    void sendUserInfoUpdateRequest();
    void getUserUpdateInfo();
    void getErrorUserUpdateInfo();

    // Administrator windows.
    void userManageWindow();
    void addBookWindow();
    void labelPrintWindow();
    void circulationDeskWindow();
    void overdueWindow();
    void auditLogWindow();
    void noticesWindow();
    void statisticsWindow();
    void inventoryWindow();

    // Logout notice to the server: fire and forget, nothing is shown.
    void sendLogoutRequest();
    void getLogoutInfo();
    void getErrorLogout();

    // The server ended the login (the user has been told): guest state, the login dialog open.
    void loginLost();
    // The server wants a new password first: the personal information form opens.
    void openPasswordChange();

    // Book detail, borrowed books and the reader's holds.
    void bookWindow(QTreeWidgetItem* item, int column);
    void deleteBook(BookDialog* dialog);
    void borrowBook(BookDialog* dialog);
    void borrowBookWindow();
    void holdsWindow();
    void returnBookSuccessfully(ReturnBookDialog* dialog);

protected:
    // Quitting while logged in tells the server that the login ends.
    void closeEvent(QCloseEvent* event) override;

private:
    // The two user states. Guest: title "Welcome!", log in enabled, personal information, borrowed
    // books, holds and the administrator menu disabled. Logged in: the reverse, the administrator
    // menu only for Administrator and above.
    void enterGuestState();
    void enterLoggedInState(const UserInfo& account);

    // Ends a search (stop button, end of stream or error): closes the channel, resets the buttons and
    // reports how many rows the list holds.
    void finishSearch();
    bool searchFailed = false; // the running search was refused or lost: no count at its end
    // Ends the login here and, when someone was logged in, on the server (token and user ID as they
    // are now). `wait` blocks until the notice is written, for quitting.
    void endLogin(bool wait);
    // Closes the dialogs that act for the logged-in account.
    void closeAccountDialogs();

    UserInfo user;
    // The most recently opened dialogs of each kind; the main window owns them as their parent.
    QPointer<LoginDialog> loginDialog;
    QPointer<UserInfoUpdateDialog> infoDialog;
    QPointer<RegisterDialog> registerDialog;

    OperationChannel searchChannel;
    OperationChannel loginChannel;
    OperationChannel infoChannel;
    OperationChannel registerChannel;
    OperationChannel logoutChannel;
    // The logout notice being sent, captured when the login ended.
    // The logout to send: the account and the token it ends.
    std::pair<QString, QString> pendingLogout;
    // The login being read holds a "PASS": a "SESSION" frame behind it carries its token.
    bool loginPassed = false;

    // Form input captured when a button is pressed and sent when the socket connects: 0 login user ID,
    // 1 login password; 2 name, 3 phone number, 4 new password, 5 repeated password, 6 e-mail,
    // 7 personal information.
    QString pending[9];

    // The form whose submit is in flight: its reply is reported over it (and closes it), even when
    // another form of the same kind has been opened since.
    QPointer<RegisterDialog> registerSubmitter;
    QPointer<UserInfoUpdateDialog> infoSubmitter;
    // The account an update was submitted for: its reply changes `user` only while it is logged in.
    QString infoAccountId;
};
