#include "storage.h"

#include <QSqlQuery>

// Logins are kept per peer address in two tables: one row per account that logged in from the address,
// with its expiry, and per address the account that did so last. Deleting an account removes its rows
// and clears it as the latest login through the foreign keys, so a deleted account's session cannot be
// picked up again, nor can an earlier login from the address take its place.

bool Storage::recordLogin(const QString& peer, const QString& accountId, qint64 lifetimeMs)
{
    WriteTransaction transaction(*this);
    return transaction.isOpen()
        && change(QStringLiteral("INSERT INTO sessions (peer, account_id, expires_at) "
                                 "VALUES (?, ?, CURRENT_TIMESTAMP + CAST(? AS DOUBLE PRECISION) * INTERVAL '1 millisecond') "
                                 "ON CONFLICT (peer, account_id) DO UPDATE SET expires_at = EXCLUDED.expires_at"),
                  {peer, accountId, double(lifetimeMs)})
        && change(QStringLiteral("INSERT INTO session_peers (peer, latest_account_id) VALUES (?, ?) "
                                 "ON CONFLICT (peer) DO UPDATE SET latest_account_id = EXCLUDED.latest_account_id"),
                  {peer, accountId})
        && transaction.commit();
}

bool Storage::hasLogin(const QString& peer, const QString& accountId)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM sessions WHERE peer = ? AND account_id = ? "
                                 "AND expires_at > CURRENT_TIMESTAMP"),
                  {peer, accountId})
        > 0;
}

QString Storage::latestLogin(const QString& peer)
{
    QString latest;
    select(QStringLiteral("SELECT s.account_id FROM session_peers p "
                          "JOIN sessions s ON s.peer = p.peer AND s.account_id = p.latest_account_id "
                          "WHERE p.peer = ? AND s.expires_at > CURRENT_TIMESTAMP"),
           {peer}, [&](const QSqlQuery& q) { latest = q.value(0).toString(); });
    return latest;
}

void Storage::dropExpiredLogins()
{
    change(QStringLiteral("DELETE FROM sessions WHERE expires_at <= CURRENT_TIMESTAMP"), {});
    change(QStringLiteral("DELETE FROM session_peers p WHERE NOT EXISTS "
                          "(SELECT 1 FROM sessions s WHERE s.peer = p.peer)"),
           {});
}
