#include "trigramsample.h"

#include <QDateTime>
#include <QMutexLocker>

#include <algorithm>

namespace {

quint64 packed(char32_t a, char32_t b, char32_t c)
{
    // Code points fit in 21 bits.
    return (quint64(a) << 42) | (quint64(b) << 21) | quint64(c);
}

} // namespace

TrigramSample::TrigramSample(qint64 keptForMs)
    : m_keptForMs(keptForMs)
{
}

std::vector<quint64> TrigramSample::trigramsOf(const QString& text)
{
    const std::u32string chars = text.toStdU32String();
    std::vector<quint64> trigrams;
    for (size_t i = 0; i + 3 <= chars.size(); ++i)
        trigrams.push_back(packed(chars[i], chars[i + 1], chars[i + 2]));
    return trigrams;
}

bool TrigramSample::indexable(const QString& trigram)
{
    const std::u32string chars = trigram.toStdU32String();
    return chars.size() == 3
        && std::all_of(chars.begin(), chars.end(), [](char32_t c) { return QChar::isLetterOrNumber(c); });
}

qint64 TrigramSample::Snapshot::rowsHolding(const QString& column, const QString& trigram) const
{
    const std::vector<quint64> trigrams = trigramsOf(trigram);
    if (trigrams.size() != 1)
        return 0;
    return m_rows.value(column).value(trigrams.front());
}

void TrigramSample::Snapshot::add(const QString& column, const QString& text)
{
    std::vector<quint64> trigrams = trigramsOf(text);
    std::sort(trigrams.begin(), trigrams.end());
    trigrams.erase(std::unique(trigrams.begin(), trigrams.end()), trigrams.end());
    QHash<quint64, qint32>& rows = m_rows[column];
    for (const quint64 trigram : trigrams)
        ++rows[trigram];
}

std::shared_ptr<const TrigramSample::Snapshot> TrigramSample::current(const Reader& read)
{
    {
        QMutexLocker lock(&m_mutex);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (m_reading || (m_snapshot && now - m_readAtMs < m_keptForMs))
            return m_snapshot;
        m_reading = true;
        m_readAtMs = now;
    }
    auto snapshot = std::make_shared<Snapshot>();
    const bool filled = read(*snapshot);
    QMutexLocker lock(&m_mutex);
    m_reading = false;
    if (filled)
        m_snapshot = std::move(snapshot);
    return m_snapshot;
}
