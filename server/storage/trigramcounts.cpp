#include "trigramcounts.h"

#include <QDateTime>
#include <QMutexLocker>

#include <algorithm>
#include <vector>

namespace {

// Below this many rows a count costs about as much as looking it up would save.
constexpr qint64 KeptFromRows = 100;
// A kept count is taken again after this long: a catalogue changes, but not by the minute.
constexpr qint64 KeptForMs = 10 * 60 * 1000;
// Bounds the memory of a catalogue of many scripts; when full, counting starts afresh.
constexpr qsizetype MaxKept = 200000;
// A long text is judged by this many of its trigrams.
constexpr size_t MaxJudged = 16;

} // namespace

QStringList TrigramCounts::rarest(const QString& table, const QString& text, const Counter& count)
{
    const std::u32string chars = text.toStdU32String();
    if (chars.size() < 3)
        return {};
    struct Trigram {
        size_t at;
        QString text;
        qint64 rows;
    };
    std::vector<Trigram> judged;
    const size_t positions = chars.size() - 2;
    const size_t judgedCount = std::min(positions, MaxJudged);
    for (size_t i = 0; i < judgedCount; ++i) {
        // Evenly spread, the first and the last included.
        const size_t at = judgedCount == 1 ? 0 : i * (positions - 1) / (judgedCount - 1);
        const QString trigram = QString::fromStdU32String(chars.substr(at, 3));
        const bool seen =
            std::any_of(judged.begin(), judged.end(), [&](const Trigram& t) { return t.text == trigram; });
        if (!seen)
            judged.push_back({at, trigram, rows(table, trigram, count)});
    }
    const auto fewerRows = [](const Trigram& a, const Trigram& b) { return a.rows < b.rows; };
    std::stable_sort(judged.begin(), judged.end(), fewerRows);
    const Trigram& first = judged.front();
    QStringList chosen{first.text};
    const auto apart = std::find_if(judged.begin() + 1, judged.end(), [&](const Trigram& t) {
        return (t.at > first.at ? t.at - first.at : first.at - t.at) >= 3;
    });
    if (apart != judged.end())
        chosen.append(apart->text);
    else if (judged.size() > 1)
        chosen.append(judged[1].text);
    return chosen;
}

qint64 TrigramCounts::rows(const QString& table, const QString& trigram, const Counter& count)
{
    const QString key = table + QChar(0) + trigram;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        QMutexLocker lock(&m_mutex);
        const auto kept = m_kept.constFind(key);
        if (kept != m_kept.cend() && now - kept->countedAtMs < KeptForMs)
            return kept->rows;
    }
    // Counted outside the lock: two searches may count the same trigram at once, which is harmless.
    const qint64 rows = count(trigram);
    if (rows >= KeptFromRows) {
        QMutexLocker lock(&m_mutex);
        if (m_kept.size() >= MaxKept)
            m_kept.clear();
        m_kept.insert(key, {rows, now});
    }
    return rows;
}
