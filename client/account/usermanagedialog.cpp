#include "usermanagedialog.h"

#include "accountwindow.h"

#include "formchecks.h"
#include "listcolumns.h"
#include "refusals.h"

#include <QDebug>
#include <QMessageBox>
#include <QTreeWidgetItem>

UserManageDialog::UserManageDialog(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    AccountWindow::mark(this);
    setWindowTitle(tr("User Manage"));
    setAttribute(Qt::WA_ShowModal);
    setVisible(true);

    connect(deleteButton, &QPushButton::pressed, this, &UserManageDialog::deleteUser);
    connect(escalateButton, &QPushButton::pressed, this, &UserManageDialog::escalateUser);
    connect(degradeButton, &QPushButton::pressed, this, &UserManageDialog::degradeUser);
    connect(searchButton, &QPushButton::pressed, this, &UserManageDialog::startSearch);
    connect(unconfirmButton, &QPushButton::pressed, this, &UserManageDialog::startSearchUnconfirmUser);

    // Enter in the search field searches; no button takes Enter, so it never deletes or changes a level.
    for (QPushButton* button : {deleteButton, escalateButton, degradeButton, searchButton, unconfirmButton})
        button->setAutoDefault(false);
    connect(userEdit, &QLineEdit::returnPressed, this, &UserManageDialog::startSearch);
    userEdit->setFocus();
    FormChecks::setTabOrder(
        {userEdit, searchButton, unconfirmButton, userList, deleteButton, escalateButton, degradeButton});
    // ID, name and e-mail share the room; student number, phone and level fit their texts.
    ListColumns::setUp(userList, {2, 2, 0, 0, 3, 0});

    searchChannel.wire(this, &UserManageDialog::sendSearchRequest, &UserManageDialog::getInfo,
                       &UserManageDialog::getError);
    unconfirmChannel.wire(this, &UserManageDialog::sendUnconfirmUserRequest, &UserManageDialog::getUnconfirmUserInfo,
                          &UserManageDialog::getUnconfirmUserError);
    deleteChannel.wire(this, &UserManageDialog::sendDeleteRequest, &UserManageDialog::getDeleteInfo,
                       &UserManageDialog::getDeleteError);
    escalateChannel.wire(this, &UserManageDialog::sendEscalateRequest, &UserManageDialog::getEscalateInfo,
                         &UserManageDialog::getEscalateError);
    degradeChannel.wire(this, &UserManageDialog::sendDegradeRequest, &UserManageDialog::getDegradeInfo,
                        &UserManageDialog::getDegradeError);
}

// Listings -------------------------------------------------------------------------------------------

void UserManageDialog::startListing(OperationChannel& channel, OperationChannel& other)
{
    other.close();
    channel.start();
    // Clearing destroys every row, the pending row operation's among them.
    userItem = nullptr;
    userList->clear();
}

void UserManageDialog::startSearch()
{
    startListing(searchChannel, unconfirmChannel);
}

void UserManageDialog::startSearchUnconfirmUser()
{
    startListing(unconfirmChannel, searchChannel);
}

void UserManageDialog::sendSearchRequest()
{
    if (!searchChannel.send(SearchUserQuery{userEdit->text()})) {
        QMessageBox::warning(this, QStringLiteral("Error!"), QStringLiteral("Request too large to send!"));
        finishSearch();
    }
}

void UserManageDialog::sendUnconfirmUserRequest()
{
    unconfirmChannel.send(UnconfirmUserQuery{});
}

void UserManageDialog::readListing(OperationChannel& channel, void (UserManageDialog::*finish)())
{
    QStringList frame;
    while (channel.nextFrame(frame)) {
        std::optional<QStringList> row = Reply::rowOf(frame, Reply::UserRowSize);
        if (!row) {
            // A frame of one string is a refusal in place of the rows (no administrator, say).
            if (frame.size() == 1)
                Refusals::report(this, frame);
            else
                qDebug() << "User row of" << frame.size() << "fields ignored";
            continue;
        }
        (*row)[Reply::UserRowSize - 1] = levelRecord.permissionToChinese(row->last());
        ListColumns::addRow(userList, *row);
    }
    if (channel.atEnd()) {
        qDebug() << "Receive End";
        ListColumns::fit(userList);
        (this->*finish)();
    }
}

void UserManageDialog::getInfo()
{
    readListing(searchChannel, &UserManageDialog::finishSearch);
}

void UserManageDialog::getUnconfirmUserInfo()
{
    readListing(unconfirmChannel, &UserManageDialog::finishUnconfirmSearch);
}

void UserManageDialog::getError()
{
    searchChannel.reportError(this);
    finishSearch();
}

void UserManageDialog::getUnconfirmUserError()
{
    unconfirmChannel.reportError(this);
    finishUnconfirmSearch();
}

void UserManageDialog::finishSearch()
{
    searchChannel.close();
    reportCount();
}

void UserManageDialog::finishUnconfirmSearch()
{
    unconfirmChannel.close();
    reportCount();
}

