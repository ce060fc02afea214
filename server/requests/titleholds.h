#pragma once

#include "holdqueue.h"

// Holds on a title. Copies that share an ISBN are one title: a hold placed on any of them while all
// are out waits for the title, and the first copy to come back is kept for the first reader waiting
// (the hold moves to that copy). Copies without an ISBN keep their own queues.
namespace TitleHolds {

// A copy on the shelf (its queue settled) that nobody waits for is kept for the first reader waiting
// for its title elsewhere: on a copy still out, or behind the reader another copy is kept for. False
// when the database failed.
bool offer(Storage& storage, const BookRow& copy, HoldQueue& queue, const QDateTime& now, int holdDays);

// The reader's place among the readers waiting for the title (1 = next), for a hold not yet kept.
int placeOf(Storage& storage, const HoldRow& hold, const QString& isbn, const QString& nowStamp);

} // namespace TitleHolds
