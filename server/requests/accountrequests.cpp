#include "accountrequests.h"

#include "levels.h"
#include "loginsessions.h"
#include "loginthrottle.h"
#include "passwordhasher.h"
#include "serversettings.h"
#include "storage.h"

namespace {

AccountRecord recordOf(const AccountRow& a, const QString& typedPassword)
{
    return {a.id, a.name, a.level, typedPassword, a.studentNumber, a.phone, a.email, a.info};
}

// Whether the record of the account could be sent after "PASS", at the highest level name.
bool fitsLoginReply(AccountRecord record)
{
    record.permission = Levels::englishName(Levels::Administrator);
    return !Reply::loginPass(record.fields()).isEmpty();
}

} // namespace

HandlerReply AccountRequests::login(const LoginQuery& query)
{
    if (context().throttle.isLockedOut(peer()))
        return word(Refusal::TooManyAttempts);
    std::optional<AccountRow> stored;
    QString error;
    if (!read([&](Storage& storage) { stored = storage.account(query.userId); }, &error))
        return serverError(error);
    if (!stored) {
        context().throttle.failed(peer());
        return word(Reply::WrongId);
    }
    if (!context().hasher.verify(stored->passwordHash, query.password)) {
        context().throttle.failed(peer());
        return word(Refusal::WrongPassword);
    }
    context().throttle.succeeded(peer());
    if (!context().sessions.loggedIn(peer(), stored->id))
        return serverError(QStringLiteral("the login could not be stored"));
    QByteArray frame = Reply::loginPass(recordOf(*stored, query.password).fields());
    if (frame.isEmpty())
        return word(Refusal::RecordTooLong);
    return {{frame}, QStringLiteral("PASS as ") + stored->id + QStringLiteral(" (") + stored->level + QLatin1Char(')')};
}

HandlerReply AccountRequests::registerUser(const UserRegisterQuery& query)
{
    // The client takes every word but "REGISTER_FAIL" for success, so every refusal is that word; the
    // log says why.
    const auto fail = [](const QString& why) {
        return HandlerReply{{Reply::word(Reply::RegisterFail)}, QStringLiteral("REGISTER_FAIL, ") + why};
    };
    if (query.userId.trimmed().isEmpty())
        return fail(QStringLiteral("empty user ID"));
    AccountRow account{query.userId, query.name, Levels::englishName(Levels::Guest), QString(),
                       query.studentNumber.trimmed(), query.phoneNumber, query.email, query.userInfo};
    if (!fitsLoginReply(recordOf(account, query.password)))
        return fail(QStringLiteral("record too long for a frame"));

    const auto taken = [&](Storage& storage) {
        return storage.account(account.id).has_value()
            || (!account.studentNumber.isEmpty() && storage.studentNumberTaken(account.studentNumber));
    };
    bool exists = false;
    QString error;
    if (!read([&](Storage& storage) { exists = taken(storage); }, &error))
        return fail(QStringLiteral("database error: ") + error);
    if (exists)
        return fail(QStringLiteral("user ID or student number exists"));

    account.passwordHash = context().hasher.hash(query.password);
    if (account.passwordHash.isEmpty())
        return fail(QStringLiteral("password could not be hashed"));
    HandlerReply reply = writeWord(RegisterSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        // Checked again under the write lock: another registration may have won meanwhile.
        if (taken(storage))
            return Reply::RegisterFail;
        if (!storage.insertAccount(account) || !transaction.commit())
            return QString();
        return RegisterSuccessfully;
    });
    if (reply.outcome != RegisterSuccessfully)
        return fail(reply.outcome);
    return reply;
}

