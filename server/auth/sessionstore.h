#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

class DatabasePool;

// How long a session lasts: it ends after `idleMs` without a request (`addressIdleMs` for an address
// session, which anybody at that PC can use) and `maxMs` after its login.
struct SessionLimits {
    qint64 idleMs = 30 * 60 * 1000;
    qint64 maxMs = 12 * 3600 * 1000;
    qint64 addressIdleMs = 10 * 60 * 1000;
};

// A live session: whose it is, when its login was, and the key that names it.
struct Session {
    QString account;
    qint64 loginAtMs = 0;
    QString key;
};

// The logins that authorise requests. A session is either a token session (our client asked for a
// token at login; the token authorises from any address) or an address session (a documented client,
// which sends no credentials: the latest login from an address, for that account only).
//
// Tokens are kept only as their SHA-256 digests, so neither memory nor the database holds one that
// could be replayed. Times are milliseconds since the epoch from `now`, which tests may move.
class SessionStore
{
public:
    using Clock = std::function<qint64()>;
    SessionStore(SessionLimits limits, Clock now);
    virtual ~SessionStore() = default;

    // A new token session; returns the token, or an empty string when it could not be stored.
    // The account's address sessions end (an account whose latest login asked for a token is never
    // authorised by address), and so does whichever address session the peer's PC had: a login at a
    // PC, by anybody, ends the address login there.
    QString startToken(const QString& account, const QString& peer);
    // The peer's address session becomes this account's, replacing whichever login was there.
    bool startAddress(const QString& account, const QString& peer);

    // The session while it lasts (and it is marked as used now), or nullopt.
    std::optional<Session> byToken(const QString& token);
    std::optional<Session> byAddress(const QString& peer);

    // Ends one session, by its key.
    bool end(const QString& key);
    // Ends every session of the account but the one named by `keepKey` (none when empty).
    bool endAccount(const QString& account, const QString& keepKey = {});
    // Drops ended sessions; run from a timer, not from a request.
    virtual void sweep() = 0;

    // Whether this session's account is known to have a password its owner chose. An account gets a
    // generated password only when it is made (the first administrator, an imported reader) or reset
    // by staff, which ends all its sessions; so once seen, that holds for the rest of the session and
    // needs no more reads.
    // A session is its key, account and login time together: an address's key passes from one
    // login to the next.
    bool knownChosenPassword(const Session& session) const;
    void noteChosenPassword(const Session& session);

    static QString tokenKey(const QString& token);
    // 256 random bits, as URL-safe base64 (43 characters): a session or device token.
    static QString newSecret();
    static QString addressKey(const QString& peer);

protected:
    struct Entry {
        QString account;
        QString peer;
        qint64 loginAtMs = 0;
        qint64 lastUsedMs = 0;
        bool token = false;
    };
    // Storage of entries by key: in memory, or in a database shared by several servers. Each call is
    // one step that no other call can come between, so a login written meanwhile is never undone.
    //
    // The entry while it lasts at `nowMs`, marked as used when its last use is `touchAfterMs` old; an
    // entry that has run out is removed (only if it is still the one that ran out) and nullopt given.
    virtual std::optional<Entry> use(const QString& key, qint64 nowMs, qint64 touchAfterMs) = 0;
    // Puts the entry under its key, replacing whichever was there; with `endAddressSessions`, every
    // address entry of the entry's account, and the address entry of its peer, end in the same step.
    virtual bool start(const QString& key, const Entry& entry, bool endAddressSessions) = 0;
    virtual bool remove(const QString& key) = 0;
    // Removes the account's entries but `keepKey`; only address entries when `addressOnly`.
    virtual bool removeAccount(const QString& account, const QString& keepKey, bool addressOnly) = 0;

    bool expired(const Entry& entry, qint64 nowMs) const;
    qint64 idleLimitOf(const Entry& entry) const { return entry.token ? m_limits.idleMs : m_limits.addressIdleMs; }

    SessionLimits m_limits;
    Clock m_now;

private:
    std::optional<Session> useKey(const QString& key);
    static QString identity(const Session& session);

    mutable QMutex m_chosenMutex;
    QSet<QString> m_chosenPasswords;
};

// Sessions of a server alone on its database, in its memory.
class MemorySessionStore : public SessionStore
{
public:
    using SessionStore::SessionStore;
    void sweep() override;

protected:
    std::optional<Entry> use(const QString& key, qint64 nowMs, qint64 touchAfterMs) override;
    bool start(const QString& key, const Entry& entry, bool endAddressSessions) override;
    bool remove(const QString& key) override;
    bool removeAccount(const QString& account, const QString& keepKey, bool addressOnly) override;

private:
    QMutex m_mutex;
    QHash<QString, Entry> m_entries;
};

// Sessions kept in the database, so that every server on it knows them (PostgreSQL).
class DatabaseSessionStore : public SessionStore
{
public:
    DatabaseSessionStore(DatabasePool& database, SessionLimits limits, Clock now);
    void sweep() override;

protected:
    std::optional<Entry> use(const QString& key, qint64 nowMs, qint64 touchAfterMs) override;
    bool start(const QString& key, const Entry& entry, bool endAddressSessions) override;
    bool remove(const QString& key) override;
    bool removeAccount(const QString& account, const QString& keepKey, bool addressOnly) override;

private:
    DatabasePool& m_database;
};
