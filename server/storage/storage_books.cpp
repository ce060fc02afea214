#include "storage.h"

#include "serverclock.h"

#include <QHash>
#include <QSqlQuery>

#include <algorithm>

namespace {

const QString bookColumns = QStringLiteral(
    "b.title, b.author, b.type, b.publisher, b.year, b.number, b.permission, "
    "CASE WHEN EXISTS (SELECT 1 FROM loans l WHERE l.book_number = b.number) THEN 1 ELSE 0 END, "
    "(SELECT MAX(h.ready_until) FROM holds h WHERE h.book_number = b.number)");

// A copy on the shelf is kept for a reader while the last pick-up window of its queue lasts.
BookRow bookFrom(const QSqlQuery& q)
{
    BookRow row{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                q.value(4).toString(), q.value(5).toString(), q.value(6).toString(), q.value(7).toInt() != 0};
    const QString lastWindow = q.value(8).toString();
    row.reserved = !row.lent && !lastWindow.isEmpty() && lastWindow >= ServerClock::nowStamp();
    return row;
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
    return QStringLiteral(" AND b.") + column + QLatin1Char(' ') + m_dialect->likeOperator() + QStringLiteral(" ? ESCAPE '\\'");
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
    // page is full. The matches are collected once, stopping just past the threshold, and that
    // decides. The index cannot answer a text of fewer than three characters (two-character Chinese
    // titles are common); those are always tested row by row.
    // PostgreSQL makes the same choice itself: its trigram indexes serve ILIKE, and with each search
    // planned for its own text (see configureSession) it picks between them and the title order.
    QString chosenIndex;
    QList<qint64> candidates;
    if (m_dialect->narrowsByTrigramTables()) {
        QHash<QString, QStringList> phrases;
        for (const Text& t : texts) {
            if (!t.text.isEmpty() && t.text.toUcs4().size() >= 3)
                phrases[t.index].append(ftsPhrase(t.column, t.text));
        }
        for (auto it = phrases.cbegin(); it != phrases.cend(); ++it) {
            QList<qint64> ids;
            select(QStringLiteral("SELECT rowid FROM ") + it.key() + QStringLiteral(" WHERE ") + it.key()
                       + QStringLiteral(" MATCH ? LIMIT ?"),
                   {it.value().join(QStringLiteral(" AND ")), IndexedMatchLimit + 1},
                   [&](const QSqlQuery& q) { ids.append(q.value(0).toLongLong()); });
            if (ids.isEmpty())
                return {};
            if (ids.size() <= IndexedMatchLimit && (chosenIndex.isEmpty() || ids.size() < candidates.size())) {
                chosenIndex = it.key();
                candidates = std::move(ids);
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
    if (!chosenIndex.isEmpty())
        return booksAmong(candidates, conditions, values, limit);
    values.append(limit);
    QList<BookRow> rows;
    select(QStringLiteral("SELECT ") + bookColumns + QStringLiteral(" FROM books b WHERE 1 = 1") + conditions
               + QStringLiteral(" ORDER BY b.title, b.number LIMIT ?"),
           values, [&](const QSqlQuery& q) { rows.append(bookFrom(q)); });
    return rows;
}

// The books of the given IDs that meet the conditions, first by title then number. The IDs go in
// fixed-size batches so that one prepared statement serves every search with these conditions.
QList<BookRow> Storage::booksAmong(const QList<qint64>& ids, const QString& conditions, const QVariantList& values,
                                   int limit)
{
    constexpr int Batch = 64;
    QString placeholders = QStringLiteral("?");
    for (int i = 1; i < Batch; ++i)
        placeholders += QStringLiteral(", ?");
    const QString sql = QStringLiteral("SELECT ") + bookColumns + QStringLiteral(" FROM books b WHERE b.id IN (")
        + placeholders + QLatin1Char(')') + conditions;
    QList<std::pair<QByteArray, BookRow>> found; // keyed by UTF-8 title and number: SQLite's own order
    for (qsizetype start = 0; start < ids.size(); start += Batch) {
        QVariantList batch;
        batch.reserve(Batch + values.size());
        for (qsizetype i = start; i < start + Batch; ++i)
            batch.append(i < ids.size() ? ids[i] : qint64(-1)); // -1 is no book's ID
        batch += values;
        select(sql, batch, [&](const QSqlQuery& q) {
            BookRow row = bookFrom(q);
            found.append({row.title.toUtf8() + '\0' + row.number.toUtf8(), std::move(row)});
        });
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<BookRow> rows;
    for (qsizetype i = 0; i < found.size() && i < limit; ++i)
        rows.append(std::move(found[i].second));
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
