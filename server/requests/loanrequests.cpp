#include "loanrequests.h"

#include "holdqueue.h"
#include "titleholds.h"
#include "levels.h"
#include "serverclock.h"
#include "serversettings.h"
#include "storage.h"

HandlerReply LoanRequests::borrowedBooks(const UserBorrowBookQuery& query)
{
    QList<LoanRow> loans;
    bool allowed = false;
    QString error;
    if (!read(
            [&](Storage& storage) {
                allowed = actsFor(storage, query.userId);
                if (allowed)
                    loans = storage.loansOf(query.userId);
            },
            &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (!allowed)
        return refusedStream(Refusal::NotLoggedIn);
    return rowStream<LoanRow>(loans, [](const LoanRow& l) {
        return LoanRecord{l.title, l.author, l.type, l.publisher, l.year, l.number, ServerClock::shown(l.borrowedAt)}
            .fields();
    });
}

HandlerReply LoanRequests::returnBook(const ReturnBookQuery& query)
{
    const QString& number = query.loan.number;
    bool kept = false;
    HandlerReply reply = writeWord(Reply::ReturnBookSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        if (!actsFor(storage, query.userId))
            return Wire::word(Refusal::NotLoggedIn);
        if (!storage.lockTitleOf(number))
            return QString();
        if (storage.borrowerOf(number) != query.userId)
            return Wire::word(Refusal::NotBorrowedByUser);
        const QDateTime now = ServerClock::nowUtc();
        // The copy is kept for the first reader waiting for it, or else for its title.
        HoldQueue queue(storage, number, now, context().settings.holdDays);
        const std::optional<BookRow> book = storage.book(number);
        if (!storage.endLoan(number, query.userId, ServerClock::stamp(now)) || !queue.settle(false)
            || (book && !TitleHolds::offer(storage, *book, queue, now, context().settings.holdDays)))
            return QString();
        const QString detail = queue.holder().isEmpty() ? QString() : QStringLiteral("kept for ") + queue.holder();
        if (!audit(storage, {AuditAction::ReturnBook, query.userId, number, detail}) || !transaction.commit())
            return QString();
        kept = !queue.holder().isEmpty();
        return Reply::ReturnBookSuccessfully;
    });
    if (kept && reply.outcome == Reply::ReturnBookSuccessfully && context().copyKept)
        context().copyKept();
    return reply;
}

HandlerReply LoanRequests::borrowBook(const BorrowBookQuery& query)
{
    const QString& number = query.book.number;
    const ServerSettings& settings = context().settings;
    return writeWord(Reply::BorrowBookSuccessfully, [&](Storage& storage) -> QString {
        // The write lock (SQLite) or the locks on the account and the copy (PostgreSQL) are held from
        // the first read, so two borrowers of one copy, or two loans of one account, are served in turn.
        // Staff lend to a reader at the desk under the reader's rules, not their own.
        Storage::WriteTransaction transaction(storage);
        if (!actsFor(storage, query.userId))
            return Wire::word(Refusal::NotLoggedIn);
        std::optional<AccountRow> account;
        std::optional<BookRow> book;
        if (const std::optional<QString> refusal = readerAndCopy(storage, query.userId, number, account, book))
            return *refusal;
        if (!book->isbn.isEmpty() && !storage.lockTitleOf(number))
            return QString();
        if (book->lent)
            return Wire::word(Refusal::BookAlreadyLent);
        const QDateTime now = ServerClock::nowUtc();
        HoldQueue queue(storage, number, now, settings.holdDays);
        if (!queue.settle(false))
            return QString();
        const QString holder = queue.holder();
        if (!holder.isEmpty() && holder != query.userId)
            return Wire::word(Refusal::BookOnHold);
        if (settings.blockWhenOverdue && storage.hasLoanDueBefore(query.userId, ServerClock::stamp(now)))
            return Wire::word(Refusal::LoanOverdue);
        if (storage.loanCount(query.userId) >= settings.loanLimit(account->level))
            return Wire::word(Refusal::BorrowLimitReached);
        const QString due = ServerClock::stamp(settings.dueFrom(now, account->level));
        if (!storage.insertLoan(number, query.userId, ServerClock::stamp(now), due))
            return QString();
        // The holder collects the copy: the hold is done, the rest of the queue waits for its return.
        if (!holder.isEmpty() && (!storage.deleteHold(queue.holdOf(holder)->id) || !queue.settle(true)))
            return QString();
        // A reader who has a copy of a title no longer waits for another one.
        if (!book->isbn.isEmpty() && !dropTitleHolds(storage, query.userId, *book, now))
            return QString();
        if (!audit(storage, {AuditAction::BorrowBook, query.userId, number, QStringLiteral("due ") + due})
            || !transaction.commit())
            return QString();
        return Reply::BorrowBookSuccessfully;
    });
}

bool LoanRequests::dropTitleHolds(Storage& storage, const QString& userId, const BookRow& borrowed,
                                  const QDateTime& now)
{
    const int holdDays = context().settings.holdDays;
    for (const HoldRow& hold : storage.holdsOf(userId)) {
        if (hold.number == borrowed.number)
            continue;
        const std::optional<BookRow> copy = storage.book(hold.number);
        if (!copy || copy->isbn != borrowed.isbn)
            continue;
        // The queue it leaves closes up; a copy on the shelf goes to the next reader of the title.
        HoldQueue queue(storage, copy->number, now, holdDays);
        if (!storage.deleteHold(hold.id) || !queue.settle(copy->lent)
            || (!copy->lent && !TitleHolds::offer(storage, *copy, queue, now, holdDays)))
            return false;
    }
    return !storage.failed();
}
