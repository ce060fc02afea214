#pragma once

#include "requesthandler.h"

struct AccountRow;

// Accounts: logging in, registering, a reader's own details, and managing users (administrators).
class AccountRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply login(const LoginQuery& query);
    HandlerReply registerUser(const UserRegisterQuery& query);
    HandlerReply updateUser(const UserUpdateQuery& query);
    HandlerReply searchUsers(const SearchUserQuery& query);
    HandlerReply unconfirmedUsers(const UnconfirmUserQuery& query);
    HandlerReply deleteUser(const DeleteUserQuery& query);
    HandlerReply escalateUser(const EscalateUserQuery& query);
    HandlerReply degradeUser(const DegradeUserQuery& query);
    HandlerReply logout(const LogoutQuery& query);
    HandlerReply userDetails(const UserDetailsQuery& query);
    HandlerReply registrationState(const RegistrationStateQuery& query);
    HandlerReply deleteUnconfirmed(const DeleteUnconfirmedQuery& query);
    HandlerReply editUser(const EditUserQuery& query);
    HandlerReply resetPassword(const ResetPasswordQuery& query);

private:
    // Why a new password may not be set now, or nullopt: the current password is needed (and
    // counted like a login), or, where the library lets documented clients change it without,
    // the login must be recent.
    std::optional<HandlerReply> passwordChangeRefusal(const UserUpdateQuery& query);
    HandlerReply changeLevel(const LevelChangeQuery& query, bool raise, const QString& successWord);
    // An administrator's change to another account: checks the caller, locks and loads the account and
    // refuses for a missing account, the Super Admin, or an Administrator when the caller is not the
    // Super Admin; then `change` decides. Returns the reply word.
    QString changeManagedAccount(Storage& storage, const QString& userId,
                                 const std::function<QString(const AccountRow&)>& change);
    // The same for the records of an account (details, password): the Super Admin's too, but only by
    // the Super Admin; an Administrator's only by the Super Admin.
    QString changeAccountRecord(Storage& storage, const QString& userId,
                                const std::function<QString(const AccountRow&)>& change);
    // Rows of user accounts for administrators.
    HandlerReply userList(const std::function<QList<AccountRow>(Storage&)>& fetch);
};
