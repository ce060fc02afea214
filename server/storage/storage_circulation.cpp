#include "storage.h"

#include <QSqlQuery>

std::optional<ActiveLoan> Storage::loanOf(const QString& bookNumber)
{
    std::optional<ActiveLoan> loan;
    select(QStringLiteral("SELECT l.book_number, l.account_id, l.borrowed_at, l.due_at, a.level, l.renewals "
                          "FROM loans l JOIN accounts a ON a.id = l.account_id WHERE l.book_number = ?"),
           {bookNumber}, [&](const SqlRow& q) {
               loan = ActiveLoan{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                 q.value(3).toString(), q.value(4).toString(), q.value(5).toInt()};
           });
    return loan;
}

bool Storage::renewLoan(const QString& bookNumber, const QString& dueAt, const QString& renewedAt)
{
    int rows = 0;
    change(QStringLiteral("UPDATE loans SET due_at = ?, renewals = renewals + 1 WHERE book_number = ?"),
           {dueAt, bookNumber}, &rows);
    if (rows != 1)
        return false;
    QString level, type;
    select(QStringLiteral("SELECT COALESCE(a.level, ''), b.type FROM loans l JOIN books b ON b.number = l.book_number "
                          "LEFT JOIN accounts a ON a.id = l.account_id WHERE l.book_number = ?"),
           {bookNumber}, [&](const SqlRow& q) {
               level = q.value(0).toString();
               type = q.value(1).toString();
           });
    return countLoanChange(QStringLiteral("renewals"), renewedAt, level, type);
}

bool Storage::hasLoanDueBefore(const QString& accountId, const QString& time)
{
    // Any text but the empty one sorts after '': the reader's entries of loans_account_due from the
    // first due date on, stopping at the first.
    return scalar(QStringLiteral("SELECT 1 FROM loans WHERE account_id = ? AND due_at > '' AND due_at < ? LIMIT 1"),
                  {accountId, time})
        == 1;
}

QList<OverdueRow> Storage::overdueLoans(const QString& time, int limit)
{
    QList<OverdueRow> rows;
    select(
        QStringLiteral("SELECT l.book_number, b.title, l.account_id, a.name, a.phone, a.email, l.due_at "
                       "FROM loans l JOIN books b ON b.number = l.book_number JOIN accounts a ON a.id = l.account_id "
                       "WHERE l.due_at <> '' AND l.due_at < ? ORDER BY l.due_at, l.book_number LIMIT ?"),
        {time, limit}, [&](const SqlRow& q) {
            rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                         q.value(4).toString(), q.value(5).toString(), q.value(6).toString()});
        });
    return rows;
}

QList<ActiveLoan> Storage::loansWithoutDueDate()
{
    QList<ActiveLoan> loans;
    select(QStringLiteral("SELECT l.book_number, l.account_id, l.borrowed_at, a.level FROM loans l "
                          "JOIN accounts a ON a.id = l.account_id WHERE l.due_at = ''"),
           {}, [&](const SqlRow& q) {
               loans.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), QString(),
                             q.value(3).toString()});
           });
    return loans;
}

bool Storage::setDueDate(const QString& bookNumber, const QString& dueAt)
{
    return change(QStringLiteral("UPDATE loans SET due_at = ? WHERE book_number = ?"), {dueAt, bookNumber});
}

namespace {

const QString holdColumns =
    QStringLiteral("h.id, h.book_number, h.account_id, h.placed_at, COALESCE(h.ready_until, ''), b.title");

HoldRow holdFrom(const SqlRow& q)
{
    return {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
            q.value(3).toString(),   q.value(4).toString(), q.value(5).toString()};
}

} // namespace

QList<HoldRow> Storage::holdsOn(const QString& bookNumber)
{
    return holdsWhere(QStringLiteral("h.book_number"), bookNumber);
}

QList<HoldRow> Storage::holdsOf(const QString& accountId)
{
    return holdsWhere(QStringLiteral("h.account_id"), accountId);
}

QList<HoldRow> Storage::holdsWhere(const QString& column, const QString& value)
{
    QList<HoldRow> rows;
    select(QStringLiteral("SELECT ") + holdColumns
               + QStringLiteral(" FROM holds h JOIN books b ON b.number = h.book_number WHERE ") + column
               + QStringLiteral(" = ? ORDER BY h.id"),
           {value}, [&](const SqlRow& q) { rows.append(holdFrom(q)); });
    return rows;
}

QList<TitleHoldRow> Storage::holdsOnTitle(const QString& isbn)
{
    // One statement for the whole queue of a title: a title of 200 copies is otherwise 201.
    QList<TitleHoldRow> rows;
    select(QStringLiteral("SELECT ") + holdColumns
               + QStringLiteral(", CASE WHEN EXISTS (SELECT 1 FROM loans l WHERE l.book_number = b.number) THEN 1 "
                                "ELSE 0 END FROM books b JOIN holds h ON h.book_number = b.number WHERE b.isbn = ? "
                                "ORDER BY b.number, h.id"),
           {isbn}, [&](const SqlRow& q) {
               rows.append({holdFrom(q), q.value(6).toInt() != 0});
           });
    return rows;
}

bool Storage::insertHold(const QString& bookNumber, const QString& accountId, const QString& placedAt)
{
    return change(QStringLiteral("INSERT INTO holds (book_number, account_id, placed_at) VALUES (?, ?, ?)"),
                  {bookNumber, accountId, placedAt});
}

bool Storage::deleteHold(qint64 id)
{
    return change(QStringLiteral("DELETE FROM holds WHERE id = ?"), {id});
}

bool Storage::setHoldWindow(qint64 id, const std::optional<QString>& readyUntil)
{
    return change(QStringLiteral("UPDATE holds SET ready_until = ? WHERE id = ?"), {SqlValue::orNull(readyUntil), id});
}

bool Storage::moveHold(qint64 id, const QString& bookNumber)
{
    return change(QStringLiteral("UPDATE holds SET book_number = ?, ready_until = NULL WHERE id = ?"),
                  {bookNumber, id});
}
