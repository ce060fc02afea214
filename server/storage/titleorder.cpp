#include "titleorder.h"

#include <QDateTime>
#include <QMutexLocker>

TitleOrder::TitleOrder(qint64 rebuildIntervalMs)
    : m_rebuildIntervalMs(rebuildIntervalMs)
{
}

std::shared_ptr<const TitleOrder::Snapshot> TitleOrder::current(qint64 changes, qint64 maxId, const Reader& read)
{
    if (maxId < 0 || maxId > MaxId)
        return nullptr;
    {
        QMutexLocker lock(&m_mutex);
        // A snapshot above the database's highest ID was read from another database or before books
        // were deleted whose IDs may be given again.
        if (m_snapshot && m_snapshot->changes == changes && m_snapshot->maxId <= maxId)
            return m_snapshot;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (m_reading || (m_readAtMs != 0 && now - m_readAtMs < m_rebuildIntervalMs))
            return nullptr;
        m_reading = true;
        m_readAtMs = now;
    }
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->changes = changes;
    snapshot->maxId = maxId;
    bool fits = read(snapshot->idByPlace);
    if (fits) {
        snapshot->placeById.assign(size_t(maxId) + 1, -1);
        for (size_t place = 0; place < snapshot->idByPlace.size() && fits; ++place) {
            const qint64 id = snapshot->idByPlace[place];
            fits = id >= 0 && id <= maxId;
            if (fits)
                snapshot->placeById[size_t(id)] = qint32(place);
        }
    }
    QMutexLocker lock(&m_mutex);
    m_reading = false;
    if (!fits)
        return nullptr;
    m_snapshot = std::move(snapshot);
    return m_snapshot;
}
