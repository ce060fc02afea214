#include "storage.h"

#include "serverclock.h"

#include <QDateTime>
#include <QSqlQuery>

namespace {

const QString accountColumns = QStringLiteral(
    "id, name, level, password_hash, COALESCE(student_number, ''), phone, email, info, must_change_password");

AccountRow accountFrom(const SqlRow& q)
{
    return {q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
            q.value(3).toString(), q.value(4).toString(), q.value(5).toString(),
            q.value(6).toString(), q.value(7).toString(), q.value(8).toInt() != 0};
}

} // namespace

std::optional<AccountRow> Storage::account(const QString& id)
{
    std::optional<AccountRow> found;
    select(QStringLiteral("SELECT ") + accountColumns + QStringLiteral(" FROM accounts WHERE id = ?"), {id},
           [&](const SqlRow& q) { found = accountFrom(q); });
    return found;
}

bool Storage::studentNumberTaken(const QString& studentNumber)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM accounts WHERE student_number = ?"), {studentNumber}) > 0;
}

bool Storage::insertAccount(const AccountRow& a)
{
    return change(QStringLiteral("INSERT INTO accounts (id, name, level, password_hash, student_number, phone, "
                                 "email, info, must_change_password, created_at) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                  {a.id, a.name, a.level, a.passwordHash, SqlValue::nullIfEmpty(a.studentNumber), a.phone, a.email,
                   a.info, a.mustChangePassword ? 1 : 0, ServerClock::nowStamp()});
}

bool Storage::updateAccount(const QString& id, const QString& name, const QString& phone, const QString& email,
                            const QString& info, const QString& newPasswordHash)
{
    int rows = 0;
    if (newPasswordHash.isEmpty()) {
        change(QStringLiteral("UPDATE accounts SET name = ?, phone = ?, email = ?, info = ? WHERE id = ?"),
               {name, phone, email, info, id}, &rows);
    } else {
        // A new password is the account holder's own: no longer the generated one.
        change(QStringLiteral("UPDATE accounts SET name = ?, phone = ?, email = ?, info = ?, password_hash = ?, "
                              "must_change_password = 0 WHERE id = ?"),
               {name, phone, email, info, newPasswordHash, id}, &rows);
    }
    return rows == 1;
}

bool Storage::setLevel(const QString& id, const QString& level)
{
    int rows = 0;
    change(QStringLiteral("UPDATE accounts SET level = ? WHERE id = ?"), {level, id}, &rows);
    return rows == 1;
}

bool Storage::deleteAccount(const QString& id)
{
    // The reader's history goes with the account.
    change(QStringLiteral("DELETE FROM loan_history WHERE account_id = ?"), {id});
    int rows = 0;
    change(QStringLiteral("DELETE FROM accounts WHERE id = ?"), {id}, &rows);
    return rows == 1;
}

QList<AccountRow> Storage::searchAccounts(const QString& text, int limit)
{
    QList<AccountRow> rows;
    const auto add = [&](const SqlRow& q) { rows.append(accountFrom(q)); };
    if (text.isEmpty()) {
        select(QStringLiteral("SELECT ") + accountColumns + QStringLiteral(" FROM accounts ORDER BY id LIMIT ?"),
               {limit}, add);
        return rows;
    }
    const QString like = m_dialect->likeOperator();
    const QString pattern = SqlValue::containsPattern(text);
    select(QStringLiteral("SELECT ") + accountColumns + QStringLiteral(" FROM accounts WHERE id ") + like
               + QStringLiteral(" ? ESCAPE '\\' OR name ") + like
               + QStringLiteral(" ? ESCAPE '\\' OR student_number = ? ORDER BY id LIMIT ?"),
           {pattern, pattern, text, limit}, add);
    return rows;
}

QList<AccountRow> Storage::accountsAtLevel(const QString& level, int limit)
{
    QList<AccountRow> rows;
    select(QStringLiteral("SELECT ") + accountColumns
               + QStringLiteral(" FROM accounts WHERE level = ? ORDER BY created_at, id LIMIT ?"),
           {level, limit}, [&](const SqlRow& q) { rows.append(accountFrom(q)); });
    return rows;
}

qint64 Storage::accountCount()
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM accounts"));
}

qint64 Storage::accountCountAtLevel(const QString& level)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM accounts WHERE level = ?"), {level});
}

qint64 Storage::auditCount(AuditAction action, const QString& peer, const QString& since)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM audit_log WHERE action = ? AND peer = ? AND at >= ?"),
                  {Wire::word(action), peer, since});
}

bool Storage::appendAudit(const AuditEvent& e)
{
    return change(QStringLiteral("INSERT INTO audit_log (at, actor, peer, action, account_id, book_number, detail) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?)"),
                  {e.at, e.actor, e.peer, e.action, e.accountId, e.bookNumber, e.detail});
}

QList<AuditEvent> Storage::auditEvents(const QString& accountId, const QString& bookNumber, int limit)
{
    QList<AuditEvent> events;
    select(QStringLiteral("SELECT at, actor, peer, action, account_id, book_number, detail FROM audit_log "
                          "WHERE (? = '' OR account_id = ?) AND (? = '' OR book_number = ?) ORDER BY id DESC LIMIT ?"),
           {accountId, accountId, bookNumber, bookNumber, limit}, [&](const SqlRow& q) {
               events.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                              q.value(3).toString(), q.value(4).toString(), q.value(5).toString(),
                              q.value(6).toString()});
           });
    return events;
}
