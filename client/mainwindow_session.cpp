// Login, logout, the server address dialog, book detail and borrowed books.
#include "mainwindow.h"

void MainWindow::userLoginWindow() {}
void MainWindow::userLogoutWindow() { enterGuestState(); }
void MainWindow::userLogin() {}
void MainWindow::sendLoginRequest() {}
void MainWindow::getLoginInfo() {}
void MainWindow::getErrorLogin() {}
void MainWindow::openChangeIPWindow() {}
void MainWindow::bookWindow(QTreeWidgetItem*, int) {}
void MainWindow::deleteBook(BookDialog*) {}
void MainWindow::borrowBook(BookDialog*) {}
void MainWindow::borrowBookWindow() {}
void MainWindow::returnBookSuccessfully(ReturnBookDialog*) {}
