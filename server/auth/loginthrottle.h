#pragma once

#include "vocabulary.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class DatabasePool;

// Slows down password guessing. Every login attempt is counted before its password is looked at, so
// however many arrive at once, at most the allowed number are verified. Three counters run side by side:
// one address guessing one account, one address across accounts (password spraying), and one account
// across addresses. A counter that reaches its limit locks for a while, and every further attempt that
// gets through doubles the time (up to an hour); an hour without attempts clears a counter.
//
// The account-wide counter stops guessing from many addresses, but anybody could use it to lock the
// owner out. A login from a device the account logged in on before (it presents the device token the
// server gave it) is therefore not held by that counter, only by its address's. A successful login
// clears the counters of its account and of its address and account, and takes its own attempt back
// from its address's (which a sprayer with one account of their own could otherwise clear).
class LoginThrottle
{
public:
    struct Limits {
        int perAddressAndAccount = 5;
        int perAddress = 20;
        int perAccount = 20;
        qint64 lockoutMs = 30000;
    };

    struct Verdict {
        bool admitted = true;
        Refusal refusal = Refusal::TooManyAttempts; // why, when not admitted
        int retryAfterSeconds = 0;
    };

    // One counter's state, and the one rule that moves it: an attempt while it is locked is refused
    // and not counted; otherwise it counts, and reaching the limit locks the attempts after it, for
    // twice as long with every attempt beyond the limit.
    struct Count {
        int attempts = 0;
        qint64 lockedUntilMs = 0;
        qint64 lastAtMs = 0;
    };
    struct Rule {
        int limit;
        qint64 lockoutMs;
        qint64 nowMs;
    };
    // The state after an attempt, and whether the attempt is let through.
    static std::pair<Count, bool> step(Count count, const Rule& rule);

    // Where the counters live: memory, or a database shared by several servers. add() reads, steps and
    // writes a counter as one atomic change, so simultaneous attempts are counted one after another.
    class Counters
    {
    public:
        virtual ~Counters() = default;
        // The counter after the attempt and whether it is admitted; nullopt when it could not be counted.
        virtual std::optional<std::pair<Count, bool>> add(const QString& key, const Rule& rule) = 0;
        virtual void takeBack(const QString& key) = 0;
        virtual void clear(const QString& key) = 0;
        virtual void sweep(qint64 quietSinceMs, qint64 nowMs) = 0;
    };

    using Clock = std::function<qint64()>;
    LoginThrottle(Limits limits, Clock now, std::unique_ptr<Counters> counters);
    ~LoginThrottle();

    // `knownDevice`: the login presents a valid device token of the account.
    Verdict admit(const QString& peer, const QString& account, bool knownDevice = false);
    void succeeded(const QString& peer, const QString& account);
    // Forgets quiet counters; run from a timer, not from a request.
    void sweep();

    static std::unique_ptr<Counters> inMemory();
    static std::unique_ptr<Counters> inDatabase(DatabasePool& database);

private:
    Limits m_limits;
    Clock m_now;
    std::unique_ptr<Counters> m_counters;
};
