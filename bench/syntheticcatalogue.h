#pragma once

#include <QStringList>

// A catalogue of any size that the generator writes and the load generator queries without reading
// it back: book i is a pure function of i and of the catalogue size. Each title carries one made-up
// word drawn from a vocabulary that grows with the catalogue, so a search for one of those words
// matches about the same handful of books at 10k as at 1M books.
class SyntheticCatalogue
{
public:
    explicit SyntheticCatalogue(qint64 size);

    qint64 size() const { return m_size; }

    // The header row and the rows of the CSV that the server imports.
    static QStringList csvHeader();
    QStringList csvRow(qint64 index) const;

    // The book as a search reply row carries it, state "on the shelf".
    QStringList bookRecord(qint64 index) const;

    static QString number(qint64 index);
    // A title word that matches about titlesPerWord() books; any k is valid.
    QString searchWord(qint64 k) const;
    static constexpr qint64 titlesPerWord = 16;

    // One CSV line (with its newline) of already split values: fields holding a comma, a quote or a
    // line break are quoted, quotes doubled.
    static QByteArray csvLine(const QStringList& values);

    // "10000", "10k", "1M" as a count; -1 for anything else or a count below 1.
    static qint64 parseSize(const QString& text);

private:
    qint64 vocabularySize() const;
    static QString word(qint64 k);

    qint64 m_size;
};
