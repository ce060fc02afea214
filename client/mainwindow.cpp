#include "mainwindow.h"

#include "bookinfo.h"
#include "formchecks.h"
#include "levels.h"
#include "listcolumns.h"
#include "loginsession.h"
#include "refusals.h"
#include "tlsdialog.h"

#include <QDebug>
#include <QKeySequence>
#include <QMessageBox>

MainWindow::MainWindow()
{
    setupUi(this);
    setWindowTitle(tr("Welcome!"));
    user = UserInfo::guest();

    actionLogin->setShortcut(QKeySequence(tr("Ctrl+I")));
    actionLogout->setShortcut(QKeySequence(tr("Ctrl+O")));
    actionExit->setShortcut(QKeySequence(tr("Ctrl+Q")));
    actionInfo->setShortcut(QKeySequence(tr("Alt+I")));
    connect(actionLogin, &QAction::triggered, this, &MainWindow::userLoginWindow);
    connect(actionLogout, &QAction::triggered, this, &MainWindow::userLogoutWindow);
    connect(actionExit, &QAction::triggered, this, &MainWindow::close);
    connect(actionChangeIP, &QAction::triggered, this, &MainWindow::openChangeIPWindow);
    connect(actionTls, &QAction::triggered, this, [this] {
        auto* dialog = new TlsDialog(TlsSettings::pathBeside(ServerAddressFile::defaultPath()), this);
        dialog->open();
    });
    connect(actionInfo, &QAction::triggered, this, &MainWindow::userInfoWindow);
    connect(actionRegister, &QAction::triggered, this, &MainWindow::registerWindow);
    connect(actionUserManage, &QAction::triggered, this, &MainWindow::userManageWindow);
    connect(actionAddBook, &QAction::triggered, this, &MainWindow::addBookWindow);
    connect(actionLabels, &QAction::triggered, this, &MainWindow::labelPrintWindow);
    connect(actionDesk, &QAction::triggered, this, &MainWindow::circulationDeskWindow);
    connect(actionOverdue, &QAction::triggered, this, &MainWindow::overdueWindow);
    connect(actionAudit, &QAction::triggered, this, &MainWindow::auditLogWindow);
    connect(actionNotices, &QAction::triggered, this, &MainWindow::noticesWindow);
    connect(actionStatistics, &QAction::triggered, this, &MainWindow::statisticsWindow);
    connect(actionInventory, &QAction::triggered, this, &MainWindow::inventoryWindow);
    connect(actionBorrowBook, &QAction::triggered, this, &MainWindow::borrowBookWindow);
    connect(actionHolds, &QAction::triggered, this, &MainWindow::holdsWindow);

    connect(searchButton, &QPushButton::pressed, this, &MainWindow::startSearch);
    connect(stopButton, &QPushButton::pressed, this, &MainWindow::stopSearch);
    connect(bookList, &QTreeWidget::itemDoubleClicked, this, &MainWindow::bookWindow);

    // Enter in any search field searches, as the button does (a barcode scanner ends with Enter).
    for (QLineEdit* edit : {bookEdit, authorEdit, bookNumber, bookYearF, bookYearT, typeEdit, pressEdit}) {
        connect(edit, &QLineEdit::returnPressed, this, [this] {
            if (searchButton->isEnabled())
                startSearch();
        });
    }
    FormChecks::limitToYear(bookYearF);
    FormChecks::limitToYear(bookYearT);
    FormChecks::setTabOrder({bookEdit, authorEdit, bookNumber, bookYearF, bookYearT, typeEdit, pressEdit, searchButton,
                             stopButton, bookList});
    // Title, author, category, publisher share the room; year, number, state and level fit their texts.
    ListColumns::setUp(bookList, {4, 2, 1, 2, 0, 0, 0, 0});
    ListColumns::reserve(bookList, 6, ListColumns::bookStates());
    ListColumns::reserve(bookList, 7, ListColumns::levelNames());

    searchChannel.wire(this, &MainWindow::sendSearchingRequest, &MainWindow::updateListWidget, &MainWindow::getError);
    loginChannel.wire(this, &MainWindow::sendLoginRequest, &MainWindow::getLoginInfo, &MainWindow::getErrorLogin);
    infoChannel.wire(this, &MainWindow::sendUserInfoUpdateRequest, &MainWindow::getUserUpdateInfo,
                     &MainWindow::getErrorUserUpdateInfo);
    registerChannel.wire(this, &MainWindow::sendRegisterRequest, &MainWindow::getRegisterInfo,
                         &MainWindow::getErrorRegister);
    logoutChannel.wire(this, &MainWindow::sendLogoutRequest, &MainWindow::getLogoutInfo, &MainWindow::getErrorLogout);
    logoutChannel.setShowsBusyCursor(false);

    // A new window starts without a login, whatever an earlier window of this process left behind.
    LoginSession& session = LoginSession::instance();
    session.end();
    connect(&session, &LoginSession::lost, this, &MainWindow::loginLost);
    connect(&session, &LoginSession::passwordChangeRequired, this, &MainWindow::openPasswordChange);
}

