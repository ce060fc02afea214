#include "storage.h"

#include <QHash>
#include <QSqlQuery>

namespace {

const QString bookColumns = QStringLiteral(
    "b.title, b.author, b.type, b.publisher, b.year, b.number, b.permission, "
    "CASE WHEN EXISTS (SELECT 1 FROM loans l WHERE l.book_number = b.number) THEN 1 ELSE 0 END");

BookRow bookFrom(const QSqlQuery& q)
{
    return {q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
            q.value(4).toString(), q.value(5).toString(), q.value(6).toString(), q.value(7).toInt() != 0};
}

QString likePattern(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

// One phrase of an FTS5 query, restricted to a column. With the trigram tokenizer a phrase matches
// wherever its text occurs as a substring, ignoring case.
QString ftsPhrase(const QString& column, const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return column + QStringLiteral(" : \"") + quoted + QLatin1Char('"');
}

// Up to this many matches of a trigram index are fetched and sorted; beyond it the books are walked
// in title order instead.
constexpr int IndexedMatchLimit = 3000;

} // namespace

QString Storage::substringCondition(const QString& column, const QString& text, QVariantList& values) const
{
    values.append(likePattern(text));
    const QString like = m_sqlite ? QStringLiteral(" LIKE ") : QStringLiteral(" ILIKE ");
    return QStringLiteral(" AND b.") + column + like + QStringLiteral("? ESCAPE '\\'");
}

QList<BookRow> Storage::searchBooks(const BookFilter& filter, int limit)
{
    struct Text {
        QString column, text, index;
    };
    const Text texts[] = {
        {QStringLiteral("title"), filter.title, QStringLiteral("books_title_fts")},
        {QStringLiteral("author"), filter.author, QStringLiteral("books_fts")},
        {QStringLiteral("type"), filter.type, QStringLiteral("books_fts")},
        {QStringLiteral("publisher"), filter.publisher, QStringLiteral("books_fts")},
    };

    // Which trigram index, if any, narrows the search. An index yields its matches in no useful
    // order, so every match is fetched and sorted: cheap for a few thousand, slow for a common text.
    // A common text is better served by walking the books in title order and testing each until the
    // page is full. The count of matches, stopped just past the threshold, decides. The index cannot
    // answer a text of fewer than three characters (two-character Chinese titles are common); those
    // are always tested row by row.
    QString chosenIndex;
    QString chosenMatch;
    if (m_sqlite) {
        QHash<QString, QStringList> phrases;
        for (const Text& t : texts) {
            if (!t.text.isEmpty() && t.text.toUcs4().size() >= 3)
                phrases[t.index].append(ftsPhrase(t.column, t.text));
        }
        qint64 fewest = IndexedMatchLimit + 1;
        for (auto it = phrases.cbegin(); it != phrases.cend(); ++it) {
            const QString match = it.value().join(QStringLiteral(" AND "));
            const qint64 count = scalar(QStringLiteral("SELECT COUNT(*) FROM (SELECT rowid FROM ") + it.key()
                                            + QStringLiteral(" WHERE ") + it.key()
                                            + QStringLiteral(" MATCH ? LIMIT ?) AS hits"),
                                        {match, IndexedMatchLimit + 1});
            if (count == 0)
                return {};
            if (count < fewest) {
                fewest = count;
                chosenIndex = it.key();
                chosenMatch = match;
            }
        }
    }

    QString conditions;
    QVariantList values;
    for (const Text& t : texts) {
        if (t.text.isEmpty() || (t.index == chosenIndex && t.text.toUcs4().size() >= 3))
            continue;
        conditions += substringCondition(t.column, t.text, values);
    }
    if (!filter.number.isEmpty()) {
        conditions += QStringLiteral(" AND b.number = ?");
        values.append(filter.number);
    }
    if (filter.yearFrom) {
        conditions += QStringLiteral(" AND b.year_value >= ?");
        values.append(*filter.yearFrom);
    }
    if (filter.yearTo) {
        conditions += QStringLiteral(" AND b.year_value <= ?");
        values.append(*filter.yearTo);
    }
    if (!chosenIndex.isEmpty()) {
        conditions += QStringLiteral(" AND b.id IN (SELECT rowid FROM ") + chosenIndex + QStringLiteral(" WHERE ")
            + chosenIndex + QStringLiteral(" MATCH ?)");
        values.append(chosenMatch);
    }
    values.append(limit);
    QList<BookRow> rows;
    select(QStringLiteral("SELECT ") + bookColumns + QStringLiteral(" FROM books b WHERE 1 = 1") + conditions
               + QStringLiteral(" ORDER BY b.title, b.number LIMIT ?"),
           values, [&](const QSqlQuery& q) { rows.append(bookFrom(q)); });
    return rows;
}

std::optional<BookRow> Storage::book(const QString& number)
{
    std::optional<BookRow> found;
    select(QStringLiteral("SELECT ") + bookColumns + QStringLiteral(" FROM books b WHERE b.number = ?"), {number},
           [&](const QSqlQuery& q) { found = bookFrom(q); });
    return found;
}

bool Storage::insertBook(const BookRow& b)
{
    const std::optional<int> year = yearValue(b.year);
    return change(QStringLiteral("INSERT INTO books (number, title, author, type, publisher, year, year_value, "
                                 "permission) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                  {b.number, b.title, b.author, b.type, b.publisher, b.year, year ? QVariant(*year) : QVariant(),
                   b.permission});
}

bool Storage::deleteBook(const QString& number)
{
    int rows = 0;
    change(QStringLiteral("DELETE FROM books WHERE number = ?"), {number}, &rows);
    return rows == 1;
}

qint64 Storage::bookCount()
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM books"));
}
