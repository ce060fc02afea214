#pragma once

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>

// How many rows of a trigram table hold each trigram, kept for the connections to one database.
//
// A row that holds a text holds every trigram of it, so any of them finds the rows to test. Reading a
// trigram's postings costs in proportion to the rows that hold it: a search that asks only for the
// rarest two reads a few hundred entries where the trigrams of the whole text read tens of thousands.
// The counts only steer that choice, never what is found, so a count may be out of date; a small one
// is cheap to take and is taken again every time, so a trigram that new books made common is seen so.
class TrigramCounts
{
public:
    // The number of rows of the table that hold the trigram; asked for a count not kept.
    using Counter = std::function<qint64(const QString& trigram)>;

    // The trigrams to look the text up by: the rarest, and the rarest of those that do not overlap it
    // (rows that hold the one often hold an overlapping one too), or else the next rarest. None for a
    // text under three characters. A long text is judged by trigrams spread over its whole length.
    QStringList rarest(const QString& table, const QString& text, const Counter& count);

private:
    qint64 rows(const QString& table, const QString& trigram, const Counter& count);

    struct Kept {
        qint64 rows = 0;
        qint64 countedAtMs = 0;
    };
    QMutex m_mutex;
    QHash<QString, Kept> m_kept; // by table, '\0', trigram
};
