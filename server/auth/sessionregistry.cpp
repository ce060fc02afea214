#include "sessionregistry.h"

SessionRegistry::SessionRegistry(qint64 lifetimeMs)
    : m_lifetimeMs(lifetimeMs)
{
}

void SessionRegistry::loggedIn(const QString& peer, const QString& userId)
{
    QMutexLocker lock(&m_mutex);
    Peer& entry = m_peers[peer];
    entry.accounts.insert(userId, QDeadlineTimer(m_lifetimeMs));
    entry.latest = userId;
    if (++m_loginsSinceSweep >= 1000)
        sweep();
}

bool SessionRegistry::isLoggedIn(const QString& peer, const QString& userId) const
{
    QMutexLocker lock(&m_mutex);
    const auto peerIt = m_peers.constFind(peer);
    if (peerIt == m_peers.cend())
        return false;
    const auto it = peerIt->accounts.constFind(userId);
    return it != peerIt->accounts.cend() && !it->hasExpired();
}

QString SessionRegistry::latestLogin(const QString& peer) const
{
    QMutexLocker lock(&m_mutex);
    const auto peerIt = m_peers.constFind(peer);
    if (peerIt == m_peers.cend() || peerIt->latest.isEmpty())
        return {};
    const auto it = peerIt->accounts.constFind(peerIt->latest);
    if (it == peerIt->accounts.cend() || it->hasExpired())
        return {};
    return peerIt->latest;
}

void SessionRegistry::forget(const QString& userId)
{
    QMutexLocker lock(&m_mutex);
    for (Peer& entry : m_peers) {
        entry.accounts.remove(userId);
        if (entry.latest == userId)
            entry.latest.clear();
    }
}

// Drops expired logins so that the table does not grow with every address ever seen.
void SessionRegistry::sweep()
{
    m_loginsSinceSweep = 0;
    for (auto peerIt = m_peers.begin(); peerIt != m_peers.end();) {
        for (auto it = peerIt->accounts.begin(); it != peerIt->accounts.end();)
            it = it->hasExpired() ? peerIt->accounts.erase(it) : std::next(it);
        peerIt = peerIt->accounts.isEmpty() ? m_peers.erase(peerIt) : std::next(peerIt);
    }
}
