#include "storage.h"

#include "serverclock.h"

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
    if (!change(QStringLiteral("INSERT INTO loans (book_number, account_id, borrowed_at, due_at) VALUES (?, ?, ?, ?)"),
                {bookNumber, accountId, borrowedAt, dueAt}))
        return false;
    // Counted in the loan's transaction: the statistics keep it after the history forgets the reader.
    QString level, type;
    select(QStringLiteral("SELECT COALESCE((SELECT level FROM accounts WHERE id = ?), ''), type FROM books "
                          "WHERE number = ?"),
           {accountId, bookNumber}, [&](const SqlRow& q) {
               level = q.value(0).toString();
               type = q.value(1).toString();
           });
    const QString day = ServerClock::fromStamp(borrowedAt).toLocalTime().date().toString(Qt::ISODate);
    if (!countLoanChange(QStringLiteral("loans"), borrowedAt, level, type)
        || !change(
            QStringLiteral("INSERT INTO book_loan_stats (book_number, day, level, loans) VALUES (?, ?, ?, 1) "
                           "ON CONFLICT (book_number, day, level) DO UPDATE SET loans = book_loan_stats.loans + 1"),
            {bookNumber, day, level})
        || !change(QStringLiteral("INSERT INTO title_loans (title, author, loans) SELECT title, author, 1 FROM books "
                                  "WHERE number = ? ON CONFLICT (title, author) DO UPDATE SET loans = "
                                  "title_loans.loans + 1"),
                   {bookNumber}))
        return false;
    // A reader is counted once a month: of the level and type, of the level, of the type.
    const struct {
        const char *kind, *column;
        QString level, type;
    } scopes[] = {{"LT", "readers", level, type}, {"L", "level_readers", level, {}}, {"T", "type_readers", {}, type}};
    for (const auto& scope : scopes) {
        int first = 0;
        if (!change(QStringLiteral(
                        "INSERT INTO reader_months (month, kind, level, type, account_id) VALUES (?, ?, ?, ?, ?) "
                        "ON CONFLICT (month, kind, level, type, account_id) DO NOTHING"),
                    {day.left(7), QLatin1String(scope.kind), scope.level, scope.type, accountId}, &first)
            || (first == 1 && !countLoanChange(QLatin1String(scope.column), borrowedAt, level, type)))
            return false;
    }
    return true;
}

bool Storage::endLoan(const QString& bookNumber, const QString& accountId, const QString& returnedAt)
{
    QString dueAt, level, type;
    select(QStringLiteral("SELECT l.due_at, COALESCE(a.level, ''), b.type FROM loans l JOIN books b ON b.number = "
                          "l.book_number LEFT JOIN accounts a ON a.id = l.account_id "
                          "WHERE l.book_number = ? AND l.account_id = ?"),
           {bookNumber, accountId}, [&](const SqlRow& q) {
               dueAt = q.value(0).toString();
               level = q.value(1).toString();
               type = q.value(2).toString();
           });
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
    const bool overdue = !dueAt.isEmpty() && returnedAt > dueAt;
    return removed == 1 && countLoanChange(QStringLiteral("returns"), returnedAt, level, type)
        && (!overdue || countLoanChange(QStringLiteral("overdue_returns"), returnedAt, level, type));
}

QList<LoanRow> Storage::loansOf(const QString& accountId)
{
    QList<LoanRow> rows;
    select(QStringLiteral("SELECT b.title, b.author, b.type, b.publisher, b.year, b.number, l.borrowed_at, "
                          "l.due_at, l.renewals FROM loans l JOIN books b ON b.number = l.book_number "
                          "WHERE l.account_id = ? ORDER BY l.borrowed_at, b.number"),
           {accountId}, [&](const SqlRow& q) {
               rows.append({q.text(0), q.text(1), q.text(2), q.text(3), q.text(4), q.text(5), q.text(6), q.text(7),
                            q.value(8).toInt()});
           });
    return rows;
}
