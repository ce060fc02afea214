#include "storage.h"

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

} // namespace

QString Storage::substringCondition(const QString& column, const QString& text, QVariantList& values,
                                    QStringList& ftsTerms) const
{
    // The trigram index cannot answer a text of fewer than three characters (two-character Chinese
    // titles are common): those fall back to a plain scan with LIKE.
    if (m_sqlite && text.toUcs4().size() >= 3) {
        ftsTerms.append(ftsPhrase(column, text));
        return {};
    }
    values.append(likePattern(text));
    const QString like = m_sqlite ? QStringLiteral(" LIKE ") : QStringLiteral(" ILIKE ");
    return QStringLiteral(" AND b.") + column + like + QStringLiteral("? ESCAPE '\\'");
}

QList<BookRow> Storage::searchBooks(const BookFilter& filter, int limit)
{
    QString conditions;
    QVariantList values;
    QStringList ftsTerms;
    const std::pair<QString, QString> texts[] = {
        {QStringLiteral("title"), filter.title},
        {QStringLiteral("author"), filter.author},
        {QStringLiteral("type"), filter.type},
        {QStringLiteral("publisher"), filter.publisher},
    };
    for (const auto& [column, text] : texts) {
        if (!text.isEmpty())
            conditions += substringCondition(column, text, values, ftsTerms);
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
    if (!ftsTerms.isEmpty()) {
        conditions += QStringLiteral(" AND b.id IN (SELECT rowid FROM books_fts WHERE books_fts MATCH ?)");
        values.append(ftsTerms.join(QStringLiteral(" AND ")));
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
