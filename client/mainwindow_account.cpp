// Registration, personal information update and the administrator windows.
#include "mainwindow.h"

#include "addbookdialog.h"
#include "addedcopies.h"
#include "auditlogdialog.h"
#include "circulationdeskdialog.h"
#include "noticesdialog.h"
#include "inventorydialog.h"
#include "overduedialog.h"
#include "statisticsdialog.h"
#include "formchecks.h"
#include "labelprintdialog.h"
#include "loginsession.h"
#include "refusals.h"
#include "registerdialog.h"
#include "userinfoupdatedialog.h"
#include "usermanagedialog.h"

#include <QDebug>
#include <QMessageBox>

namespace {
// A form's texts too long for one frame: the channel has refused to send them.
void warnTooLarge(QWidget* parent)
{
    QMessageBox::warning(parent, QStringLiteral("Error!"), QStringLiteral("Request too large to send!"));
}
} // namespace

// Registration ---------------------------------------------------------------------------------------

void MainWindow::registerWindow()
{
    registerDialog = new RegisterDialog(this);
    connect(registerDialog->cancelButton, &QPushButton::pressed, registerDialog.data(), &RegisterDialog::close);
    connect(registerDialog->submitButton, &QPushButton::pressed, this, &MainWindow::userRegister);
}

void MainWindow::userRegister()
{
    // Earlier forms are hidden, so the press came from the most recent one.
    RegisterDialog* form = registerDialog;
    if (!form)
        return;
    if (form->repeatPasswordEdit->text() != form->passwordEdit->text()) {
        QMessageBox::warning(form, QStringLiteral("Error"), QStringLiteral("Passwords are not same!"));
        return;
    }
    // What the server would refuse is told here, in words: the same rule as the server's.
    if (const std::optional<AccountFields::Finding> finding = AccountFields::registrationProblem(
            form->idEdit->text(), form->passwordEdit->text(), form->nameEdit->text(), form->studentNumberEdit->text(),
            form->phoneNumberEdit->text(), form->emailEdit->text(), form->userInfoEdit->toPlainText())) {
        QMessageBox::warning(form, QStringLiteral("Error"), FormChecks::problemText(*finding));
        return;
    }
    registerSubmitter = form;
    registerChannel.start();
}

void MainWindow::sendRegisterRequest()
{
    RegisterDialog* form = registerSubmitter;
    if (!form) {
        registerChannel.close();
        return;
    }
    // Read at connect time, as the book search does; the confirmation field is not sent.
    if (!registerChannel.send(UserRegisterQuery{
            form->idEdit->text(), form->passwordEdit->text(), form->nameEdit->text(), form->studentNumberEdit->text(),
            form->phoneNumberEdit->text(), form->emailEdit->text(), form->userInfoEdit->toPlainText()}))
        warnTooLarge(form);
}

void MainWindow::getRegisterInfo()
{
    QStringList frame;
    while (registerChannel.nextFrame(frame)) {
        // The server's success word is not fixed: anything but a refusal means the account exists.
        const QString word = Reply::wordOf(frame);
        if (word == Reply::RegisterFail) {
            // Our server says why as a second string; the documented text stays for "taken" and for
            // servers that do not say.
            const std::optional<Refusal> why = Wire::refusalNamed(frame.value(1));
            QMessageBox::warning(registerSubmitter, QStringLiteral("Error"),
                                 !why || *why == Refusal::IdTaken ? QStringLiteral("ID or student number existed.")
                                                                  : Refusals::message(*why));
        } else if (Refusals::isKnown(word)) {
            Refusals::report(registerSubmitter, frame);
        } else {
            QMessageBox::information(registerSubmitter, QStringLiteral("PASS"),
                                     QStringLiteral("Register sucessfully!\n账号需经图书馆确认后才能借书。"));
            if (registerSubmitter)
                registerSubmitter->close();
        }
    }
    if (registerChannel.atEnd())
        qDebug() << "Receive End";
}

void MainWindow::getErrorRegister()
{
    registerChannel.reportError(registerSubmitter ? registerSubmitter.data() : registerDialog.data());
}

// Personal information update ------------------------------------------------------------------------

void MainWindow::userInfoWindow()
{
    infoDialog = new UserInfoUpdateDialog(this);
    infoDialog->nameEdit->setText(user.name);
    infoDialog->phoneNumberEdit->setText(user.phoneNumber);
    infoDialog->emailEdit->setText(user.email);
    infoDialog->userInfoEdit->setText(user.userInfo);
    infoDialog->showNoticePreference(user.id);
    connect(infoDialog->cancelButton, &QPushButton::pressed, infoDialog.data(), &UserInfoUpdateDialog::close);
    connect(infoDialog->submitButton, &QPushButton::pressed, this, &MainWindow::userInfoUpdate);
}

