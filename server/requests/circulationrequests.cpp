#include "circulationrequests.h"

#include "holdqueue.h"
#include "titleholds.h"
#include "levels.h"
#include "serverclock.h"
#include "serversettings.h"
#include "storage.h"

namespace {

// The most rows an administrator's list returns.
constexpr int ListLimit = 1000;

} // namespace

template <class Row>
HandlerReply CirculationRequests::readRows(const std::optional<QString>& userId,
                                           const std::function<QList<Row>(Storage&)>& load,
                                           const std::function<QStringList(const Row&)>& toFields)
{
    QList<Row> rows;
    bool allowed = false;
    QString error;
    if (!read(
            [&](Storage& storage) {
                allowed = userId ? actsFor(storage, *userId) : !adminRefusal(storage);
                if (allowed)
                    rows = load(storage);
            },
            &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (!allowed)
        return refusedStream(userId ? Refusal::NotLoggedIn : Refusal::AdminRequired);
    return rowStream<Row>(rows, toFields);
}

HandlerReply CirculationRequests::userLoans(const UserLoansQuery& query)
{
    const int maxRenewals = context().settings.maxRenewals;
    return readRows<LoanRow>(
        query.userId, [&](Storage& storage) { return storage.loansOf(query.userId); },
        [maxRenewals](const LoanRow& l) {
            const LoanRecord loan{
                l.title, l.author, l.type, l.publisher, l.year, l.number, ServerClock::shown(l.borrowedAt)};
            return UserLoanRecord{loan, ServerClock::shown(l.dueAt), QString::number(l.renewals),
                                  QString::number(qMax(0, maxRenewals - l.renewals))}
                .fields();
        });
}

HandlerReply CirculationRequests::overdueLoans(const OverdueLoansQuery&)
{
    const QDateTime now = ServerClock::nowUtc();
    return readRows<OverdueRow>(
        std::nullopt, [&](Storage& storage) { return storage.overdueLoans(ServerClock::stamp(now), ListLimit); },
        [&](const OverdueRow& o) {
            return OverdueLoanRecord{o.number,
                                     o.title,
                                     o.accountId,
                                     o.name,
                                     o.phone,
                                     o.email,
                                     ServerClock::shown(o.dueAt),
                                     QString::number(ServerClock::daysOverdue(o.dueAt, now))}
                .fields();
        });
}

HandlerReply CirculationRequests::userHolds(const UserHoldsQuery& query)
{
    // A row per hold still waiting: the place among the holds of its copy that still count, and the
    // pick-up deadline while the copy is kept for this reader.
    const QString now = ServerClock::nowStamp();
    return readRows<HoldRecord>(
        query.userId,
        [&](Storage& storage) {
            QList<HoldRecord> rows;
            for (const HoldRow& mine : storage.holdsOf(query.userId)) {
                if (!HoldQueue::isLive(mine, now))
                    continue;
                int place = 1;
                for (const HoldRow& other : storage.holdsOn(mine.number)) {
                    if (other.id < mine.id && HoldQueue::isLive(other, now))
                        ++place;
                }
                const bool kept = !mine.readyUntil.isEmpty() && place == 1;
                // A reader still waiting for a title waits among every reader of its copies.
                if (!kept) {
                    const std::optional<BookRow> copy = storage.book(mine.number);
                    if (copy && !copy->isbn.isEmpty())
                        place = TitleHolds::placeOf(storage, mine, copy->isbn, now);
                }
                rows.append({mine.number, mine.title, QString::number(place),
                             kept ? BookState::onHold() : BookState::queued(),
                             kept ? ServerClock::shown(mine.readyUntil) : QString()});
            }
            return rows;
        },
        [](const HoldRecord& row) { return row.fields(); });
}

HandlerReply CirculationRequests::auditLog(const AuditLogQuery& query)
{
    return readRows<AuditEvent>(
        std::nullopt,
        [&](Storage& storage) {
            return storage.auditEvents(query.userId.trimmed(), query.number.trimmed(), ListLimit);
        },
        [](const AuditEvent& e) {
            return AuditRecord{ServerClock::shown(e.at), e.actor, e.peer, e.action, e.accountId, e.bookNumber, e.detail}
                .fields();
        });
}

HandlerReply CirculationRequests::renewBook(const RenewBookQuery& query)
{
    const ServerSettings& settings = context().settings;
    return writeFrame(Reply::RenewBookSuccessfully, [&](Storage& storage) -> QStringList {
        Storage::WriteTransaction transaction(storage);
        if (!actsFor(storage, query.userId))
            return {Wire::word(Refusal::NotLoggedIn)};
        if (!storage.lockBook(query.number))
            return {};
        const std::optional<ActiveLoan> loan = storage.loanOf(query.number);
        if (!loan || loan->accountId != query.userId)
            return {Wire::word(Refusal::NotBorrowedByUser)};
        if (loan->renewals >= settings.maxRenewals)
            return {Wire::word(Refusal::RenewLimitReached)};
        const QDateTime now = ServerClock::nowUtc();
        HoldQueue queue(storage, query.number, now, settings.holdDays);
        if (!queue.settle(true))
            return {};
        if (!queue.holds().isEmpty())
            return {Wire::word(Refusal::BookOnHold)};
        if (ServerClock::daysOverdue(loan->dueAt, now) > settings.renewOverdueDays)
            return {Wire::word(Refusal::LoanOverdue)};
        // Renewing right after borrowing would only waste a renewal: not before the last days.
        const QDateTime firstDay = ServerClock::fromStamp(loan->dueAt).addDays(-settings.renewWithinDays);
        if (firstDay.isValid() && now < firstDay)
            return {Wire::word(Refusal::RenewTooEarly), ServerClock::shown(ServerClock::stamp(firstDay))};
        // A new period from today; never earlier than the loan was already due.
        const QString renewed = ServerClock::stamp(settings.dueFrom(now, loan->level));
        const QString due = std::max(renewed, loan->dueAt);
        if (!storage.renewLoan(query.number, due, ServerClock::stamp(now))
            || !audit(storage, {AuditAction::RenewBook, query.userId, query.number, QStringLiteral("due ") + due})
            || !transaction.commit())
            return {};
        return {Reply::RenewBookSuccessfully, ServerClock::shown(due)};
    });
}

HandlerReply CirculationRequests::placeHold(const PlaceHoldQuery& query)
{
    return writeFrame(Reply::PlaceHoldSuccessfully, [&](Storage& storage) -> QStringList {
        Storage::WriteTransaction transaction(storage);
        if (!actsFor(storage, query.userId))
            return {Wire::word(Refusal::NotLoggedIn)};
        if (!storage.lockAccount(query.userId) || !storage.lockTitleOf(query.number))
            return {};
        std::optional<AccountRow> account;
        std::optional<BookRow> book;
        if (const std::optional<QString> refusal = readerAndCopy(storage, query.userId, query.number, account, book))
            return {*refusal};
        const std::optional<ActiveLoan> loan = storage.loanOf(query.number);
        if (loan && loan->accountId == query.userId)
            return {Wire::word(Refusal::AlreadyBorrowedByUser)};
        // A copy kept for another reader takes holds too: the queue goes on after that reader.
        HoldQueue queue(storage, query.number, ServerClock::nowUtc(), context().settings.holdDays);
        if (!queue.settle(loan.has_value()))
            return {};
        if (queue.holdOf(query.userId))
            return {Wire::word(Refusal::HoldExists)};
        if (!loan && queue.holds().isEmpty())
            return {Wire::word(Refusal::BookNotOnLoan)};
        // A hold on a title: none while a copy of it is on the shelf (that one can be borrowed), and one
        // per reader whichever copy it was placed on.
        if (!book->isbn.isEmpty()) {
            const QList<BookRow> copies = storage.copiesOf(book->isbn);
            for (const BookRow& copy : copies) {
                if (!copy.lent && !copy.reserved)
                    return {Wire::word(Refusal::BookNotOnLoan), copy.number};
            }
            for (const HoldRow& mine : storage.holdsOf(query.userId)) {
                if (std::any_of(copies.cbegin(), copies.cend(),
                                [&](const BookRow& c) { return c.number == mine.number; }))
                    return {Wire::word(Refusal::HoldExists)};
            }
        }
        // One reader holding every copy out would block everybody's renewals.
        if (storage.holdCount(query.userId) >= context().settings.holdLimit(account->level))
            return {Wire::word(Refusal::HoldLimitReached)};
        if (!storage.insertHold(query.number, query.userId, ServerClock::nowStamp()) || !queue.settle(loan.has_value())
            || !audit(storage, {AuditAction::PlaceHold, query.userId, query.number, {}}) || !transaction.commit())
            return {};
        return {Reply::PlaceHoldSuccessfully};
    });
}

HandlerReply CirculationRequests::cancelHold(const CancelHoldQuery& query)
{
    return writeWord(Reply::CancelHoldSuccessfully, [&](Storage& storage) -> QString {
        Storage::WriteTransaction transaction(storage);
        if (!actsFor(storage, query.userId))
            return Wire::word(Refusal::NotLoggedIn);
        if (!storage.lockTitleOf(query.number))
            return QString();
        const std::optional<BookRow> book = storage.book(query.number);
        const bool lent = storage.loanOf(query.number).has_value();
        const QDateTime now = ServerClock::nowUtc();
        HoldQueue queue(storage, query.number, now, context().settings.holdDays);
        if (!queue.settle(lent))
            return QString();
        const std::optional<HoldRow> hold = queue.holdOf(query.userId);
        if (!hold)
            return Wire::word(Refusal::NoSuchHold);
        // A copy given up by its reader goes to the next reader waiting for its title.
        if (!storage.deleteHold(hold->id) || !queue.settle(lent)
            || (book && !lent && !TitleHolds::offer(storage, *book, queue, now, context().settings.holdDays))
            || !audit(storage, {AuditAction::CancelHold, query.userId, query.number, {}}) || !transaction.commit())
            return QString();
        return Reply::CancelHoldSuccessfully;
    });
}

HandlerReply CirculationRequests::checkinBook(const CheckinBookQuery& query)
{
    bool kept = false;
    HandlerReply reply = writeFrame(Reply::ReturnBookSuccessfully, [&](Storage& storage) -> QStringList {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return {*refusal};
        Storage::WriteTransaction transaction(storage);
        if (!storage.lockTitleOf(query.number))
            return {};
        const std::optional<ActiveLoan> loan = storage.loanOf(query.number);
        const std::optional<BookRow> book = storage.book(query.number);
        if (!loan)
            return {Wire::word(book ? Refusal::BookNotOnLoan : Refusal::NoSuchBook)};
        const QDateTime now = ServerClock::nowUtc();
        HoldQueue queue(storage, query.number, now, context().settings.holdDays);
        if (!storage.endLoan(query.number, loan->accountId, ServerClock::stamp(now)) || !queue.settle(false)
            || (book && !TitleHolds::offer(storage, *book, queue, now, context().settings.holdDays)))
            return {};
        const QString next = queue.holder();
        const std::optional<AccountRow> borrower = storage.account(loan->accountId);
        const std::optional<AccountRow> holder = next.isEmpty() ? std::nullopt : storage.account(next);
        const QString days = QString::number(ServerClock::daysOverdue(loan->dueAt, now));
        if (!audit(storage,
                   {AuditAction::CheckinBook, loan->accountId, query.number,
                    QStringLiteral("%1 days overdue%2")
                        .arg(days, next.isEmpty() ? QString() : QStringLiteral(", kept for ") + next)})
            || !transaction.commit())
            return {};
        kept = !next.isEmpty();
        return QStringList{Reply::ReturnBookSuccessfully}
        + CheckinRecord{loan->accountId, borrower ? borrower->name : QString(), days, next,
                        holder ? holder->name : QString()}
              .fields();
    });
    if (kept && reply.outcome == Reply::ReturnBookSuccessfully && context().copyKept)
        context().copyKept();
    return reply;
}
