#include "requesthandlers.h"

#include "catalogueimport.h"
#include "databasepool.h"
#include "levels.h"
#include "loginthrottle.h"
#include "passwordhasher.h"
#include "serversettings.h"
#include "loginsessions.h"
#include "storage.h"

#include <QDateTime>

namespace {

HandlerReply word(const QString& replyWord)
{
    return {{Reply::word(replyWord)}, replyWord};
}

HandlerReply refusedStream(const QString& why)
{
    return {{}, QStringLiteral("refused, ") + why};
}

QStringList userRow(const AccountRow& a)
{
    return {a.id, a.name, a.studentNumber, a.phone, a.email, a.level};
}

// Rows that do not fit in a frame are left out rather than sent with a size word that lies.
template <class Row, class ToFields>
HandlerReply rowStream(const QList<Row>& rows, ToFields toFields)
{
    HandlerReply reply;
    int skipped = 0;
    for (const Row& row : rows) {
        QByteArray frame = Reply::row(toFields(row));
        if (frame.isEmpty())
            ++skipped;
        else
            reply.frames.append(std::move(frame));
    }
    reply.outcome = QStringLiteral("%1 rows").arg(reply.frames.size());
    if (skipped > 0)
        reply.outcome += QStringLiteral(" (%1 too long for a frame, left out)").arg(skipped);
    return reply;
}

QString nowUtc()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

// Loan times are stored in UTC and shown in the server's local time.
QString shownTime(const QString& storedUtc)
{
    const QDateTime time = QDateTime::fromString(storedUtc, Qt::ISODate);
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : storedUtc;
}

UserInfo recordOf(const AccountRow& a, const QString& typedPassword)
{
    return {a.id, a.name, a.level, typedPassword, a.studentNumber, a.phone, a.email, a.info};
}

// Whether the record of the account could be sent after "PASS", at the highest level name.
bool fitsLoginReply(UserInfo record)
{
    record.permission = Levels::englishName(Levels::Administrator);
    return !Reply::loginPass(record.fields()).isEmpty();
}

} // namespace

RequestHandlers::RequestHandlers(ServerContext& context, const QString& peer)
    : m_context(context)
    , m_peer(peer)
{
}

bool RequestHandlers::read(const std::function<void(Storage&)>& job, QString* error)
{
    bool failed = false;
    const bool ran = m_context.database.read([&](Storage& storage) {
        job(storage);
        failed = storage.failed();
        if (failed)
            *error = storage.lastError();
    });
    if (!ran && error->isEmpty())
        *error = QStringLiteral("the database is unavailable");
    return ran && !failed;
}

bool RequestHandlers::loggedIn(Storage& storage, const QString& userId) const
{
    return m_context.sessions.isLoggedIn(storage, m_peer, userId);
}

std::optional<QString> RequestHandlers::adminRefusal(Storage& storage) const
{
    const QString latest = m_context.sessions.latestLogin(storage, m_peer);
    if (latest.isEmpty())
        return QString(Refusal::AdminRequired);
    // The level is read afresh: an administrator who was lowered since the login has lost the right.
    const std::optional<AccountRow> account = storage.account(latest);
    if (!account || Levels::code(account->level) < Levels::Administrator)
        return QString(Refusal::AdminRequired);
    return std::nullopt;
}

HandlerReply RequestHandlers::writeWord(const QString& successWord, const std::function<QString(Storage&)>& job)
{
    QString result;
    bool failed = false;
    const bool ran = m_context.database.write([&](Storage& storage) {
        result = job(storage);
        failed = storage.failed();
        if (failed)
            result = storage.lastError();
    });
    if (!ran || failed || result.isEmpty()) {
        HandlerReply reply = word(Refusal::ServerError);
        const QString why = !ran ? QStringLiteral("not committed")
                                 : result.isEmpty() ? QStringLiteral("no change made") : result;
        reply.outcome += QStringLiteral(" (") + why + QLatin1Char(')');
        return reply;
    }
    if (result == successWord)
        m_context.changes.ref();
    return word(result);
}