void MainWindow::userInfoUpdate()
{
    UserInfoUpdateDialog* form = infoDialog;
    if (!form)
        return;
    pending[4] = form->newPasswordEdit->text();
    pending[5] = form->repeatPasswordEdit->text();
    pending[2] = form->nameEdit->text();
    pending[3] = form->phoneNumberEdit->text();
    pending[6] = form->emailEdit->text();
    pending[7] = form->userInfoEdit->toPlainText();
    pending[8] = form->currentPasswordEdit->text();
    if (pending[4] != pending[5]) {
        QMessageBox::warning(form, QStringLiteral("Error!"), QStringLiteral("passwords are not same!"));
        return;
    }
    // An empty new password keeps the old one; the details and a new one follow the server's rule.
    if (const std::optional<AccountFields::Finding> finding =
            AccountFields::detailsProblem(pending[2], pending[3], pending[6], pending[7], pending[4])) {
        QMessageBox::warning(form, QStringLiteral("Error!"), FormChecks::problemText(*finding));
        return;
    }
    if (!pending[4].isEmpty() && pending[8].isEmpty()) {
        QMessageBox::warning(form, QStringLiteral("Error!"), QStringLiteral("修改密码请先填写当前密码。"));
        form->currentPasswordEdit->setFocus();
        return;
    }
    infoSubmitter = form;
    infoAccountId = user.id;
    infoChannel.start();
}

void MainWindow::sendUserInfoUpdateRequest()
{
    // Everything as captured at submit: later edits, or a logout meanwhile, do not change the request.
    UserUpdateQuery query{infoAccountId, pending[4], pending[2], pending[3], pending[6], pending[7]};
    // The current password goes only with a new one.
    if (!pending[4].isEmpty())
        query.currentPassword = pending[8];
    if (!infoChannel.send(query))
        warnTooLarge(infoSubmitter);
}

void MainWindow::getUserUpdateInfo()
{
    QStringList frame;
    while (infoChannel.nextFrame(frame)) {
        const QString word = Reply::wordOf(frame);
        if (word != Reply::UpdateSuccessfully) {
            // Tell the user: a silent refusal would leave them believing the change was made.
            Refusals::report(infoSubmitter, frame);
            // A password change needs a fresh login: this one ends, and the login dialog asks again.
            if (word == Wire::spelling(Refusal::LoginAgain) && LoginSession::instance().isActive()
                && user.id == infoAccountId) {
                endLogin(false);
                loginLost();
            }
            continue;
        }
        QMessageBox::information(infoSubmitter, QStringLiteral("PASS"), QStringLiteral("Update successfully!"));
        if (infoSubmitter)
            infoSubmitter->close();
        // The account may have logged out (or another logged in) while the reply was on its way.
        if (user.id != infoAccountId)
            continue;
        user.name = pending[2];
        user.phoneNumber = pending[3];
        user.email = pending[6];
        user.userInfo = pending[7];
    }
    if (infoChannel.atEnd())
        qDebug() << "Receive End";
}

void MainWindow::getErrorUserUpdateInfo()
{
    infoChannel.reportError(this);
}

// Administrator windows ------------------------------------------------------------------------------

void MainWindow::userManageWindow()
{
    new UserManageDialog(this);
}

void MainWindow::addBookWindow()
{
    new AddBookDialog(this);
}

void MainWindow::labelPrintWindow()
{
    // The selected rows in list order, each copy once.
    QList<LabelItem> selected;
    for (int i = 0; i < bookList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = bookList->topLevelItem(i);
        if (row->isSelected())
            selected << LabelItem::book(row->text(5), row->text(0), row->text(2));
    }
    new LabelPrintDialog(this, selected,
                         selected.isEmpty() && !AddedCopies::all().isEmpty() ? LabelPrintDialog::Source::Added
                             : selected.isEmpty()                            ? LabelPrintDialog::Source::Range
                                                                             : LabelPrintDialog::Source::Selection);
}

void MainWindow::circulationDeskWindow()
{
    new CirculationDeskDialog(this);
}

void MainWindow::overdueWindow()
{
    new OverdueDialog(this);
}

void MainWindow::auditLogWindow()
{
    new AuditLogDialog(this);
}

void MainWindow::noticesWindow()
{
    new NoticesDialog(this);
}

void MainWindow::statisticsWindow()
{
    new StatisticsDialog(this);
}

void MainWindow::inventoryWindow()
{
    new InventoryDialog(this);
}
