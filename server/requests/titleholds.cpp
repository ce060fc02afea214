#include "titleholds.h"

#include "serverclock.h"

namespace {

// A hold waiting for the title and where it waits: the earliest per copy that is not the one kept
// for its reader now.
using Waiting = TitleHoldRow;

QList<Waiting> waitingFor(Storage& storage, const QString& isbn, const QString& nowStamp)
{
    QList<Waiting> waiting;
    QString copy;
    bool first = true;
    for (const TitleHoldRow& row : storage.holdsOnTitle(isbn)) {
        if (!HoldQueue::isLive(row.hold, nowStamp))
            continue;
        if (row.hold.number != copy) {
            copy = row.hold.number;
            first = true;
        }
        // The first live hold of a copy on the shelf is the one the copy is kept for.
        const bool kept = first && !row.copyLent;
        first = false;
        if (!kept)
            waiting.append(row);
    }
    return waiting;
}

} // namespace

namespace TitleHolds {

bool offer(Storage& storage, const BookRow& copy, HoldQueue& queue, const QDateTime& now, int holdDays)
{
    if (copy.isbn.isEmpty() || !queue.holds().isEmpty())
        return !storage.failed();
    const QList<Waiting> waiting = waitingFor(storage, copy.isbn, ServerClock::stamp(now));
    const Waiting* next = nullptr;
    for (const Waiting& w : waiting) {
        if (w.hold.number != copy.number && (!next || w.hold.id < next->hold.id))
            next = &w;
    }
    if (!next)
        return !storage.failed();
    const QString from = next->hold.number;
    const bool fromLent = next->copyLent;
    if (!storage.moveHold(next->hold.id, copy.number))
        return false;
    // The queue it left closes up; the copy it came to is kept for its reader from now.
    HoldQueue source(storage, from, now, holdDays);
    return source.settle(fromLent) && queue.settle(false);
}

int placeOf(Storage& storage, const HoldRow& hold, const QString& isbn, const QString& nowStamp)
{
    int place = 1;
    for (const Waiting& w : waitingFor(storage, isbn, nowStamp)) {
        if (w.hold.id < hold.id)
            ++place;
    }
    return place;
}

} // namespace TitleHolds
