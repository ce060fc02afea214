#pragma once

#include <QString>

#include <functional>

class DatabasePool;

// The PCs an account has logged in on. After a successful login our client is given a device token
// for its account and presents it at the next login there: such a login is not held by the
// account-wide lock (LoginThrottle), so guesses at the account from elsewhere cannot lock its owner
// out. The token is no credential (the password is still needed), only that exemption. Kept only as
// its SHA-256, in the database, for `lifetimeMs` after its last use.
class DeviceTokens
{
public:
    using Clock = std::function<qint64()>;
    DeviceTokens(DatabasePool& database, qint64 lifetimeMs, Clock now);

    // Whether the token is one the account was given and has used within its lifetime.
    bool isValid(const QString& token, const QString& account);
    // The token the account's login keeps using: the presented one while it is valid (its use noted),
    // otherwise a new one. Empty when it could not be stored.
    QString issue(const QString& account, const QString& presented);
    // Forgets tokens not used within their lifetime; run from a timer.
    void sweep();

private:
    static QString keyOf(const QString& token);

    DatabasePool& m_database;
    qint64 m_lifetimeMs;
    Clock m_now;
};
