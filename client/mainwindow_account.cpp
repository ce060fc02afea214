// Registration, personal information update and the administrator windows.
#include "mainwindow.h"

void MainWindow::registerWindow() {}
void MainWindow::userRegister() {}
void MainWindow::sendRegisterRequest() {}
void MainWindow::getRegisterInfo() {}
void MainWindow::getErrorRegister() {}
void MainWindow::userInfoWindow() {}
void MainWindow::userInfoUpdate() {}
void MainWindow::sendUserInfoUpdateRequest() {}
void MainWindow::getUserUpdateInfo() {}
void MainWindow::getErrorUserUpdateInfo() {}
void MainWindow::userManageWindow() {}
void MainWindow::addBookWindow() {}
