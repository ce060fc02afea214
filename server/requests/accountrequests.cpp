#include "accountrequests.h"

#include "serverclock.h"

#include "accountfields.h"
#include "devicetokens.h"
#include "idlookalikes.h"
#include "levels.h"
#include "peernetwork.h"
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
    // Our client adds the word "SESSION": it wants a token (and a device token), and it reads a second
    // string after a throttle refusal. A documented client gets the documented replies.
    const bool ourClient = query.sessionWord == Reply::Session;
    const bool knownDevice = ourClient && context().devices.isValid(query.deviceToken, query.userId);
    const LoginThrottle::Verdict verdict = context().throttle.admit(peer(), query.userId, knownDevice);
    if (!verdict.admitted) {
        QStringList refusal{Wire::word(verdict.refusal)};
        if (ourClient)
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

    // The record's password field stays empty: the typed password never travels back.
    QByteArray frame = Reply::loginPass(recordOf(*stored, QString()).fields());
    if (frame.isEmpty())
        return word(Refusal::RecordTooLong);
    HandlerReply reply{
        {frame}, QStringLiteral("PASS as ") + stored->id + QStringLiteral(" (") + stored->level + QLatin1Char(')')};
    if (ourClient) {
        const QString token = context().sessions.startToken(stored->id, peer());
        if (token.isEmpty())
            return serverError(QStringLiteral("the session could not be stored"));
        reply.frames.append(Wire::encodeFrame({QString(Reply::Session), token}));
        reply.outcome += QStringLiteral(", token session");
        // Without it the login still stands; the next one is merely not exempt from the account's lock.
        const QString device = context().devices.issue(stored->id, query.deviceToken);
        if (!device.isEmpty())
            reply.frames.append(Wire::encodeFrame({QString(Reply::Device), device}));
        if (knownDevice)
            reply.outcome += QStringLiteral(", known device");
        // Said at once, so our client opens the password form instead of waiting for a refusal.
        if (stored->mustChangePassword)
            reply.frames.append(Wire::encodeFrame({Wire::word(Refusal::PasswordChangeRequired)}));
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
    // A documented client takes every word but "REGISTER_FAIL" for success, so every refusal is that
    // word; our client (it sends a token field, empty when nobody is logged in) reads why as a second
    // string. The log says why in words.
    const bool ourClient = m_caller.token.has_value();
    const auto fail = [&](Refusal reason, const QString& why) {
        QStringList frame{QString(Reply::RegisterFail)};
        if (ourClient)
            frame.append(Wire::word(reason));
        return HandlerReply{{Wire::encodeFrame(frame)},
                            QStringLiteral("REGISTER_FAIL for \"%1\", ").arg(query.userId.left(64)) + why};
    };
    if (const std::optional<QString> why = RegistrationRules::refusal(query))
        return fail(Refusal::InvalidAccountField, *why);
    if (IdLookalikes::isSuspicious(query.userId))
        return fail(Refusal::IdConfusable, QStringLiteral("user ID mixes scripts or hides characters"));
    AccountRow account{query.userId,
                       query.name,
                       Levels::englishName(Levels::Guest),
                       QString(),
                       query.studentNumber.trimmed(),
                       query.phoneNumber,
                       query.email,
                       query.userInfo};
    account.registeredFrom = peer();
    if (!fitsLoginReply(recordOf(account, QString())))
        return fail(Refusal::RecordTooLong, QStringLiteral("record too long for a frame"));

    // Why the registration cannot be stored now: checked before the costly hash and again under the
    // write lock, where another registration may have won meanwhile.
    const ServerSettings& settings = context().settings;
    const QString network = PeerNetwork::of(peer());
    struct Obstacle {
        Refusal reason;
        QString why;
    };
    const auto obstacle = [&](Storage& storage) -> std::optional<Obstacle> {
        if (storage.account(account.id).has_value()
            || (!account.studentNumber.isEmpty() && storage.studentNumberTaken(account.studentNumber)))
            return Obstacle{Refusal::IdTaken, QStringLiteral("user ID or student number exists")};
        if (storage.idLookalikeExists(account.id))
            return Obstacle{Refusal::IdConfusable, QStringLiteral("user ID looks like an existing one")};
        const QString hourAgo = ServerClock::stamp(ServerClock::nowUtc().addSecs(-3600));
        if (storage.auditCount(AuditAction::Register, peer(), hourAgo) >= settings.registrationsPerAddressPerHour)
            return Obstacle{Refusal::TooManyRegistrations,
                            QStringLiteral("%1 registrations from this address within the hour already")
                                .arg(settings.registrationsPerAddressPerHour)};
        if (!network.isEmpty()
            && storage.auditCountWithDetail(AuditAction::Register, network, hourAgo)
                >= settings.registrationsPerNetworkPerHour)
            return Obstacle{Refusal::TooManyRegistrations,
                            QStringLiteral("%1 registrations from %2 within the hour already")
                                .arg(settings.registrationsPerNetworkPerHour)
                                .arg(network)};
        if (storage.accountCountAtLevel(Levels::englishName(Levels::Guest)) >= settings.maxUnconfirmedAccounts)
            return Obstacle{
                Refusal::RegistrationClosed,
                QStringLiteral("%1 accounts wait for confirmation already").arg(settings.maxUnconfirmedAccounts)};
        return std::nullopt;
    };
    std::optional<Obstacle> found;
    QString error;
    if (!read([&](Storage& storage) { found = obstacle(storage); }, &error))
        return fail(Refusal::ServerError, QStringLiteral("database error: ") + error);
    if (found)
        return fail(found->reason, found->why);

    account.passwordHash = context().hasher.hash(query.password);
    if (account.passwordHash.isEmpty())
        return fail(Refusal::ServerError, QStringLiteral("password could not be hashed"));
    HandlerReply reply = writeWord(Reply::RegisterSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        found = obstacle(storage);
        if (found)
            return Reply::RegisterFail;
        // The network in the entry's detail: registrations per network are counted from it.
        if (!storage.insertAccount(account) || !audit(storage, {AuditAction::Register, account.id, {}, network})
            || !transaction.commit())
            return QString();
        return Reply::RegisterSuccessfully;
    });
    if (reply.outcome != Reply::RegisterSuccessfully)
        return found ? fail(found->reason, found->why) : fail(Refusal::ServerError, reply.outcome);
    return reply;
}

