#include "accountrequests.h"

#include "serverclock.h"

#include "levels.h"
#include "sessionstore.h"
#include "loginthrottle.h"
#include "passwordhasher.h"
#include "registrationrules.h"
#include "serversettings.h"
#include "storage.h"

#include <QDateTime>

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

// A refused login names the ID that was tried, for the log.
HandlerReply tried(HandlerReply reply, const QString& userId)
{
    reply.outcome += QStringLiteral(" for ") + userId;
    return reply;
}

} // namespace

HandlerReply AccountRequests::login(const LoginQuery& query)
{
    // Our client adds the word "SESSION": it wants a token, and it reads a second string after a
    // throttle refusal. A documented client gets the documented replies.
    const bool wantsToken = m_caller.token == QLatin1String(Reply::Session);
    const LoginThrottle::Verdict verdict = context().throttle.admit(peer(), query.userId);
    if (!verdict.admitted) {
        QStringList refusal{Wire::word(verdict.refusal)};
        if (wantsToken)
            refusal.append(QString::number(verdict.retryAfterSeconds));
        return tried({{Wire::encodeFrame(refusal)}, refusal.first()}, query.userId);
    }
    std::optional<AccountRow> stored;
    QString error;
    if (!read([&](Storage& storage) { stored = storage.account(query.userId); }, &error))
        return serverError(error);
    if (!stored)
        return tried(word(Reply::WrongId), query.userId);
    if (!context().hasher.verify(stored->passwordHash, query.password))
        return tried(word(Refusal::WrongPassword), query.userId);
    context().throttle.succeeded(peer(), query.userId);

    QByteArray frame = Reply::loginPass(recordOf(*stored, query.password).fields());
    if (frame.isEmpty())
        return word(Refusal::RecordTooLong);
    HandlerReply reply{
        {frame}, QStringLiteral("PASS as ") + stored->id + QStringLiteral(" (") + stored->level + QLatin1Char(')')};
    if (wantsToken) {
        const QString token = context().sessions.startToken(stored->id, peer());
        if (token.isEmpty())
            return serverError(QStringLiteral("the session could not be stored"));
        reply.frames.append(Wire::encodeFrame({QString(Reply::Session), token}));
        reply.outcome += QStringLiteral(", token session");
    } else if (!context().sessions.startAddress(stored->id, peer())) {
        return serverError(QStringLiteral("the login could not be stored"));
    }
    return reply;
}

HandlerReply AccountRequests::logout(const LogoutQuery& query)
{
    // Ends what the request names and nothing else: a token's session, or this address's login of
    // that account. Ending a session that has already ended is no failure.
    QString key;
    if (m_caller.token) {
        key = SessionStore::tokenKey(*m_caller.token);
    } else if (const std::optional<Session> session = context().sessions.byAddress(peer());
               session && session->account == query.userId) {
        key = session->key;
    }
    if (!key.isEmpty() && !context().sessions.end(key))
        return serverError(QStringLiteral("the session could not be ended"));
    HandlerReply reply = word(Reply::LogoutSuccessfully);
    reply.note = QStringLiteral(" for ") + query.userId;
    return reply;
}

