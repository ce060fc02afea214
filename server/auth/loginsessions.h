#pragma once

#include "sessionregistry.h"

#include <QAtomicInt>
#include <QString>

class DatabasePool;
class Storage;

// The per-address logins that authorise requests, wherever they are kept: in this process's memory
// when the server is alone on its SQLite file, in the database when several servers share a PostgreSQL
// database and a client may reach any of them. Checks run inside a database job on its Storage.
class LoginSessions
{
public:
    LoginSessions(DatabasePool& database, qint64 lifetimeMs, bool inDatabase);

    bool isShared() const { return m_inDatabase; }

    // Remembers a successful login; false when it could not be stored (the login then fails).
    bool loggedIn(const QString& peer, const QString& userId);
    bool isLoggedIn(Storage& storage, const QString& peer, const QString& userId) const;
    QString latestLogin(Storage& storage, const QString& peer) const;
    // Forgets a deleted account. In the database its rows went with the account.
    void forget(const QString& userId);

private:
    DatabasePool& m_database;
    qint64 m_lifetimeMs;
    bool m_inDatabase;
    SessionRegistry m_memory;
    QAtomicInt m_loginsSinceSweep;
};