MainWindow::~MainWindow()
{
    // The token belongs to this window's login.
    LoginSession::instance().end();
}

void MainWindow::enterGuestState()
{
    setWindowTitle(tr("Welcome!"));
    user = UserInfo::guest();
    actionInfo->setEnabled(false);
    actionLogin->setEnabled(true);
    actionLogout->setEnabled(false);
    menuAdmin->setEnabled(false);
    actionBorrowBook->setEnabled(false);
    actionHolds->setEnabled(false);
}

void MainWindow::enterLoggedInState(const UserInfo& account)
{
    user = account;
    setWindowTitle(QStringLiteral("Welcome ") + user.name + QStringLiteral("!"));
    actionInfo->setEnabled(true);
    actionLogin->setEnabled(false);
    actionLogout->setEnabled(true);
    actionBorrowBook->setEnabled(true);
    actionHolds->setEnabled(true);
    if (user.checkPermission(QStringLiteral("Administrator")))
        menuAdmin->setEnabled(true);
}

// Book search ----------------------------------------------------------------------------------------

void MainWindow::startSearch()
{
    if (!FormChecks::isYearOrEmpty(bookYearF->text()) || !FormChecks::isYearOrEmpty(bookYearT->text())) {
        QMessageBox::warning(this, QStringLiteral("Error!"), FormChecks::yearMessage());
        return;
    }
    searchFailed = false;
    searchChannel.start();
    searchButton->setEnabled(false);
    stopButton->setEnabled(true);
    bookList->clear();
}

void MainWindow::sendSearchingRequest()
{
    // The fields are read now, not when the button was pressed: edits made while connecting count.
    searchChannel.send(BookQuery{bookEdit->text(), authorEdit->text(), bookNumber->text(), bookYearF->text(),
                                 bookYearT->text(), typeEdit->text(), pressEdit->text()});
}

void MainWindow::updateListWidget()
{
    QStringList frame;
    while (searchChannel.nextFrame(frame)) {
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::BookRowSize);
        if (!row) {
            // A frame of one string is a refusal in place of the rows (the login has ended, say).
            if (frame.size() == 1) {
                searchFailed = true;
                Refusals::report(this, frame);
            } else {
                qDebug() << "Book row of" << frame.size() << "fields ignored";
            }
            continue;
        }
        QStringList columns = row->mid(0, Reply::BookRowSize - 1);
        columns << user.permissionToChinese(row->last());
        ListColumns::addRow(bookList, columns);
    }
    if (searchChannel.atEnd()) {
        qDebug() << "Receive End";
        finishSearch();
    }
}

void MainWindow::getError()
{
    searchFailed = true;
    searchChannel.reportError(this);
    finishSearch();
}

void MainWindow::stopSearch()
{
    finishSearch();
}

void MainWindow::finishSearch()
{
    searchChannel.close();
    searchButton->setEnabled(true);
    stopButton->setEnabled(false);
    ListColumns::fit(bookList);
    // A search that failed ends with its error alone: "Find 0 result" would read as "no such book".
    if (searchFailed)
        return;
    const int rows = bookList->topLevelItemCount();
    QMessageBox::information(this, QStringLiteral("Searching completed"),
                             QStringLiteral("Find ") + QString::number(rows) + QStringLiteral(" result"));
}
