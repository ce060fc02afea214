#include "usermanagedialog.h"

#include "accountwindow.h"

#include "formchecks.h"
#include "listcolumns.h"
#include "refusals.h"

#include <QDebug>
#include <QHostAddress>
#include <QMessageBox>
#include <QTreeWidgetItem>

namespace {

// The network the registration limits count an address in: its IPv4 /24 or IPv6 /64.
QString networkOf(const QString& address)
{
    QHostAddress host(address);
    bool isIpv4 = false;
    const quint32 ipv4 = host.toIPv4Address(&isIpv4);
    if (isIpv4)
        return QHostAddress(ipv4 & 0xFFFFFF00u).toString() + QStringLiteral("/24");
    if (host.protocol() != QAbstractSocket::IPv6Protocol)
        return QString();
    Q_IPV6ADDR bytes = host.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

} // namespace

UserManageDialog::UserManageDialog(QWidget* parent)
    : QDialog(parent)
    , registrationState(this)
    , networkDeletion(this)
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
    connect(deleteNetworkButton, &QPushButton::pressed, this, &UserManageDialog::deleteNetwork);
    connect(&registrationState, &RequestExchange::finished, this, &UserManageDialog::showRegistrationState);
    connect(&networkDeletion, &RequestExchange::finished, this, &UserManageDialog::networkDeleted);

    // Enter in the search field searches; no button takes Enter, so it never deletes or changes a level.
    for (QPushButton* button :
         {deleteButton, escalateButton, degradeButton, searchButton, unconfirmButton, deleteNetworkButton})
        button->setAutoDefault(false);
    connect(userEdit, &QLineEdit::returnPressed, this, &UserManageDialog::startSearch);
    userEdit->setFocus();
    FormChecks::setTabOrder(
        {userEdit, searchButton, unconfirmButton, userList, deleteButton, escalateButton, degradeButton});
    // ID, name and e-mail share the room; student number, phone, level, date and address fit their texts.
    ListColumns::setUp(userList, {2, 2, 0, 0, 3, 0, 0, 0});

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
    listingFailed = false;
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
    if (!searchChannel.send(UserDetailsQuery{userEdit->text(), {}})) {
        QMessageBox::warning(this, QStringLiteral("Error!"), QStringLiteral("Request too large to send!"));
        finishSearch();
    }
}

void UserManageDialog::sendUnconfirmUserRequest()
{
    unconfirmChannel.send(UserDetailsQuery{{}, QStringLiteral("unconfirmed")});
}

void UserManageDialog::readListing(OperationChannel& channel, void (UserManageDialog::*finish)())
{
    QStringList frame;
    while (channel.nextFrame(frame)) {
        // With when and where the account registered; a documented server's rows have neither.
        std::optional<QStringList> row = Reply::rowOf(frame, Reply::UserDetailRowSize);
        if (!row)
            row = Reply::rowOf(frame, Reply::UserRowSize);
        if (!row) {
            // A frame of one string is a refusal in place of the rows (no administrator, say).
            if (frame.size() == 1) {
                listingFailed = true;
                Refusals::report(this, frame);
            } else
                qDebug() << "User row of" << frame.size() << "fields ignored";
            continue;
        }
        (*row)[Reply::UserRowSize - 1] = levelRecord.permissionToChinese(row->at(Reply::UserRowSize - 1));
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
    // How many wait, and whether registration has closed for it: asked once the list is in.
    if (unconfirmChannel.atEnd())
        registrationState.start(RegistrationStateQuery{});
}

void UserManageDialog::getError()
{
    listingFailed = true;
    searchChannel.reportError(this);
    finishSearch();
}

void UserManageDialog::getUnconfirmUserError()
{
    listingFailed = true;
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
    // A listing that failed ends with its error alone.
    if (listingFailed)
        return;
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

void UserManageDialog::showRegistrationState(const QList<QStringList>& frames)
{
    const QStringList state = frames.value(0);
    if (state.value(0) != Reply::RegistrationState) {
        registrationLabel->clear();
        return;
    }
    const qint64 waiting = state.value(1).toLongLong();
    const qint64 limit = state.value(2).toLongLong();
    QString text = QStringLiteral("等待确认的账号：%1 个（上限 %2）").arg(waiting).arg(limit);
    if (waiting >= limit)
        text += QStringLiteral("。已达上限，新注册暂停：请确认或删除等待中的账号。");
    registrationLabel->setText(text);
    registrationLabel->setStyleSheet(waiting >= limit ? QStringLiteral("color: #b00020; font-weight: bold;")
                                                      : QString());
}

void UserManageDialog::deleteNetwork()
{
    QTreeWidgetItem* current = userList->currentItem();
    const QString network = current ? networkOf(current->text(7)) : QString();
    if (network.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Error!"),
                             QStringLiteral("请先在未审核用户中选中一个有注册地址的账号。"));
        return;
    }
    if (!FormChecks::confirm(
            this, QStringLiteral("确定要删除所有来自 %1、尚未确认且从未借书的账号吗？删除后无法恢复。").arg(network)))
        return;
    deletedNetwork = network;
    networkDeletion.start(DeleteUnconfirmedQuery{network});
}

void UserManageDialog::networkDeleted(const QList<QStringList>& frames)
{
    const QStringList reply = frames.value(0);
    if (reply.value(0) != Reply::DeleteUnconfirmedSuccessfully) {
        if (!reply.isEmpty())
            Refusals::report(this, reply);
        return;
    }
    QMessageBox::information(this, QStringLiteral("PASS"),
                             QStringLiteral("已删除来自 %1 的 %2 个未审核账号。").arg(deletedNetwork, reply.value(1)));
    startSearchUnconfirmUser();
}

void UserManageDialog::getDegradeError()
{
    endRowOperation(degradeChannel);
    degradeChannel.reportError(this);
}