HandlerReply AccountRequests::registerUser(const UserRegisterQuery& query)
{
    // The client takes every word but "REGISTER_FAIL" for success, so every refusal is that word; the
    // log says why.
    const auto fail = [&](const QString& why) {
        return HandlerReply{{Reply::word(Reply::RegisterFail)},
                            QStringLiteral("REGISTER_FAIL for \"%1\", ").arg(query.userId.left(64)) + why};
    };
    if (const std::optional<QString> why = RegistrationRules::refusal(query))
        return fail(*why);
    AccountRow account{query.userId,
                       query.name,
                       Levels::englishName(Levels::Guest),
                       QString(),
                       query.studentNumber.trimmed(),
                       query.phoneNumber,
                       query.email,
                       query.userInfo};
    if (!fitsLoginReply(recordOf(account, query.password)))
        return fail(QStringLiteral("record too long for a frame"));

    // Why the registration cannot be stored now, or an empty string: checked before the costly hash
    // and again under the write lock, where another registration may have won meanwhile.
    const ServerSettings& settings = context().settings;
    const auto obstacle = [&](Storage& storage) -> QString {
        if (storage.account(account.id).has_value()
            || (!account.studentNumber.isEmpty() && storage.studentNumberTaken(account.studentNumber)))
            return QStringLiteral("user ID or student number exists");
        const QString hourAgo = ServerClock::stamp(ServerClock::nowUtc().addSecs(-3600));
        if (storage.auditCount(AuditAction::Register, peer(), hourAgo) >= settings.registrationsPerAddressPerHour)
            return QStringLiteral("%1 registrations from this address within the hour already")
                .arg(settings.registrationsPerAddressPerHour);
        if (storage.accountCountAtLevel(Levels::englishName(Levels::Guest)) >= settings.maxUnconfirmedAccounts)
            return QStringLiteral("%1 accounts wait for confirmation already").arg(settings.maxUnconfirmedAccounts);
        return QString();
    };
    QString why;
    QString error;
    if (!read([&](Storage& storage) { why = obstacle(storage); }, &error))
        return fail(QStringLiteral("database error: ") + error);
    if (!why.isEmpty())
        return fail(why);

    account.passwordHash = context().hasher.hash(query.password);
    if (account.passwordHash.isEmpty())
        return fail(QStringLiteral("password could not be hashed"));
    HandlerReply reply = writeWord(Reply::RegisterSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        why = obstacle(storage);
        if (!why.isEmpty())
            return Reply::RegisterFail;
        if (!storage.insertAccount(account) || !audit(storage, {AuditAction::Register, account.id, {}, {}})
            || !transaction.commit())
            return QString();
        return Reply::RegisterSuccessfully;
    });
    if (reply.outcome != Reply::RegisterSuccessfully)
        return fail(why.isEmpty() ? reply.outcome : why);
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
    // A password is changed only soon after a login, so that a session left open on a shared PC
    // cannot be used to take the account over.
    const qint64 sinceLoginMs = ServerClock::nowMs() - m_caller.loginAtMs;
    if (!query.newPassword.isEmpty() && sinceLoginMs > qint64(context().settings.passwordChangeMinutes * 60000))
        return word(Refusal::LoginAgain);
    if (!fitsLoginReply({query.userId, query.name, QString(), query.newPassword, QString(), query.phoneNumber,
                         query.email, query.userInfo}))
        return word(Refusal::RecordTooLong);
    QString newHash;
    if (!query.newPassword.isEmpty()) {
        newHash = context().hasher.hash(query.newPassword);
        if (newHash.isEmpty())
            return serverError(QStringLiteral("password could not be hashed"));
    }
    HandlerReply reply = writeWord(Reply::UpdateSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        if (!storage.lockAccount(query.userId))
            return QString();
        const std::optional<AccountRow> account = storage.account(query.userId);
        if (!account)
            return Wire::word(Refusal::NoSuchUser);
        // The student number is not part of the update, but the whole record must still fit after "PASS".
        if (!fitsLoginReply(recordOf({query.userId, query.name, account->level, QString(), account->studentNumber,
                                      query.phoneNumber, query.email, query.userInfo},
                                     query.newPassword)))
            return Wire::word(Refusal::RecordTooLong);
        if (!storage.updateAccount(query.userId, query.name, query.phoneNumber, query.email, query.userInfo, newHash)
            || !audit(storage,
                      {AuditAction::UpdateAccount,
                       query.userId,
                       {},
                       newHash.isEmpty() ? QString() : QStringLiteral("password changed")})
            || !transaction.commit())
            return QString();
        return Reply::UpdateSuccessfully;
    });
    // A new password ends every other session of the account: whoever else was logged in as it is out.
    if (reply.outcome == Reply::UpdateSuccessfully && !newHash.isEmpty())
        context().sessions.endAccount(query.userId, m_caller.sessionKey);
    return reply;
}

HandlerReply AccountRequests::userList(const std::function<QList<AccountRow>(Storage&)>& fetch)
{
    QList<AccountRow> accounts;
    std::optional<QString> refusal;
    QString error;
    if (!read(
            [&](Storage& storage) {
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
        return Wire::word(Refusal::NoSuchUser);
    if (Levels::code(account->level) == Levels::SuperAdmin)
        return Wire::word(Refusal::SuperAdminProtected);
    if (Levels::code(account->level) >= Levels::Administrator && callerLevel() < Levels::SuperAdmin)
        return Wire::word(Refusal::SuperAdminRequired);
    return change(*account);
}

HandlerReply AccountRequests::deleteUser(const DeleteUserQuery& query)
{
    HandlerReply reply = writeWord(Reply::DeleteUserSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        return changeManagedAccount(storage, query.userId, [&](const AccountRow& account) -> QString {
            if (storage.loanCount(query.userId) > 0)
                return Wire::word(Refusal::UserHasLoans);
            if (!audit(storage, {AuditAction::DeleteAccount, query.userId, {}, account.level})
                || !storage.deleteAccount(query.userId) || !transaction.commit())
                return QString();
            return Reply::DeleteUserSuccessfully;
        });
    });
    if (reply.outcome == Reply::DeleteUserSuccessfully)
        context().sessions.endAccount(query.userId);
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
    HandlerReply reply = writeWord(successWord, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        return changeManagedAccount(storage, query.userId, [&](const AccountRow& account) -> QString {
            // The client sends the level it shows; when that is no longer the stored one, its row is
            // stale and the change it asks for is not the one it would show afterwards.
            if (Levels::toChinese(account.level) != query.displayedLevel)
                return Wire::word(Refusal::StaleLevel);
            const QString level = raise ? Levels::raised(account.level) : Levels::lowered(account.level);
            if (Levels::code(level) >= Levels::Administrator && callerLevel() < Levels::SuperAdmin)
                return Wire::word(Refusal::SuperAdminRequired);
            if (level != account.level && !storage.setLevel(query.userId, level))
                return QString();
            if (!audit(storage,
                       {raise ? AuditAction::RaiseLevel : AuditAction::LowerLevel,
                        query.userId,
                        {},
                        account.level + QStringLiteral(" -> ") + level})
                || !transaction.commit())
                return QString();
            return successWord;
        });
    });
    // A new level is taken up at the next login: every session of the account ends.
    if (reply.outcome == successWord)
        context().sessions.endAccount(query.userId);
    return reply;
}
