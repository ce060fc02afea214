#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// How many books hold each trigram of the search forms, estimated from a sample of the books and kept
// for the connections of one server to a PostgreSQL database.
//
// pg_trgm looks a text up by every trigram in it. For a word inside a title that means the postings of
// trigrams that ten thousand titles hold: 1 to 2 ms of a 3 ms search at a million books. Asked for
// the text's two rarest trigrams, with the whole text then tested on the rows they find, the same
// search reads a few hundred entries (0.3 ms). pg_trgm cannot count a trigram's rows without reading
// them, so the server counts the trigrams of about SampleRows books instead, read at once by page
// (a few tens of milliseconds), and counts again after keptForMs. The counts only steer which trigrams
// are asked for, never what is found.
class TrigramSample
{
public:
    static constexpr int SampleRows = 10000;

    struct Snapshot {
        // Sampled texts of a column that hold the trigram; 0 for one no sampled text holds.
        qint64 rowsHolding(const QString& column, const QString& trigram) const;
        // Counts each trigram of the text once.
        void add(const QString& column, const QString& text);

    private:
        QHash<QString, QHash<quint64, qint32>> m_rows; // by column, then by the trigram's code points
    };
    // Fills the snapshot from the sample, within the caller's read; false on failure.
    using Reader = std::function<bool(Snapshot&)>;

    explicit TrigramSample(qint64 keptForMs = 10 * 60 * 1000);

    // The counts, read now when there are none or they are older than keptForMs (the others go on
    // with the old ones meanwhile); null while there are none.
    std::shared_ptr<const Snapshot> current(const Reader& read);

    // The trigrams of the text (3 characters each, in order), as the sample counts them.
    static std::vector<quint64> trigramsOf(const QString& text);
    // Whether pg_trgm finds a `LIKE '%t%'` of the trigram by that trigram: it indexes the trigrams of
    // words, letters and digits only.
    static bool indexable(const QString& trigram);

private:
    const qint64 m_keptForMs;
    QMutex m_mutex;
    std::shared_ptr<const Snapshot> m_snapshot;
    qint64 m_readAtMs = 0;
    bool m_reading = false;
};