HandlerReply AccountRequests::updateUser(const UserUpdateQuery& query)
{
    // Checked before the costly hashes, and again with the change.
    bool allowed = false;
    QString error;
    if (!read([&](Storage& storage) { allowed = loggedIn(storage, query.userId); }, &error))
        return serverError(error);
    if (!allowed)
        return word(Refusal::NotLoggedIn);
    if (const std::optional<AccountFields::Finding> finding = AccountFields::detailsProblem(
            query.name, query.phoneNumber, query.email, query.userInfo, query.newPassword)) {
        HandlerReply reply = word(Refusal::InvalidAccountField);
        reply.outcome += QStringLiteral(" (") + AccountFields::describe(*finding) + QLatin1Char(')');
        return reply;
    }
    if (!query.newPassword.isEmpty()) {
        if (const std::optional<HandlerReply> refusal = passwordChangeRefusal(query))
            return *refusal;
    }
    if (!fitsLoginReply({query.userId, query.name, QString(), QString(), QString(), query.phoneNumber, query.email,
                         query.userInfo}))
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
                                     QString())))
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

std::optional<HandlerReply> AccountRequests::passwordChangeRefusal(const UserUpdateQuery& query)
{
    // Without the current password, a session left open on a shared PC would be enough to take the
    // account over. Documented clients never send it: only where the library allows it, and then
    // only soon after their login.
    if (query.currentPassword.isEmpty()) {
        if (!context().settings.addressPasswordChange)
            return word(Refusal::CurrentPasswordRequired);
        const qint64 sinceLoginMs = ServerClock::nowMs() - m_caller.loginAtMs;
        if (sinceLoginMs > qint64(context().settings.passwordChangeMinutes * 60000))
            return word(Refusal::LoginAgain);
        return std::nullopt;
    }
    // The current password is guessed like a login's: counted before it is checked.
    const LoginThrottle::Verdict verdict = context().throttle.admit(peer(), query.userId);
    if (!verdict.admitted)
        return HandlerReply{
            {Wire::encodeFrame({Wire::word(verdict.refusal), QString::number(verdict.retryAfterSeconds)})},
            Wire::word(verdict.refusal)};
    std::optional<AccountRow> stored;
    QString error;
    if (!read([&](Storage& storage) { stored = storage.account(query.userId); }, &error))
        return serverError(error);
    if (!stored)
        return word(Refusal::NoSuchUser);
    if (!context().hasher.verify(stored->passwordHash, query.currentPassword))
        return word(Refusal::WrongPassword);
    context().throttle.succeeded(peer(), query.userId);
    return std::nullopt;
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

HandlerReply AccountRequests::userDetails(const UserDetailsQuery& query)
{
    QList<AccountRow> accounts;
    std::optional<QString> refusal;
    QString error;
    const bool unconfirmed = query.which == QLatin1String("unconfirmed");
    if (!read(
            [&](Storage& storage) {
                refusal = adminRefusal(storage);
                if (refusal)
                    return;
                const int limit = context().settings.maxSearchRows;
                accounts = unconfirmed ? storage.accountsAtLevel(Levels::englishName(Levels::Guest), limit)
                                       : storage.searchAccounts(query.text.trimmed(), limit);
            },
            &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (refusal)
        return refusedStream(*refusal);
    return rowStream<AccountRow>(accounts, [](const AccountRow& a) {
        return UserDetailRecord{{a.id, a.name, a.studentNumber, a.phone, a.email, a.level},
                                ServerClock::shown(a.createdAt),
                                a.registeredFrom,
                                a.info}
            .fields();
    });
}

HandlerReply AccountRequests::registrationState(const RegistrationStateQuery&)
{
    std::optional<QString> refusal;
    qint64 waiting = 0;
    QString error;
    if (!read(
            [&](Storage& storage) {
                refusal = adminRefusal(storage);
                if (!refusal)
                    waiting = storage.accountCountAtLevel(Levels::englishName(Levels::Guest));
            },
            &error))
        return serverError(error);
    if (refusal)
        return word(*refusal);
    const int max = context().settings.maxUnconfirmedAccounts;
    return {{Wire::encodeFrame({QString(Reply::RegistrationState), QString::number(waiting), QString::number(max)})},
            QStringLiteral("%1 of %2 unconfirmed").arg(waiting).arg(max)};
}

HandlerReply AccountRequests::deleteUnconfirmed(const DeleteUnconfirmedQuery& query)
{
    const std::optional<PeerNetwork::Range> range = PeerNetwork::parse(query.addressOrNetwork);
    if (!range)
        return word(Refusal::BadNetwork);
    const QString named = query.addressOrNetwork.trimmed();
    QStringList deleted;
    HandlerReply reply = writeFrame(Reply::DeleteUnconfirmedSuccessfully, [&](Storage& storage) -> QStringList {
        deleted.clear();
        Storage::WriteTransaction transaction(storage);
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return {*refusal};
        // A flood is a few thousand accounts at most: the [registration] limits stop it long before.
        for (const AccountRow& account : storage.unusedUnconfirmed(1000000)) {
            if (!range->contains(account.registeredFrom))
                continue;
            if (storage.deleteUnusedUnconfirmed(account.id) != 1
                || !audit(storage, {AuditAction::DeleteUnconfirmed, account.id, {}, named}))
                return {};
            deleted.append(account.id);
        }
        if (!transaction.commit())
            return {};
        return {QString(Reply::DeleteUnconfirmedSuccessfully), QString::number(deleted.size())};
    });
    if (reply.outcome != Reply::DeleteUnconfirmedSuccessfully)
        return reply;
    for (const QString& id : deleted)
        context().sessions.endAccount(id);
    reply.note = QStringLiteral(" %1 accounts from %2").arg(deleted.size()).arg(named);
    return reply;
}

QString AccountRequests::changeAccountRecord(Storage& storage, const QString& userId,
                                             const std::function<QString(const AccountRow&)>& change)
{
    if (const std::optional<QString> refusal = adminRefusal(storage))
        return *refusal;
    if (!storage.lockAccount(userId))
        return QString();
    const std::optional<AccountRow> account = storage.account(userId);
    if (!account)
        return Wire::word(Refusal::NoSuchUser);
    if (Levels::code(account->level) >= Levels::Administrator && callerLevel() < Levels::SuperAdmin)
        return Wire::word(Refusal::SuperAdminRequired);
    return change(*account);
}

HandlerReply AccountRequests::editUser(const EditUserQuery& query)
{
    const std::optional<AccountFields::Finding> finding = [&]() -> std::optional<AccountFields::Finding> {
        if (const auto number = AccountFields::problemOf(AccountFields::Field::StudentNumber, query.studentNumber))
            return AccountFields::Finding{AccountFields::Field::StudentNumber, *number};
        return AccountFields::detailsProblem(query.name, query.phoneNumber, query.email, query.userInfo);
    }();
    if (finding) {
        HandlerReply reply = word(Refusal::InvalidAccountField);
        reply.outcome += QStringLiteral(" (") + AccountFields::describe(*finding) + QLatin1Char(')');
        return reply;
    }
    const QString studentNumber = query.studentNumber.trimmed();
    return writeWord(Reply::EditUserSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        return changeAccountRecord(storage, query.userId, [&](const AccountRow& account) -> QString {
            if (!studentNumber.isEmpty() && studentNumber != account.studentNumber
                && storage.studentNumberTaken(studentNumber))
                return Wire::word(Refusal::IdTaken);
            if (!fitsLoginReply(recordOf({account.id, query.name, account.level, QString(), studentNumber,
                                          query.phoneNumber, query.email, query.userInfo},
                                         QString())))
                return Wire::word(Refusal::RecordTooLong);
            // What changed, old and new, for the trail.
            QStringList changes;
            const auto note = [&](const char* field, const QString& before, const QString& after) {
                if (before != after)
                    changes.append(QStringLiteral("%1: %2 -> %3").arg(QLatin1String(field), before, after));
            };
            note("name", account.name, query.name);
            note("student number", account.studentNumber, studentNumber);
            note("phone", account.phone, query.phoneNumber);
            note("e-mail", account.email, query.email);
            note("notes", account.info, query.userInfo);
            if (!storage.editAccount(account.id, query.name, studentNumber, query.phoneNumber, query.email,
                                     query.userInfo)
                || !audit(storage, {AuditAction::EditAccount, account.id, {}, changes.join(QStringLiteral("; "))})
                || !transaction.commit())
                return QString();
            return Reply::EditUserSuccessfully;
        });
    });
}

HandlerReply AccountRequests::resetPassword(const ResetPasswordQuery& query)
{
    const QString password = PasswordHasher::randomPassword();
    const QString hash = context().hasher.hash(password);
    if (hash.isEmpty())
        return serverError(QStringLiteral("password could not be hashed"));
    HandlerReply reply = writeFrame(Reply::ResetPasswordSuccessfully, [&](Storage& storage) -> QStringList {
        Storage::WriteTransaction transaction(storage);
        const QString word = changeAccountRecord(storage, query.userId, [&](const AccountRow& account) -> QString {
            if (!storage.setTemporaryPassword(account.id, hash)
                || !audit(storage, {AuditAction::ResetPassword, account.id, {}, {}}) || !transaction.commit())
                return QString();
            return Reply::ResetPasswordSuccessfully;
        });
        if (word != Reply::ResetPasswordSuccessfully)
            return word.isEmpty() ? QStringList() : QStringList{word};
        // The one-time password goes to the staff member alone, never to the log.
        return {word, password};
    });
    // Whoever was logged in as the reader is out: the next login must choose a new password.
    if (reply.outcome == Reply::ResetPasswordSuccessfully)
        context().sessions.endAccount(query.userId);
    return reply;
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
