#include "loanrequests.h"

#include "levels.h"
#include "serversettings.h"
#include "storage.h"

#include <QDateTime>

namespace {

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

} // namespace

HandlerReply LoanRequests::borrowedBooks(const UserBorrowBookQuery& query)
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
    return rowStream<LoanRow>(loans, [](const LoanRow& l) {
        return LoanRecord{l.title, l.author, l.type, l.publisher, l.year, l.number, shownTime(l.borrowedAt)}.fields();
    });
}

HandlerReply LoanRequests::returnBook(const ReturnBookQuery& query)
{
    const QString& number = query.loan.number;
    return writeWord(Reply::ReturnBookSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        if (!loggedIn(storage, query.userId))
            return Refusal::NotLoggedIn;
        if (!storage.lockBook(number))
            return QString();
        if (storage.borrowerOf(number) != query.userId)
            return Refusal::NotBorrowedByUser;
        if (!storage.endLoan(number, query.userId, nowUtc())
            || !audit(storage, {QStringLiteral("RETURN_BOOK"), query.userId, number, {}}) || !transaction.commit())
            return QString();
        return Reply::ReturnBookSuccessfully;
    });
}

HandlerReply LoanRequests::borrowBook(const BorrowBookQuery& query)
{
    const QString& number = query.book.number;
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
        if (storage.loanCount(query.userId) >= context().settings.loanLimit(account->level))
            return Refusal::BorrowLimitReached;
        if (!storage.insertLoan(number, query.userId, nowUtc())
            || !audit(storage, {QStringLiteral("BORROW_BOOK"), query.userId, number, {}}) || !transaction.commit())
            return QString();
        return Reply::BorrowBookSuccessfully;
    });
}
