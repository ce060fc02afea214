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
    void circulationDeskWindow();
    void overdueWindow();
    void auditLogWindow();

    // Book detail and borrowed books.
    void bookWindow(QTreeWidgetItem* item, int column);
    void deleteBook(BookDialog* dialog);
    void borrowBook(BookDialog* dialog);
    void borrowBookWindow();
    void returnBookSuccessfully(ReturnBookDialog* dialog);

private:
    // The two user states. Guest: title "Welcome!", log in enabled, personal information, borrowed
    // books and the administrator menu disabled. Logged in: the reverse, the administrator menu only
    // for Administrator and above.
    void enterGuestState();
    void enterLoggedInState(const UserInfo& account);

    // Ends a search (stop button, end of stream or error): closes the channel, resets the buttons and
    // reports how many rows the list holds.
    void finishSearch();

    UserInfo user;
    // The most recently opened dialogs of each kind; the main window owns them as their parent.
    QPointer<LoginDialog> loginDialog;
    QPointer<UserInfoUpdateDialog> infoDialog;
    QPointer<RegisterDialog> registerDialog;

    OperationChannel searchChannel;
    OperationChannel loginChannel;
    OperationChannel infoChannel;
    OperationChannel registerChannel;

    // Form input captured when a button is pressed and sent when the socket connects: 0 login user ID,
    // 1 login password; 2 name, 3 phone number, 4 new password, 5 repeated password, 6 e-mail,
    // 7 personal information.
    QString pending[8];

    // The form whose submit is in flight: its reply is reported over it (and closes it), even when
    // another form of the same kind has been opened since.
    QPointer<RegisterDialog> registerSubmitter;
    QPointer<UserInfoUpdateDialog> infoSubmitter;
    // The account an update was submitted for: its reply changes `user` only while it is logged in.
    QString infoAccountId;
};
