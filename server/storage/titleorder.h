#pragma once

#include <QMutex>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

// Every book's place in title order (title, then number), kept in memory for the connections of one
// server to its database.
//
// A text that thousands of titles hold is answered in title order. Walking the title index to the end
// of the page costs in proportion to how far down the first thousand matches lie: most of a million
// entries when they sit together at its end (a word inside a common series title). With the places
// known, the matches the search index finds are put in title order without reading the others.
//
// The places stay right while books are only added: a book added since (by this server or another on
// the same PostgreSQL database) has no place and is looked up apart. Deleting a book or changing a
// title or number moves the count that a trigger keeps (books_order_changes); a snapshot of another
// count is not used, and the order is read again at most once every rebuildIntervalMs meanwhile, so a
// run of deletions does not read it again each time.
class TitleOrder
{
public:
    struct Snapshot {
        qint64 changes = 0;
        qint64 maxId = 0; // the highest ID it places
        std::vector<qint32> placeById; // -1 for an ID that was no book's
        std::vector<qint64> idByPlace;

        // The place of a book no newer than the snapshot, else -1.
        qint32 place(qint64 id) const { return id >= 0 && id <= maxId ? placeById[size_t(id)] : -1; }
    };
    // Fills the IDs of every book in title order, within the caller's read transaction; false on failure.
    using Reader = std::function<bool(std::vector<qint64>& idsInOrder)>;

    explicit TitleOrder(qint64 rebuildIntervalMs = 30000);

    // The snapshot for a database whose count is `changes` and whose highest book ID is `maxId`, read
    // now when none fits and none was read lately; null when there is none to use (the caller walks).
    std::shared_ptr<const Snapshot> current(qint64 changes, qint64 maxId, const Reader& read);

    // Above this many IDs the places are not kept (the walk serves such a database).
    static constexpr qint64 MaxId = 50'000'000;

private:
    const qint64 m_rebuildIntervalMs;
    QMutex m_mutex;
    std::shared_ptr<const Snapshot> m_snapshot;
    qint64 m_readAtMs = 0;
    bool m_reading = false;
};