void UserManageDialog::reportCount()
{
    // Plural for every count: "Find 1 results".
    QMessageBox::information(this, QStringLiteral("Searching completes"),
                             QStringLiteral("Find ") + QString::number(userList->topLevelItemCount())
                                 + QStringLiteral(" results"));
}

// Row operations -------------------------------------------------------------------------------------

bool UserManageDialog::beginRowOperation(OperationChannel& channel)
{
    if (rowChannel)
        return false;
    QTreeWidgetItem* current = userList->currentItem();
    if (!current)
        return false;
    userItem = current;
    rowUserId = current->text(0);
    rowLevel = current->text(5);
    rowChannel = &channel;
    setRowButtonsEnabled(false);
    channel.start();
    return true;
}

void UserManageDialog::endRowOperation(OperationChannel& channel)
{
    if (rowChannel != &channel)
        return;
    // userItem stays as it is: a success box may still be open further up the stack, and the row
    // is applied once it closes. Clearing and deleting keep userItem from dangling.
    rowChannel = nullptr;
    setRowButtonsEnabled(true);
}

void UserManageDialog::setRowButtonsEnabled(bool enabled)
{
    deleteButton->setEnabled(enabled);
    escalateButton->setEnabled(enabled);
    degradeButton->setEnabled(enabled);
}

void UserManageDialog::readRowReply(OperationChannel& channel, QLatin1String successWord, const QString& successText,
                                    void (UserManageDialog::*onSuccess)())
{
    QStringList frame;
    while (channel.nextFrame(frame)) {
        if (rowChannel != &channel) {
            qDebug() << "Reply to a finished user operation ignored";
            continue;
        }
        // The answer ends the operation; the box below may let another start.
        endRowOperation(channel);
        if (Reply::wordOf(frame) == successWord) {
            QTreeWidgetItem* row = userItem;
            QMessageBox::information(this, QStringLiteral("PASS"), successText);
            // The box ran an event loop: a listing may have cleared the row meanwhile, or another
            // operation taken over userItem.
            if (row && row == userItem)
                (this->*onSuccess)();
        } else {
            // Any other word changes nothing, and says why.
            Refusals::report(this, frame);
        }
    }
    if (channel.atEnd()) {
        qDebug() << "Receive End";
        endRowOperation(channel);
    }
}

void UserManageDialog::removeRow()
{
    delete userItem; // takes the row out of userList
    userItem = nullptr;
}

void UserManageDialog::raiseRow()
{
    const QString english = levelRecord.permissionToEnglish(userItem->text(5));
    userItem->setText(5, levelRecord.permissionToChinese(levelRecord.escalatePermission(english)));
}

void UserManageDialog::lowerRow()
{
    const QString english = levelRecord.permissionToEnglish(userItem->text(5));
    userItem->setText(5, levelRecord.permissionToChinese(levelRecord.degradePermission(english)));
}

void UserManageDialog::deleteUser()
{
    // A Super Admin account is never deleted from here.
    QTreeWidgetItem* current = userList->currentItem();
    if (!current || levelRecord.permissionToEnglish(current->text(5)) == QLatin1String("Super Admin"))
        return;
    if (rowChannel)
        return;
    if (!FormChecks::confirm(
            this,
            QStringLiteral("确定要删除用户 %1（%2）吗？删除后无法恢复。").arg(current->text(0), current->text(1))))
        return;
    // The box ran an event loop: a listing may have replaced the rows meanwhile.
    if (userList->currentItem() != current)
        return;
    beginRowOperation(deleteChannel);
}

void UserManageDialog::sendDeleteRequest()
{
    deleteChannel.send(DeleteUserQuery{rowUserId});
}

void UserManageDialog::getDeleteInfo()
{
    readRowReply(deleteChannel, Reply::DeleteUserSuccessfully, QStringLiteral("Delete the user successfully!"),
                 &UserManageDialog::removeRow);
}

void UserManageDialog::getDeleteError()
{
    endRowOperation(deleteChannel);
    deleteChannel.reportError(this);
}

void UserManageDialog::escalateUser()
{
    beginRowOperation(escalateChannel);
}

void UserManageDialog::sendEscalateRequest()
{
    // The level goes out as displayed: the Chinese name.
    escalateChannel.send(EscalateUserQuery{{rowUserId, rowLevel}});
}

void UserManageDialog::getEscalateInfo()
{
    readRowReply(escalateChannel, Reply::EscalateUserSuccessfully, QStringLiteral("Escalate the user successfully!"),
                 &UserManageDialog::raiseRow);
}

void UserManageDialog::getEscalateError()
{
    endRowOperation(escalateChannel);
    escalateChannel.reportError(this);
}

void UserManageDialog::degradeUser()
{
    beginRowOperation(degradeChannel);
}

void UserManageDialog::sendDegradeRequest()
{
    degradeChannel.send(DegradeUserQuery{{rowUserId, rowLevel}});
}

void UserManageDialog::getDegradeInfo()
{
    readRowReply(degradeChannel, Reply::DegradeUserSuccessfully, QStringLiteral("Degrade the user successfully!"),
                 &UserManageDialog::lowerRow);
}

void UserManageDialog::getDegradeError()
{
    endRowOperation(degradeChannel);
    degradeChannel.reportError(this);
}
