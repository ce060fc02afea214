#pragma once

#include "operationchannel.h"
#include "requestexchange.h"
#include "ui_usermanagedialog.h"
#include "userinfo.h"

#include <QDialog>

class QTreeWidgetItem;

// Administrators look up accounts, list the unconfirmed ones, delete accounts and raise or lower
// their level. Each of the five operations has its own channel; the dialog works alone.
//
// One row operation (delete, raise, lower) runs at a time: its buttons are disabled from the press
// until the answer, so a reply always acts on the row it was sent for. A listing may still run
// meanwhile; it clears the list, and the pending operation then finishes without touching any row.
class UserManageDialog : public QDialog, public Ui::USERMANAGEUI
{
    Q_OBJECT

public:
    explicit UserManageDialog(QWidget* parent);

private slots:
    void startSearch();
    void sendSearchRequest();
    void getInfo();
    void getError();

    void startSearchUnconfirmUser();
    void sendUnconfirmUserRequest();
    void getUnconfirmUserInfo();
    void getUnconfirmUserError();

    void deleteUser();
    void sendDeleteRequest();
    void getDeleteInfo();
    void getDeleteError();

    void escalateUser();
    void sendEscalateRequest();
    void getEscalateInfo();
    void getEscalateError();

    void degradeUser();
    void sendDegradeRequest();
    void getDegradeInfo();
    void getDegradeError();

    // Reader cards for the selected accounts.
    void printCards();

    // A registration flood: every unconfirmed account from the selected row's network at once.
    void deleteNetwork();
    void showRegistrationState(const QList<QStringList>& frames);
    void networkDeleted(const QList<QStringList>& frames);

    // Correcting a reader's record and giving a one-time password (usermanagedialog_records.cpp).
    void editReader();
    void readerEdited(const QList<QStringList>& frames);
    void resetPassword();
    void passwordReset(const QList<QStringList>& frames);
    // Every selected Guest raised to 本科生 with one press, one request after the other.
    void confirmSelected();
    void confirmNext();
    void confirmed(const QList<QStringList>& frames);

private:
    // Listings: both fill userList. Starting one drops the other, so their rows never mix.
    void startListing(OperationChannel& channel, OperationChannel& other);
    void readListing(OperationChannel& channel, void (UserManageDialog::*finish)());
    void finishSearch();
    void finishUnconfirmSearch();
    void reportCount();
    bool listingFailed = false;

    // Row operations. begin takes the current row and remembers what to send for it; false (and
    // nothing started) when there is no current row or another row operation is pending.
    bool beginRowOperation(OperationChannel& channel);
    // The operation on `channel` has its answer (or failed); a no-op for any other channel.
    void endRowOperation(OperationChannel& channel);
    void setRowButtonsEnabled(bool enabled);
    // Reads a word reply; on `successWord` shows `successText`, then applies `onSuccess` to the row
    // if it still exists.
    void readRowReply(OperationChannel& channel, QLatin1String successWord, const QString& successText,
                      void (UserManageDialog::*onSuccess)());
    void removeRow();
    void raiseRow();
    void lowerRow();

    OperationChannel searchChannel;
    OperationChannel unconfirmChannel;
    OperationChannel deleteChannel;
    OperationChannel escalateChannel;
    OperationChannel degradeChannel;
    RequestExchange registrationState;
    RequestExchange networkDeletion;
    QString deletedNetwork;
    RequestExchange readerEdit;
    RequestExchange passwordResetExchange;
    RequestExchange confirmation;
    QStringList confirmQueue; // the selected Guests still to raise
    QStringList confirmedIds; // raised so far in this press
    EditUserQuery pendingEdit; // sent, and shown in the row once stored

    // The row of the pending (or last) row operation. Null once a listing has cleared the list or the
    // row has been deleted: nothing else destroys rows, so it is never left dangling.
    QTreeWidgetItem* userItem = nullptr;
    // The channel of the pending row operation; null when none is pending. Frames arriving on a row
    // channel that is not the pending one are stale and ignored.
    OperationChannel* rowChannel = nullptr;
    // Column 0 and column 5 of userItem as they were when the button was pressed: the request sends
    // these even if the row is gone by the time the connection is made.
    QString rowUserId;
    QString rowLevel;

    // Only used for the level conversions.
    UserInfo levelRecord;
};
