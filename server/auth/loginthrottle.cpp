#include "loginthrottle.h"

namespace {
constexpr qint64 MaxLockoutMs = 3600 * 1000;
constexpr qint64 ForgetAfterMs = 3600 * 1000; // a quiet hour clears an address's failures
} // namespace

LoginThrottle::LoginThrottle(int failuresAllowed, qint64 lockoutMs)
    : m_failuresAllowed(failuresAllowed)
    , m_lockoutMs(lockoutMs)
{
}

bool LoginThrottle::isLockedOut(const QString& peer) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_records.constFind(peer);
    return it != m_records.cend() && !it->lockedUntil.hasExpired();
}

void LoginThrottle::failed(const QString& peer)
{
    QMutexLocker lock(&m_mutex);
    if (m_records.size() > 100000) {
        for (auto it = m_records.begin(); it != m_records.end();)
            it = it->forgetAt.hasExpired() ? m_records.erase(it) : std::next(it);
    }
    Record& record = m_records[peer];
    if (record.forgetAt.hasExpired())
        record = Record{};
    ++record.failures;
    record.forgetAt.setRemainingTime(ForgetAfterMs);
    const int beyond = record.failures - m_failuresAllowed;
    if (beyond >= 0) {
        const qint64 lockout = qMin(MaxLockoutMs, m_lockoutMs << qMin(beyond, 20));
        record.lockedUntil.setRemainingTime(lockout);
    }
}

void LoginThrottle::succeeded(const QString& peer)
{
    QMutexLocker lock(&m_mutex);
    m_records.remove(peer);
}
