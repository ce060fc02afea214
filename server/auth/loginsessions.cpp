#include "loginsessions.h"

#include "databasepool.h"
#include "storage.h"

namespace {
// Expired logins are cleared out of the database after this many logins through one server.
constexpr int LoginsPerSweep = 1000;
} // namespace

LoginSessions::LoginSessions(DatabasePool& database, qint64 lifetimeMs, bool inDatabase)
    : m_database(database)
    , m_lifetimeMs(lifetimeMs)
    , m_inDatabase(inDatabase)
    , m_memory(lifetimeMs)
{
}

bool LoginSessions::loggedIn(const QString& peer, const QString& userId)
{
    if (!m_inDatabase) {
        m_memory.loggedIn(peer, userId);
        return true;
    }
    const bool sweep = m_loginsSinceSweep.fetchAndAddRelaxed(1) + 1 >= LoginsPerSweep;
    if (sweep)
        m_loginsSinceSweep.storeRelaxed(0);
    bool stored = false;
    const bool ran = m_database.write([&](Storage& storage) {
        stored = storage.recordLogin(peer, userId, m_lifetimeMs) && !storage.failed();
        if (stored && sweep)
            storage.dropExpiredLogins();
    });
    return ran && stored;
}

bool LoginSessions::isLoggedIn(Storage& storage, const QString& peer, const QString& userId) const
{
    return m_inDatabase ? storage.hasLogin(peer, userId) : m_memory.isLoggedIn(peer, userId);
}

QString LoginSessions::latestLogin(Storage& storage, const QString& peer) const
{
    return m_inDatabase ? storage.latestLogin(peer) : m_memory.latestLogin(peer);
}

void LoginSessions::forget(const QString& userId)
{
    if (!m_inDatabase)
        m_memory.forget(userId);
}