HandlerReply RequestHandlers::searchBooks(const BookQuery& query)
{
    BookFilter filter;
    filter.title = query.title.trimmed();
    filter.author = query.author.trimmed();
    filter.number = query.number.trimmed();
    filter.type = query.type.trimmed();
    filter.publisher = query.press.trimmed();
    bool ok = false;
    if (const int from = query.yearFrom.trimmed().toInt(&ok); ok)
        filter.yearFrom = from;
    if (const int to = query.yearTo.trimmed().toInt(&ok); ok)
        filter.yearTo = to;

    QList<BookRow> books;
    QString error;
    if (!read([&](Storage& storage) { books = storage.searchBooks(filter, m_context.settings.maxSearchRows); }, &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    return rowStream(books, [](const BookRow& b) {
        return QStringList{b.title, b.author,   b.type, b.publisher, b.year, b.number,
                           b.lent ? BookState::lentOut() : BookState::free(), b.permission};
    });
}

HandlerReply RequestHandlers::login(const LoginQuery& query, UserInfo* account)
{
    if (m_context.throttle.isLockedOut(m_peer))
        return word(Refusal::TooManyAttempts);
    std::optional<AccountRow> stored;
    QString error;
    if (!read([&](Storage& storage) { stored = storage.account(query.userId); }, &error)) {
        HandlerReply reply = word(Refusal::ServerError);
        reply.outcome += QStringLiteral(" (") + error + QLatin1Char(')');
        return reply;
    }
    if (!stored) {
        m_context.throttle.failed(m_peer);
        return word(Reply::WrongId);
    }
    if (!m_context.hasher.verify(stored->passwordHash, query.password)) {
        m_context.throttle.failed(m_peer);
        return word(Refusal::WrongPassword);
    }
    m_context.throttle.succeeded(m_peer);
    if (!m_context.sessions.loggedIn(m_peer, stored->id)) {
        HandlerReply reply = word(Refusal::ServerError);
        reply.outcome += QStringLiteral(" (the login could not be stored)");
        return reply;
    }
    *account = recordOf(*stored, query.password);
    QByteArray frame = Reply::loginPass(account->fields());
    if (frame.isEmpty())
        return word(Refusal::RecordTooLong);
    return {{frame}, QStringLiteral("PASS as ") + stored->id + QStringLiteral(" (") + stored->level + QLatin1Char(')')};
}

HandlerReply RequestHandlers::registerUser(const UserRegisterQuery& query)
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

    bool taken = false;
    QString error;
    if (!read([&](Storage& storage) {
            taken = storage.account(account.id).has_value()
                || (!account.studentNumber.isEmpty() && storage.studentNumberTaken(account.studentNumber));
        },
              &error))
        return fail(QStringLiteral("database error: ") + error);
    if (taken)
        return fail(QStringLiteral("user ID or student number exists"));

    account.passwordHash = m_context.hasher.hash(query.password);
    if (account.passwordHash.isEmpty())
        return fail(QStringLiteral("password could not be hashed"));
    HandlerReply reply = writeWord(RegisterSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        // Checked again under the write lock: another registration may have won meanwhile.
        if (storage.account(account.id)
            || (!account.studentNumber.isEmpty() && storage.studentNumberTaken(account.studentNumber)))
            return Reply::RegisterFail;
        if (!storage.insertAccount(account) || !transaction.commit())
            return QString();
        return RegisterSuccessfully;
    });
    if (reply.outcome != RegisterSuccessfully)
        return fail(reply.outcome);
    return reply;
}

