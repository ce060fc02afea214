// Correcting a reader's record, giving a one-time password, and confirming several accounts at once.
#include "usermanagedialog.h"

#include "editreaderdialog.h"
#include "formchecks.h"
#include "levels.h"
#include "refusals.h"

#include <QMessageBox>

namespace {

QStringList textsOf(const QTreeWidgetItem* item)
{
    QStringList texts;
    for (int column = 0; column < Reply::UserDetailRowSize; ++column)
        texts << item->text(column);
    return texts;
}

} // namespace

void UserManageDialog::editReader()
{
    QTreeWidgetItem* current = userList->currentItem();
    if (!current || readerEdit.isBusy())
        return;
    EditReaderDialog form(textsOf(current), this);
    if (form.exec() != QDialog::Accepted)
        return;
    pendingEdit = form.request();
    readerEdit.start(pendingEdit);
}

void UserManageDialog::readerEdited(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.value(0) != Reply::EditUserSuccessfully) {
        if (!frame.isEmpty())
            Refusals::report(this, frame);
        return;
    }
    // The row shows what is stored now, if it is still listed.
    for (int i = 0; i < userList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = userList->topLevelItem(i);
        if (item->text(0) != pendingEdit.userId)
            continue;
        const QStringList texts{pendingEdit.name, pendingEdit.studentNumber, pendingEdit.phoneNumber,
                                pendingEdit.email};
        for (int column = 1; column <= texts.size(); ++column) {
            item->setText(column, texts[column - 1]);
            item->setToolTip(column, texts[column - 1]);
        }
        item->setText(8, pendingEdit.userInfo);
    }
    QMessageBox::information(this, QStringLiteral("PASS"), QStringLiteral("读者资料已保存。"));
}

void UserManageDialog::resetPassword()
{
    QTreeWidgetItem* current = userList->currentItem();
    if (!current || passwordResetExchange.isBusy())
        return;
    const QString id = current->text(0);
    if (!FormChecks::confirm(this, QStringLiteral("确定要为 %1 重置密码吗？该读者的登录将全部结束。").arg(id)))
        return;
    passwordResetExchange.start(ResetPasswordQuery{id});
}

void UserManageDialog::passwordReset(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.value(0) != Reply::ResetPasswordSuccessfully) {
        if (!frame.isEmpty())
            Refusals::report(this, frame);
        return;
    }
    // Shown once, to hand to the reader; it is nowhere stored.
    QMessageBox box(QMessageBox::Information, QStringLiteral("PASS"),
                    QStringLiteral("一次性密码：%1\n请交给读者；下次登录时必须设置新密码。").arg(frame.value(1)),
                    QMessageBox::Ok, this);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

void UserManageDialog::confirmSelected()
{
    if (confirmation.isBusy())
        return;
    confirmQueue.clear();
    confirmedIds.clear();
    const QString guest = Levels::toChinese(Levels::englishName(Levels::Guest));
    for (const QTreeWidgetItem* item : userList->selectedItems()) {
        if (item->text(5) == guest)
            confirmQueue << item->text(0);
    }
    if (confirmQueue.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("Error"), QStringLiteral("所选账号中没有未审核的账号。"));
        return;
    }
    confirmNext();
}

void UserManageDialog::confirmNext()
{
    if (confirmQueue.isEmpty()) {
        QMessageBox::information(this, QStringLiteral("PASS"),
                                 QStringLiteral("已审核 %1 个账号。").arg(confirmedIds.size()));
        return;
    }
    confirmation.start(EscalateUserQuery{{confirmQueue.first(), Levels::englishName(Levels::Guest)}});
}

void UserManageDialog::confirmed(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    const QString id = confirmQueue.takeFirst();
    if (frame.value(0) != Reply::EscalateUserSuccessfully) {
        // The rest stay as they are: the refusal (the login ended, say) holds for them too.
        confirmQueue.clear();
        if (!frame.isEmpty())
            Refusals::report(this, frame);
        return;
    }
    confirmedIds << id;
    const QString raised = Levels::toChinese(Levels::englishName(Levels::Undergraduate));
    for (int i = 0; i < userList->topLevelItemCount(); ++i) {
        if (userList->topLevelItem(i)->text(0) == id)
            userList->topLevelItem(i)->setText(5, raised);
    }
    confirmNext();
}
