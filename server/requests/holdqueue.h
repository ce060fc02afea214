#pragma once

#include "storage.h"

#include <QDateTime>

// The queue of readers waiting for one copy, inside the write that changes the copy.
//
// While the copy is out, every hold waits (no window). Once it is back, the holds get pick-up windows
// one after another in queue order, each `holdDays` long: the copy is kept for the reader whose window
// holds the present moment, and an unclaimed copy passes to the next reader when a window ends, or
// back to the shelf after the last, without anyone touching the rows. A hold whose window has ended
// has expired; settle() removes it.
class HoldQueue
{
public:
    HoldQueue(Storage& storage, const QString& bookNumber, const QDateTime& now, int holdDays);

    // Brings the stored queue up to date for a copy that is out (`lent`) or on the shelf: drops
    // expired holds and lays out the windows. False when the database failed.
    bool settle(bool lent);

    // After settle(): the holds still waiting, in queue order; the reader the copy is kept for now
    // (empty when none, or while it is out); the hold of a reader, if any.
    const QList<HoldRow>& holds() const { return m_holds; }
    QString holder() const;
    std::optional<HoldRow> holdOf(const QString& accountId) const;

    // Whether a stored hold still counts at `now` (its window, if any, has not ended).
    static bool isLive(const HoldRow& hold, const QString& nowStamp);

private:
    Storage& m_storage;
    QString m_number;
    QDateTime m_now;
    int m_holdDays;
    bool m_lent = false;
    QList<HoldRow> m_holds;
};