HandlerReply RequestHandlers::updateUser(const UserUpdateQuery& query)
{
    // Checked before the costly hash, and again with the change.
    bool allowed = false;
    QString error;
    if (!read([&](Storage& storage) { allowed = loggedIn(storage, query.userId); }, &error)) {
        HandlerReply reply = word(Refusal::ServerError);
        reply.outcome += QStringLiteral(" (") + error + QLatin1Char(')');
        return reply;
    }
    if (!allowed)
        return word(Refusal::NotLoggedIn);
    if (!fitsLoginReply({query.userId, query.name, QString(), query.newPassword, QString(), query.phoneNumber,
                         query.email, query.userInfo}))
        return word(Refusal::RecordTooLong);
    QString newHash;
    if (!query.newPassword.isEmpty()) {
        newHash = m_context.hasher.hash(query.newPassword);
        if (newHash.isEmpty())
            return word(Refusal::ServerError);
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

HandlerReply RequestHandlers::searchUsers(const SearchUserQuery& query)
{
    QList<AccountRow> accounts;
    std::optional<QString> refusal;
    QString error;
    if (!read([&](Storage& storage) {
            refusal = adminRefusal(storage);
            if (!refusal)
                accounts = storage.searchAccounts(query.text.trimmed(), m_context.settings.maxSearchRows);
        },
              &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (refusal)
        return refusedStream(*refusal);
    return rowStream(accounts, userRow);
}

HandlerReply RequestHandlers::unconfirmedUsers(const UnconfirmUserQuery&)
{
    QList<AccountRow> accounts;
    std::optional<QString> refusal;
    QString error;
    if (!read([&](Storage& storage) {
            refusal = adminRefusal(storage);
            if (!refusal)
                accounts = storage.accountsAtLevel(Levels::englishName(Levels::Guest), m_context.settings.maxSearchRows);
        },
              &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (refusal)
        return refusedStream(*refusal);
    return rowStream(accounts, userRow);
}

HandlerReply RequestHandlers::deleteUser(const DeleteUserQuery& query)
{
    HandlerReply reply = writeWord(Reply::DeleteUserSuccessfully, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        Storage::WriteTransaction transaction(storage);
        if (!storage.lockAccount(query.userId))
            return QString();
        const std::optional<AccountRow> account = storage.account(query.userId);
        if (!account)
            return Refusal::NoSuchUser;
        if (Levels::code(account->level) == Levels::SuperAdmin)
            return Refusal::SuperAdminProtected;
        if (storage.loanCount(query.userId) > 0)
            return Refusal::UserHasLoans;
        if (!storage.deleteAccount(query.userId) || !transaction.commit())
            return QString();
        return Reply::DeleteUserSuccessfully;
    });
    if (reply.outcome == Reply::DeleteUserSuccessfully)
        m_context.sessions.forget(query.userId);
    return reply;
}

HandlerReply RequestHandlers::escalateUser(const EscalateUserQuery& query)
{
    return changeLevel(query, true, Reply::EscalateUserSuccessfully);
}

HandlerReply RequestHandlers::degradeUser(const DegradeUserQuery& query)
{
    return changeLevel(query, false, Reply::DegradeUserSuccessfully);
}

HandlerReply RequestHandlers::changeLevel(const LevelChangeQuery& query, bool raise, const QString& successWord)
{
    return writeWord(successWord, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        Storage::WriteTransaction transaction(storage);
        if (!storage.lockAccount(query.userId))
            return QString();
        const std::optional<AccountRow> account = storage.account(query.userId);
        if (!account)
            return Refusal::NoSuchUser;
        if (Levels::code(account->level) == Levels::SuperAdmin)
            return Refusal::SuperAdminProtected;
        // The client sends the level it shows; when that is no longer the stored one, its row is stale
        // and the change it asks for is not the one it would show afterwards.
        if (Levels::toChinese(account->level) != query.displayedLevel)
            return Refusal::StaleLevel;
        const QString level = raise ? Levels::raised(account->level) : Levels::lowered(account->level);
        if (level != account->level && !storage.setLevel(query.userId, level))
            return QString();
        if (!transaction.commit())
            return QString();
        return successWord;
    });
}

HandlerReply RequestHandlers::borrowedBooks(const UserBorrowBookQuery& query)
{
    QList<LoanRow> loans;
    bool allowed = false;
    QString error;
    if (!read([&](Storage& storage) {
            allowed = loggedIn(storage, query.userId);
            if (allowed)
                loans = storage.loansOf(query.userId);
        },
              &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (!allowed)
        return refusedStream(Refusal::NotLoggedIn);
    return rowStream(loans, [](const LoanRow& l) {
        return QStringList{l.title, l.author, l.type, l.publisher, l.year, l.number, shownTime(l.borrowedAt)};
    });
}

HandlerReply RequestHandlers::returnBook(const ReturnBookQuery& query)
{
    const QString number = query.borrowedRow.value(5);
    return writeWord(Reply::ReturnBookSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        if (!loggedIn(storage, query.userId))
            return Refusal::NotLoggedIn;
        if (!storage.lockBook(number))
            return QString();
        if (storage.borrowerOf(number) != query.userId)
            return Refusal::NotBorrowedByUser;
        if (!storage.endLoan(number, query.userId, nowUtc()) || !transaction.commit())
            return QString();
        return Reply::ReturnBookSuccessfully;
    });
}

HandlerReply RequestHandlers::borrowBook(const BorrowBookQuery& query)
{
    const QString number = query.book.value(5);
    return writeWord(Reply::BorrowBookSuccessfully, [&](Storage& storage) -> QString {
        // The write lock (SQLite) or the locks on the account and the copy (PostgreSQL) are held from
        // the first read, so two borrowers of one copy, or two loans of one account, are served in turn.
        Storage::WriteTransaction transaction(storage);
        if (!loggedIn(storage, query.userId))
            return Refusal::NotLoggedIn;
        if (!storage.lockAccount(query.userId) || !storage.lockBook(number))
            return QString();
        const std::optional<BookRow> book = storage.book(number);
        if (!book)
            return Refusal::NoSuchBook;
        const std::optional<AccountRow> account = storage.account(query.userId);
        if (!account)
            return Refusal::NoSuchUser;
        const int level = Levels::code(account->level);
        if (level < Levels::Undergraduate)
            return Refusal::AccountUnconfirmed;
        if (level < Levels::code(book->permission))
            return Refusal::PermissionTooLow;
        if (book->lent)
            return Refusal::BookAlreadyLent;
        if (storage.loanCount(query.userId) >= m_context.settings.loanLimit(account->level))
            return Refusal::BorrowLimitReached;
        if (!storage.insertLoan(number, query.userId, nowUtc()) || !transaction.commit())
            return QString();
        return Reply::BorrowBookSuccessfully;
    });
}

HandlerReply RequestHandlers::deleteBook(const DeleteBookQuery& query)
{
    const QString number = query.book.value(5);
    return writeWord(Reply::DeleteBookSuccessfully, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        Storage::WriteTransaction transaction(storage);
        if (!storage.lockBook(number))
            return QString();
        const std::optional<BookRow> book = storage.book(number);
        if (!book)
            return Refusal::NoSuchBook;
        if (book->lent)
            return Refusal::BookOnLoan;
        if (!storage.deleteBook(number) || !transaction.commit())
            return QString();
        return Reply::DeleteBookSuccessfully;
    });
}

HandlerReply RequestHandlers::addBook(const AddBookQuery& query)
{
    BookRow book{query.title.trimmed(), query.author.trimmed(), query.type.trimmed(), query.press.trimmed(),
                 query.year.trimmed(),  query.number.trimmed(), QString(),           false};
    return writeWord(Reply::AddBookSuccessfully, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        if (book.title.isEmpty() || book.number.isEmpty())
            return Refusal::MissingTitleOrNumber;
        const std::optional<QString> permission = CatalogueCsv::permissionName(query.permission);
        if (!permission)
            return Refusal::UnknownPermission;
        book.permission = *permission;
        if (Reply::row({book.title, book.author, book.type, book.publisher, book.year, book.number,
                        BookState::lentOut(), book.permission})
                .isEmpty())
            return Refusal::RecordTooLong;
        Storage::WriteTransaction transaction(storage);
        if (storage.book(book.number))
            return Refusal::BookNumberExists;
        if (!storage.insertBook(book) || !transaction.commit())
            return QString();
        return Reply::AddBookSuccessfully;
    });
}