HandlerReply AccountRequests::updateUser(const UserUpdateQuery& query)
{
    // Checked before the costly hash, and again with the change.
    bool allowed = false;
    QString error;
    if (!read([&](Storage& storage) { allowed = loggedIn(storage, query.userId); }, &error))
        return serverError(error);
    if (!allowed)
        return word(Refusal::NotLoggedIn);
    if (!fitsLoginReply({query.userId, query.name, QString(), query.newPassword, QString(), query.phoneNumber,
                         query.email, query.userInfo}))
        return word(Refusal::RecordTooLong);
    QString newHash;
    if (!query.newPassword.isEmpty()) {
        newHash = context().hasher.hash(query.newPassword);
        if (newHash.isEmpty())
            return serverError(QStringLiteral("password could not be hashed"));
    }
    return writeWord(Reply::UpdateSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        if (!loggedIn(storage, query.userId))
            return Refusal::NotLoggedIn;
        if (!storage.lockAccount(query.userId))
            return QString();
        const std::optional<AccountRow> account = storage.account(query.userId);
        if (!account)
            return Refusal::NoSuchUser;
        // The student number is not part of the update, but the whole record must still fit after "PASS".
        if (!fitsLoginReply(recordOf({query.userId, query.name, account->level, QString(), account->studentNumber,
                                      query.phoneNumber, query.email, query.userInfo},
                                     query.newPassword)))
            return Refusal::RecordTooLong;
        if (!storage.updateAccount(query.userId, query.name, query.phoneNumber, query.email, query.userInfo,
                                   newHash)
            || !transaction.commit())
            return QString();
        return Reply::UpdateSuccessfully;
    });
}

HandlerReply AccountRequests::userList(const std::function<QList<AccountRow>(Storage&)>& fetch)
{
    QList<AccountRow> accounts;
    std::optional<QString> refusal;
    QString error;
    if (!read([&](Storage& storage) {
            refusal = adminRefusal(storage);
            if (!refusal)
                accounts = fetch(storage);
        },
              &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (refusal)
        return refusedStream(*refusal);
    return rowStream<AccountRow>(accounts, [](const AccountRow& a) {
        return UserRecord{a.id, a.name, a.studentNumber, a.phone, a.email, a.level}.fields();
    });
}

HandlerReply AccountRequests::searchUsers(const SearchUserQuery& query)
{
    return userList([&](Storage& storage) {
        return storage.searchAccounts(query.text.trimmed(), context().settings.maxSearchRows);
    });
}

HandlerReply AccountRequests::unconfirmedUsers(const UnconfirmUserQuery&)
{
    return userList([&](Storage& storage) {
        return storage.accountsAtLevel(Levels::englishName(Levels::Guest), context().settings.maxSearchRows);
    });
}

QString AccountRequests::changeManagedAccount(Storage& storage, const QString& userId,
                                              const std::function<QString(const AccountRow&)>& change)
{
    if (const std::optional<QString> refusal = adminRefusal(storage))
        return *refusal;
    if (!storage.lockAccount(userId))
        return QString();
    const std::optional<AccountRow> account = storage.account(userId);
    if (!account)
        return Refusal::NoSuchUser;
    if (Levels::code(account->level) == Levels::SuperAdmin)
        return Refusal::SuperAdminProtected;
    return change(*account);
}

HandlerReply AccountRequests::deleteUser(const DeleteUserQuery& query)
{
    HandlerReply reply = writeWord(Reply::DeleteUserSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        return changeManagedAccount(storage, query.userId, [&](const AccountRow&) -> QString {
            if (storage.loanCount(query.userId) > 0)
                return Refusal::UserHasLoans;
            if (!storage.deleteAccount(query.userId) || !transaction.commit())
                return QString();
            return Reply::DeleteUserSuccessfully;
        });
    });
    if (reply.outcome == Reply::DeleteUserSuccessfully)
        context().sessions.forget(query.userId);
    return reply;
}

HandlerReply AccountRequests::escalateUser(const EscalateUserQuery& query)
{
    return changeLevel(query, true, Reply::EscalateUserSuccessfully);
}

HandlerReply AccountRequests::degradeUser(const DegradeUserQuery& query)
{
    return changeLevel(query, false, Reply::DegradeUserSuccessfully);
}

HandlerReply AccountRequests::changeLevel(const LevelChangeQuery& query, bool raise, const QString& successWord)
{
    return writeWord(successWord, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        return changeManagedAccount(storage, query.userId, [&](const AccountRow& account) -> QString {
            // The client sends the level it shows; when that is no longer the stored one, its row is
            // stale and the change it asks for is not the one it would show afterwards.
            if (Levels::toChinese(account.level) != query.displayedLevel)
                return Refusal::StaleLevel;
            const QString level = raise ? Levels::raised(account.level) : Levels::lowered(account.level);
            if (level != account.level && !storage.setLevel(query.userId, level))
                return QString();
            if (!transaction.commit())
                return QString();
            return successWord;
        });
    });
}
