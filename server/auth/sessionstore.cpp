#include "sessionstore.h"

#include "databasepool.h"
#include "storage.h"

#include <QCryptographicHash>

#include <sodium.h>

namespace {

// A session is marked as used at most this often (or a quarter of the idle limit when that is
// shorter): a busy reader does not turn every request into a write.
constexpr qint64 TouchEveryMs = 30 * 1000;

} // namespace

SessionStore::SessionStore(SessionLimits limits, Clock now)
    : m_limits(limits)
    , m_now(std::move(now))
{
}

QString SessionStore::newSecret()
{
    QByteArray bytes(32, Qt::Uninitialized); // 256 random bits
    randombytes_buf(bytes.data(), size_t(bytes.size()));
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString SessionStore::tokenKey(const QString& token)
{
    return QStringLiteral("token:")
        + QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString SessionStore::addressKey(const QString& peer)
{
    return QStringLiteral("address:") + peer;
}

bool SessionStore::expired(const Entry& entry, qint64 nowMs) const
{
    return nowMs - entry.lastUsedMs >= idleLimitOf(entry) || nowMs - entry.loginAtMs >= m_limits.maxMs;
}

QString SessionStore::startToken(const QString& account, const QString& peer)
{
    const QString token = newSecret();
    const qint64 now = m_now();
    if (!start(tokenKey(token), {account, peer, now, now, true}, true))
        return {};
    return token;
}

bool SessionStore::startAddress(const QString& account, const QString& peer)
{
    const qint64 now = m_now();
    return start(addressKey(peer), {account, peer, now, now, false}, false);
}

std::optional<Session> SessionStore::byToken(const QString& token)
{
    if (token.isEmpty())
        return std::nullopt;
    return useKey(tokenKey(token));
}

std::optional<Session> SessionStore::byAddress(const QString& peer)
{
    return useKey(addressKey(peer));
}

std::optional<Session> SessionStore::useKey(const QString& key)
{
    const std::optional<Entry> entry =
        use(key, m_now(), qMin(TouchEveryMs, qMin(m_limits.idleMs, m_limits.addressIdleMs) / 4));
    if (!entry)
        return std::nullopt;
    return Session{entry->account, entry->loginAtMs, key};
}

QString SessionStore::identity(const Session& session)
{
    return session.key + QLatin1Char('\n') + session.account + QLatin1Char('\n') + QString::number(session.loginAtMs);
}

bool SessionStore::knownChosenPassword(const Session& session) const
{
    QMutexLocker lock(&m_chosenMutex);
    return m_chosenPasswords.contains(identity(session));
}

void SessionStore::noteChosenPassword(const Session& session)
{
    // Ended sessions are never asked about again; starting afresh now and then bounds the set.
    constexpr qsizetype MaxRemembered = 100000;
    QMutexLocker lock(&m_chosenMutex);
    if (m_chosenPasswords.size() >= MaxRemembered)
        m_chosenPasswords.clear();
    m_chosenPasswords.insert(identity(session));
}

bool SessionStore::end(const QString& key)
{
    return remove(key);
}

bool SessionStore::endAccount(const QString& account, const QString& keepKey)
{
    return removeAccount(account, keepKey, false);
}

// ---- In memory

std::optional<SessionStore::Entry> MemorySessionStore::use(const QString& key, qint64 nowMs, qint64 touchAfterMs)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_entries.find(key);
    if (it == m_entries.end())
        return std::nullopt;
    if (expired(*it, nowMs)) {
        m_entries.erase(it);
        return std::nullopt;
    }
    if (nowMs - it->lastUsedMs >= touchAfterMs)
        it->lastUsedMs = nowMs;
    return *it;
}

bool MemorySessionStore::start(const QString& key, const Entry& entry, bool endAddressSessions)
{
    QMutexLocker lock(&m_mutex);
    if (endAddressSessions) {
        m_entries.remove(addressKey(entry.peer));
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = it->account == entry.account && !it->token ? m_entries.erase(it) : std::next(it);
    }
    m_entries.insert(key, entry);
    return true;
}

bool MemorySessionStore::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    m_entries.remove(key);
    return true;
}

bool MemorySessionStore::removeAccount(const QString& account, const QString& keepKey, bool addressOnly)
{
    QMutexLocker lock(&m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const bool drop = it->account == account && it.key() != keepKey && (!addressOnly || !it->token);
        it = drop ? m_entries.erase(it) : std::next(it);
    }
    return true;
}

void MemorySessionStore::sweep()
{
    const qint64 now = m_now();
    QMutexLocker lock(&m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end();)
        it = expired(*it, now) ? m_entries.erase(it) : std::next(it);
}

// ---- In the database

DatabaseSessionStore::DatabaseSessionStore(DatabasePool& database, SessionLimits limits, Clock now)
    : SessionStore(limits, std::move(now))
    , m_database(database)
{
}

std::optional<SessionStore::Entry> DatabaseSessionStore::use(const QString& key, qint64 nowMs, qint64 touchAfterMs)
{
    std::optional<StoredSession> found;
    if (!m_database.read([&](Storage& storage) { found = storage.session(key); }) || !found)
        return std::nullopt;
    const Entry entry{found->account, found->peer, found->loginAtMs, found->lastUsedMs, found->token};
    if (expired(entry, nowMs)) {
        // Removed only while it is still the entry that ran out: a login written since stays.
        m_database.write([&](Storage& storage) {
            storage.removeSessionIfEnded(key, nowMs - idleLimitOf(entry), nowMs - m_limits.maxMs);
        });
        return std::nullopt;
    }
    if (nowMs - entry.lastUsedMs >= touchAfterMs)
        m_database.write([&](Storage& storage) { storage.touchSession(key, nowMs); });
    return entry;
}

bool DatabaseSessionStore::start(const QString& key, const Entry& e, bool endAddressSessions)
{
    bool stored = false;
    return m_database.write([&](Storage& storage) {
        stored = storage.startSession(key, {e.account, e.peer, e.loginAtMs, e.lastUsedMs, e.token}, endAddressSessions)
            && !storage.failed();
    }) && stored;
}

bool DatabaseSessionStore::remove(const QString& key)
{
    bool removed = false;
    return m_database.write([&](Storage& storage) {
        removed = storage.removeSessions(key, {}, {}, false) && !storage.failed();
    }) && removed;
}

bool DatabaseSessionStore::removeAccount(const QString& account, const QString& keepKey, bool addressOnly)
{
    bool removed = false;
    return m_database.write([&](Storage& storage) {
        removed = storage.removeSessions({}, account, keepKey, addressOnly) && !storage.failed();
    }) && removed;
}

void DatabaseSessionStore::sweep()
{
    const qint64 now = m_now();
    m_database.write([&](Storage& storage) {
        storage.removeExpiredSessions(now - m_limits.idleMs, now - m_limits.addressIdleMs, now - m_limits.maxMs);
    });
}
