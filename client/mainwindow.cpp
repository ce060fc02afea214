#include "mainwindow.h"

#include "bookinfo.h"
#include "levels.h"

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
    connect(actionInfo, &QAction::triggered, this, &MainWindow::userInfoWindow);
    connect(actionRegister, &QAction::triggered, this, &MainWindow::registerWindow);
    connect(actionUserManage, &QAction::triggered, this, &MainWindow::userManageWindow);
    connect(actionAddBook, &QAction::triggered, this, &MainWindow::addBookWindow);
    connect(actionDesk, &QAction::triggered, this, &MainWindow::circulationDeskWindow);
    connect(actionOverdue, &QAction::triggered, this, &MainWindow::overdueWindow);
    connect(actionAudit, &QAction::triggered, this, &MainWindow::auditLogWindow);
    connect(actionBorrowBook, &QAction::triggered, this, &MainWindow::borrowBookWindow);

    connect(searchButton, &QPushButton::pressed, this, &MainWindow::startSearch);
    connect(stopButton, &QPushButton::pressed, this, &MainWindow::stopSearch);
    connect(bookList, &QTreeWidget::itemDoubleClicked, this, &MainWindow::bookWindow);

    const auto wire = [this](OperationChannel& channel, void (MainWindow::*sender)(),
                             void (MainWindow::*reader)(), void (MainWindow::*onError)()) {
        QTcpSocket* socket = &channel.socket();
        connect(socket, &QTcpSocket::connected, this, sender);
        connect(socket, &QTcpSocket::readyRead, this, reader);
        connect(socket, &QTcpSocket::errorOccurred, this, onError);
    };
    wire(searchChannel, &MainWindow::sendSearchingRequest, &MainWindow::updateListWidget, &MainWindow::getError);
    wire(loginChannel, &MainWindow::sendLoginRequest, &MainWindow::getLoginInfo, &MainWindow::getErrorLogin);
    wire(infoChannel, &MainWindow::sendUserInfoUpdateRequest, &MainWindow::getUserUpdateInfo,
         &MainWindow::getErrorUserUpdateInfo);
    wire(registerChannel, &MainWindow::sendRegisterRequest, &MainWindow::getRegisterInfo,
         &MainWindow::getErrorRegister);
}

MainWindow::~MainWindow() = default;

void MainWindow::enterGuestState()
{
    setWindowTitle(tr("Welcome!"));
    user = UserInfo::guest();
    actionInfo->setEnabled(false);
    actionLogin->setEnabled(true);
    menuAdmin->setEnabled(false);
    actionBorrowBook->setEnabled(false);
}

void MainWindow::enterLoggedInState(const UserInfo& account)
{
    user = account;
    setWindowTitle(QStringLiteral("Welcome ") + user.name + QStringLiteral("!"));
    actionInfo->setEnabled(true);
    actionLogin->setEnabled(false);
    actionBorrowBook->setEnabled(true);
    if (user.checkPermission(QStringLiteral("Administrator")))
        menuAdmin->setEnabled(true);
}

// Book search ----------------------------------------------------------------------------------------

void MainWindow::startSearch()
{
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
            qDebug() << "Book row of" << frame.size() << "fields ignored";
            continue;
        }
        QStringList columns = row->mid(0, Reply::BookRowSize - 1);
        columns << user.permissionToChinese(row->last());
        bookList->addTopLevelItem(new QTreeWidgetItem(columns));
    }
    if (searchChannel.atEnd()) {
        qDebug() << "Receive End";
        finishSearch();
    }
}

void MainWindow::getError()
{
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
    const int rows = bookList->topLevelItemCount();
    QMessageBox::information(this, QStringLiteral("Searching completed"),
                             QStringLiteral("Find ") + QString::number(rows) + QStringLiteral(" result"));
}
