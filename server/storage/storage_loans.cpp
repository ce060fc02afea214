#include "storage.h"

#include <QSqlQuery>

qint64 Storage::loanCount(const QString& accountId)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM loans WHERE account_id = ?"), {accountId});
}

std::optional<QString> Storage::borrowerOf(const QString& bookNumber)
{
    std::optional<QString> borrower;
    select(QStringLiteral("SELECT account_id FROM loans WHERE book_number = ?"), {bookNumber},
           [&](const SqlRow& q) { borrower = q.value(0).toString(); });
    return borrower;
}

bool Storage::insertLoan(const QString& bookNumber, const QString& accountId, const QString& borrowedAt,
                         const QString& dueAt)
{
    return change(
        QStringLiteral("INSERT INTO loans (book_number, account_id, borrowed_at, due_at) VALUES (?, ?, ?, ?)"),
        {bookNumber, accountId, borrowedAt, dueAt});
}

bool Storage::endLoan(const QString& bookNumber, const QString& accountId, const QString& returnedAt)
{
    int copied = 0;
    change(QStringLiteral("INSERT INTO loan_history (book_number, title, account_id, borrowed_at, returned_at) "
                          "SELECT l.book_number, b.title, l.account_id, l.borrowed_at, ? FROM loans l "
                          "JOIN books b ON b.number = l.book_number "
                          "WHERE l.book_number = ? AND l.account_id = ?"),
           {returnedAt, bookNumber, accountId}, &copied);
    if (copied != 1)
        return false;
    int removed = 0;
    change(QStringLiteral("DELETE FROM loans WHERE book_number = ? AND account_id = ?"), {bookNumber, accountId},
           &removed);
    return removed == 1;
}

QList<LoanRow> Storage::loansOf(const QString& accountId)
{
    QList<LoanRow> rows;
    select(QStringLiteral("SELECT b.title, b.author, b.type, b.publisher, b.year, b.number, l.borrowed_at, "
                          "l.due_at, l.renewals FROM loans l JOIN books b ON b.number = l.book_number "
                          "WHERE l.account_id = ? ORDER BY l.borrowed_at, b.number"),
           {accountId}, [&](const SqlRow& q) {
               rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                            q.value(4).toString(), q.value(5).toString(), q.value(6).toString(), q.value(7).toString(),
                            q.value(8).toInt()});
           });
    return rows;
}
