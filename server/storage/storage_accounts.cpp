#include "storage.h"

#include "idlookalikes.h"
#include "serverclock.h"

#include <QDateTime>
#include <QSqlQuery>

namespace {

const QString accountColumns =
    QStringLiteral("id, name, level, password_hash, COALESCE(student_number, ''), phone, email, info, "
                   "must_change_password, created_at, registered_from");

AccountRow accountFrom(const SqlRow& q)
{
    return {q.value(0).toString(),   q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
            q.value(4).toString(),   q.value(5).toString(), q.value(6).toString(), q.value(7).toString(),
            q.value(8).toInt() != 0, q.value(9).toString(), q.value(10).toString()};
}

// Unconfirmed accounts that never borrowed: nothing is lost when they go.
const QString unusedGuests =
    QStringLiteral("level = 'Guest' AND NOT EXISTS (SELECT 1 FROM loans l WHERE l.account_id = accounts.id) "
                   "AND NOT EXISTS (SELECT 1 FROM loan_history h WHERE h.account_id = accounts.id)");

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
                                 "email, info, must_change_password, created_at, registered_from, id_key) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                  {a.id, a.name, a.level, a.passwordHash, SqlValue::nullIfEmpty(a.studentNumber), a.phone, a.email,
                   a.info, a.mustChangePassword ? 1 : 0, ServerClock::nowStamp(), a.registeredFrom,
                   IdLookalikes::key(a.id)});
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

bool Storage::editAccount(const QString& id, const QString& name, const QString& studentNumber, const QString& phone,
                          const QString& email, const QString& info)
{
    int rows = 0;
    change(
        QStringLiteral("UPDATE accounts SET name = ?, student_number = ?, phone = ?, email = ?, info = ? WHERE id = ?"),
        {name, SqlValue::nullIfEmpty(studentNumber), phone, email, info, id}, &rows);
    return rows == 1;
}

bool Storage::setTemporaryPassword(const QString& id, const QString& passwordHash)
{
    int rows = 0;
    change(QStringLiteral("UPDATE accounts SET password_hash = ?, must_change_password = 1 WHERE id = ?"),
           {passwordHash, id}, &rows);
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

bool Storage::idLookalikeExists(const QString& id)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM accounts WHERE id_key = ?"), {IdLookalikes::key(id)}) > 0;
}

bool Storage::fillIdKeys()
{
    for (;;) {
        QStringList ids;
        select(QStringLiteral("SELECT id FROM accounts WHERE id_key IS NULL LIMIT 1000"), {},
               [&](const SqlRow& q) { ids.append(q.value(0).toString()); });
        if (m_failed || ids.isEmpty())
            return !m_failed;
        for (const QString& id : ids) {
            if (!change(QStringLiteral("UPDATE accounts SET id_key = ? WHERE id = ?"), {IdLookalikes::key(id), id}))
                return false;
        }
    }
}

QList<AccountRow> Storage::unusedUnconfirmed(int limit)
{
    QList<AccountRow> rows;
    select(QStringLiteral("SELECT ") + accountColumns + QStringLiteral(" FROM accounts WHERE ") + unusedGuests
               + QStringLiteral(" ORDER BY created_at, id LIMIT ?"),
           {limit}, [&](const SqlRow& q) { rows.append(accountFrom(q)); });
    return rows;
}

qint64 Storage::deleteUnusedUnconfirmed(const QString& id)
{
    int rows = 0;
    change(QStringLiteral("DELETE FROM accounts WHERE id = ? AND ") + unusedGuests, {id}, &rows);
    return rows;
}

qint64 Storage::expireUnconfirmed(const QString& registeredBefore)
{
    int rows = 0;
    change(QStringLiteral("DELETE FROM accounts WHERE created_at < ? AND ") + unusedGuests, {registeredBefore}, &rows);
    return rows;
}

qint64 Storage::holdCount(const QString& accountId)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM holds WHERE account_id = ?"), {accountId});
}

bool Storage::putDeviceToken(const QString& key, const QString& accountId, qint64 nowMs)
{
    return change(
        QStringLiteral("INSERT INTO device_tokens (key, account_id, created_at, last_used_at) "
                       "VALUES (?, ?, ?, ?) ON CONFLICT (key) DO UPDATE SET last_used_at = excluded.last_used_at"),
        {key, accountId, nowMs, nowMs});
}

QString Storage::deviceTokenAccount(const QString& key, qint64 usedSinceMs)
{
    QString account;
    select(QStringLiteral("SELECT account_id FROM device_tokens WHERE key = ? AND last_used_at >= ?"),
           {key, usedSinceMs}, [&](const SqlRow& q) { account = q.value(0).toString(); });
    return account;
}

bool Storage::removeDeviceTokens(qint64 usedBeforeMs)
{
    return change(QStringLiteral("DELETE FROM device_tokens WHERE last_used_at < ?"), {usedBeforeMs});
}

qint64 Storage::auditCountWithDetail(AuditAction action, const QString& detail, const QString& since)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM audit_log WHERE action = ? AND detail = ? AND at >= ?"),
                  {Wire::word(action), detail, since});
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
