#include "holdqueue.h"

#include "serverclock.h"

HoldQueue::HoldQueue(Storage& storage, const QString& bookNumber, const QDateTime& now, int holdDays)
    : m_storage(storage)
    , m_number(bookNumber)
    , m_now(now)
    , m_holdDays(holdDays)
{
}

bool HoldQueue::isLive(const HoldRow& hold, const QString& nowStamp)
{
    return hold.readyUntil.isEmpty() || hold.readyUntil >= nowStamp;
}

bool HoldQueue::settle(bool lent)
{
    m_lent = lent;
    const QString now = ServerClock::stamp(m_now);
    m_holds.clear();
    // Each window starts where the one before it ends. A window already laid out is kept while it
    // still ends after that point (a reader ahead who cancels does not shorten anyone's time).
    QDateTime end = m_now;
    for (HoldRow& hold : m_storage.holdsOn(m_number)) {
        if (!isLive(hold, now)) {
            m_storage.deleteHold(hold.id);
            continue;
        }
        std::optional<QString> window; // none while the copy is out
        if (!lent) {
            const QDateTime stored = ServerClock::fromStamp(hold.readyUntil);
            end = stored.isValid() && stored > end ? stored : end.addDays(m_holdDays);
            window = ServerClock::stamp(end);
        }
        if (window.value_or(QString()) != hold.readyUntil) {
            m_storage.setHoldWindow(hold.id, window);
            hold.readyUntil = window.value_or(QString());
        }
        m_holds.append(hold);
    }
    return !m_storage.failed();
}

QString HoldQueue::holder() const
{
    return m_lent || m_holds.isEmpty() ? QString() : m_holds.first().accountId;
}

std::optional<HoldRow> HoldQueue::holdOf(const QString& accountId) const
{
    for (const HoldRow& hold : m_holds) {
        if (hold.accountId == accountId)
            return hold;
    }
    return std::nullopt;
}
