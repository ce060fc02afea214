#include "loginthrottle.h"

#include "databasepool.h"
#include "storage.h"

namespace {

constexpr qint64 MaxLockoutMs = 3600 * 1000;
constexpr qint64 ForgetAfterMs = 3600 * 1000; // a quiet hour clears a counter
// Counters kept in memory at most; beyond it new ones are refused until the sweep has made room, so
// that a flood of invented names cannot grow the server without bound.
constexpr int MaxCountersInMemory = 200000;

class MemoryCounters : public LoginThrottle::Counters
{
public:
    std::optional<std::pair<LoginThrottle::Count, bool>> add(const QString& key,
                                                             const LoginThrottle::Rule& rule) override
    {
        QMutexLocker lock(&m_mutex);
        auto it = m_counts.find(key);
        if (it == m_counts.end()) {
            if (m_counts.size() >= MaxCountersInMemory)
                return std::nullopt;
            it = m_counts.insert(key, {});
        }
        const auto result = LoginThrottle::step(*it, rule);
        *it = result.first;
        return result;
    }

    void takeBack(const QString& key) override
    {
        QMutexLocker lock(&m_mutex);
        const auto it = m_counts.find(key);
        if (it != m_counts.end() && it->attempts > 0)
            --it->attempts;
    }

    void clear(const QString& key) override
    {
        QMutexLocker lock(&m_mutex);
        m_counts.remove(key);
    }

    void sweep(qint64 quietSinceMs, qint64 nowMs) override
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_counts.begin(); it != m_counts.end();) {
            const bool quiet = it->lastAtMs < quietSinceMs && it->lockedUntilMs <= nowMs;
            it = quiet ? m_counts.erase(it) : std::next(it);
        }
    }

private:
    QMutex m_mutex;
    QHash<QString, LoginThrottle::Count> m_counts;
};

class DatabaseCounters : public LoginThrottle::Counters
{
public:
    explicit DatabaseCounters(DatabasePool& database)
        : m_database(database)
    {
    }

    std::optional<std::pair<LoginThrottle::Count, bool>> add(const QString& key,
                                                             const LoginThrottle::Rule& rule) override
    {
        std::optional<std::pair<LoginThrottle::Count, bool>> result;
        const bool ran = m_database.write([&](Storage& storage) {
            Storage::WriteTransaction transaction(storage);
            const std::optional<AttemptCount> stored = storage.lockedAttempts(key);
            if (!stored)
                return;
            const auto stepped = LoginThrottle::step({stored->attempts, stored->lockedUntilMs, stored->lastAtMs}, rule);
            const LoginThrottle::Count& c = stepped.first;
            if (storage.putAttempts(key, {c.attempts, c.lockedUntilMs, c.lastAtMs}) && transaction.commit())
                result = stepped;
        });
        return ran ? result : std::nullopt;
    }

    void takeBack(const QString& key) override
    {
        m_database.write([&](Storage& storage) { storage.takeBackAttempt(key); });
    }

    void clear(const QString& key) override
    {
        m_database.write([&](Storage& storage) { storage.clearAttempts(key); });
    }

    void sweep(qint64 quietSinceMs, qint64 nowMs) override
    {
        m_database.write([&](Storage& storage) { storage.removeQuietAttempts(quietSinceMs, nowMs); });
    }

private:
    DatabasePool& m_database;
};

} // namespace

std::unique_ptr<LoginThrottle::Counters> LoginThrottle::inMemory()
{
    return std::make_unique<MemoryCounters>();
}

std::unique_ptr<LoginThrottle::Counters> LoginThrottle::inDatabase(DatabasePool& database)
{
    return std::make_unique<DatabaseCounters>(database);
}

LoginThrottle::LoginThrottle(Limits limits, Clock now, std::unique_ptr<Counters> counters)
    : m_limits(limits)
    , m_now(std::move(now))
    , m_counters(std::move(counters))
{
}

LoginThrottle::~LoginThrottle() = default;

std::pair<LoginThrottle::Count, bool> LoginThrottle::step(Count count, const Rule& rule)
{
    if (count.lockedUntilMs > rule.nowMs)
        return {count, false};
    if (count.lastAtMs < rule.nowMs - ForgetAfterMs)
        count.attempts = 0;
    ++count.attempts;
    count.lastAtMs = rule.nowMs;
    const int beyond = count.attempts - rule.limit;
    if (beyond >= 0)
        count.lockedUntilMs = rule.nowMs + qMin(MaxLockoutMs, rule.lockoutMs << qMin(beyond, 20));
    return {count, true};
}

LoginThrottle::Verdict LoginThrottle::admit(const QString& peer, const QString& account, bool knownDevice)
{
    struct Check {
        QString key;
        int limit;
        Refusal refusal;
    };
    // The most particular counter first: a locked pair refuses before anything else is counted.
    const Check checks[] = {
        {QStringLiteral("pair:") + peer + QLatin1Char('\n') + account, m_limits.perAddressAndAccount,
         Refusal::TooManyAttempts},
        {QStringLiteral("address:") + peer, m_limits.perAddress, Refusal::TooManyAttemptsFromAddress},
        {QStringLiteral("account:") + account, m_limits.perAccount, Refusal::TooManyAttemptsForAccount},
    };
    const qint64 now = m_now();
    const int counted = knownDevice ? 2 : 3;
    for (int i = 0; i < counted; ++i) {
        const auto result = m_counters->add(checks[i].key, {checks[i].limit, m_limits.lockoutMs, now});
        if (!result || !result->second) {
            // Attempts already counted for this login are taken back: it is not verified.
            for (int j = 0; j < i; ++j)
                m_counters->takeBack(checks[j].key);
            if (!result)
                return {false, Refusal::ServerError, 0};
            return {false, checks[i].refusal, int((result->first.lockedUntilMs - now + 999) / 1000)};
        }
    }
    return {};
}

void LoginThrottle::succeeded(const QString& peer, const QString& account)
{
    m_counters->clear(QStringLiteral("pair:") + peer + QLatin1Char('\n') + account);
    m_counters->clear(QStringLiteral("account:") + account);
    m_counters->takeBack(QStringLiteral("address:") + peer);
}

void LoginThrottle::sweep()
{
    const qint64 now = m_now();
    m_counters->sweep(now - ForgetAfterMs, now);
}
