#include "storage.h"

#include <QSqlQuery>

bool Storage::startSession(const QString& key, const StoredSession& s, bool endAddressSessions)
{
    static const QString upsert =
        QStringLiteral("INSERT INTO login_sessions (key, account_id, peer, login_at, last_used_at, token) "
                       "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (key) DO UPDATE SET "
                       "account_id = excluded.account_id, peer = excluded.peer, login_at = excluded.login_at, "
                       "last_used_at = excluded.last_used_at, token = excluded.token");
    const QVariantList values{key, s.account, s.peer, s.loginAtMs, s.lastUsedMs, s.token ? 1 : 0};
    if (!endAddressSessions)
        return change(upsert, values);
    static const QString endAddresses =
        QStringLiteral("DELETE FROM login_sessions WHERE token = 0 AND key <> ? AND (account_id = ? OR key = ?)");
    const QVariantList ended{key, s.account, QString(QStringLiteral("address:") + s.peer)};
    // SQLite has one writer, so two statements of one change cannot be split by another's; on
    // PostgreSQL, where other connections and servers write at the same time, it is one statement.
    if (isSqlite())
        return change(endAddresses, ended) && change(upsert, values);
    return change(QStringLiteral("WITH ended AS (") + endAddresses + QStringLiteral(") ") + upsert, ended + values);
}

std::optional<StoredSession> Storage::session(const QString& key)
{
    std::optional<StoredSession> found;
    select(QStringLiteral("SELECT account_id, peer, login_at, last_used_at, token FROM login_sessions WHERE key = ?"),
           {key}, [&](const SqlRow& q) {
               found = StoredSession{q.value(0).toString(), q.value(1).toString(), q.value(2).toLongLong(),
                                     q.value(3).toLongLong(), q.value(4).toInt() != 0};
           });
    return found;
}

bool Storage::touchSession(const QString& key, qint64 nowMs)
{
    return change(QStringLiteral("UPDATE login_sessions SET last_used_at = ? WHERE key = ?"), {nowMs, key});
}

bool Storage::removeSessions(const QString& key, const QString& account, const QString& keepKey, bool addressOnly)
{
    if (!key.isEmpty())
        return change(QStringLiteral("DELETE FROM login_sessions WHERE key = ?"), {key});
    return change(
        QStringLiteral("DELETE FROM login_sessions WHERE account_id = ? AND key <> ? AND (? = 0 OR token = 0)"),
        {account, keepKey, addressOnly ? 1 : 0});
}

bool Storage::removeSessionIfEnded(const QString& key, qint64 idleBeforeMs, qint64 loginBeforeMs)
{
    return change(QStringLiteral("DELETE FROM login_sessions WHERE key = ? AND (last_used_at <= ? OR login_at <= ?)"),
                  {key, idleBeforeMs, loginBeforeMs});
}

bool Storage::removeExpiredSessions(qint64 idleBeforeMs, qint64 addressIdleBeforeMs, qint64 loginBeforeMs)
{
    return change(QStringLiteral("DELETE FROM login_sessions WHERE (token <> 0 AND last_used_at <= ?) "
                                 "OR (token = 0 AND last_used_at <= ?) OR login_at <= ?"),
                  {idleBeforeMs, addressIdleBeforeMs, loginBeforeMs});
}

std::optional<AttemptCount> Storage::lockedAttempts(const QString& key)
{
    if (!change(QStringLiteral("INSERT INTO login_attempts (key, attempts, locked_until, last_at) VALUES (?, 0, 0, 0) "
                               "ON CONFLICT (key) DO NOTHING"),
                {key}))
        return std::nullopt;
    std::optional<AttemptCount> count;
    select(QStringLiteral("SELECT attempts, locked_until, last_at FROM login_attempts WHERE key = ?")
               + m_dialect->rowLockSuffix(),
           {key}, [&](const SqlRow& q) {
               count = AttemptCount{q.value(0).toInt(), q.value(1).toLongLong(), q.value(2).toLongLong()};
           });
    return failed() ? std::nullopt : count;
}

bool Storage::putAttempts(const QString& key, const AttemptCount& c)
{
    return change(QStringLiteral("UPDATE login_attempts SET attempts = ?, locked_until = ?, last_at = ? WHERE key = ?"),
                  {c.attempts, c.lockedUntilMs, c.lastAtMs, key});
}

bool Storage::takeBackAttempt(const QString& key)
{
    return change(QStringLiteral("UPDATE login_attempts SET attempts = attempts - 1 WHERE key = ? AND attempts > 0"),
                  {key});
}

bool Storage::clearAttempts(const QString& key)
{
    return change(QStringLiteral("DELETE FROM login_attempts WHERE key = ?"), {key});
}

bool Storage::removeQuietAttempts(qint64 quietSinceMs, qint64 nowMs)
{
    return change(QStringLiteral("DELETE FROM login_attempts WHERE last_at < ? AND locked_until <= ?"),
                  {quietSinceMs, nowMs});
}
