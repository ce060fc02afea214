#include "storage.h"

#include "fieldquery.h"
#include "isbn.h"
#include "searchtext.h"
#include "serverclock.h"

#include <QHash>
#include <QSet>
#include <QSqlQuery>

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

namespace {

const QString bookColumns =
    QStringLiteral("b.title, b.author, b.type, b.publisher, b.year, b.number, b.permission, "
                   "CASE WHEN EXISTS (SELECT 1 FROM loans l WHERE l.book_number = b.number) THEN 1 ELSE 0 END, "
                   "(SELECT MAX(h.ready_until) FROM holds h WHERE h.book_number = b.number), b.isbn, b.record_id, "
                   "CASE WHEN b.lost_at IS NULL THEN 0 ELSE 1 END, b.last_seen_at");

// After bookColumns: the forms a title is ranked by.
const QString rankColumns = QStringLiteral(", b.title_folded, b.title_pinyin, b.title_initials");

// The search forms of a book (see searchForms), as the schema names them.
const QString formColumns = QStringLiteral(
    "title_folded, title_pinyin, title_initials, author_folded, author_pinyin, author_initials, type_folded, "
    "publisher_folded, title_grams, author_grams, number_key");

// A copy on the shelf is kept for a reader while the last pick-up window of its queue lasts.
BookRow bookFrom(const SqlRow& q)
{
    BookRow row{q.text(0), q.text(1), q.text(2), q.text(3), q.text(4), q.text(5), q.text(6), q.value(7).toInt() != 0};
    const QString lastWindow = q.text(8);
    row.reserved = !row.lent && !lastWindow.isEmpty() && lastWindow >= ServerClock::nowStamp();
    row.isbn = q.text(9);
    row.recordId = q.value(10).toLongLong();
    row.lost = q.value(11).toInt() != 0;
    row.lastSeenAt = q.text(12);
    return row;
}

// The values of formColumns for a book.
QVariantList searchForms(const BookRow& b)
{
    const QString title = SearchText::fold(b.title);
    const QString author = SearchText::fold(b.author);
    const SearchText::Pinyin titlePinyin = SearchText::pinyin(title);
    const SearchText::Pinyin authorPinyin = SearchText::pinyin(author);
    return {title,
            SqlValue::nullIfEmpty(titlePinyin.syllables),
            SqlValue::nullIfEmpty(titlePinyin.initials),
            author,
            SqlValue::nullIfEmpty(authorPinyin.syllables),
            SqlValue::nullIfEmpty(authorPinyin.initials),
            SearchText::fold(b.type),
            SearchText::fold(b.publisher),
            SqlValue::nullIfEmpty(SearchText::grams(title)),
            SqlValue::nullIfEmpty(SearchText::grams(author)),
            SearchText::bookNumberKey(b.number)};
}

// One phrase of an FTS5 query, restricted to a column. With the trigram tokenizer a phrase matches
// wherever its text occurs as a substring; with the word tokenizer (the grams) it matches a word.
QString ftsPhrase(const QString& column, const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return (column.isEmpty() ? QString() : column + QStringLiteral(" : ")) + QLatin1Char('"') + quoted
        + QLatin1Char('"');
}

qsizetype characters(const QString& text)
{
    return qsizetype(text.toStdU32String().size());
}

// Up to this many matches of an index are fetched and ranked; beyond it the books are walked in
// title order instead.
constexpr int IndexedMatchLimit = 3000;
// Up to this many, they are put in title order by the kept title order instead of the walk: more, and
// they lie so thick in the title index that the walk soon fills the page.
constexpr int OrderedMatchLimit = 100000;
// IDs go to `b.id IN (...)` in batches of this size, so that one prepared statement serves them all.
constexpr int IdBatch = 64;

QString idPlaceholders()
{
    QString placeholders = QStringLiteral("?");
    for (int i = 1; i < IdBatch; ++i)
        placeholders += QStringLiteral(", ?");
    return placeholders;
}

// The values for idPlaceholders() from the IDs at start.. of total, then the values of the conditions.
QVariantList idBatch(const std::function<qint64(qsizetype)>& idAt, qsizetype start, qsizetype total,
                     const QVariantList& values)
{
    QVariantList batch;
    batch.reserve(IdBatch + values.size());
    for (qsizetype i = start; i < start + IdBatch; ++i)
        batch.append(i < total ? idAt(i) : qint64(-1)); // -1 is no book's ID
    return batch + values;
}

// A text field of the search form.
struct TextField {
    QString name; // "title": its forms are title_folded, title_pinyin, ...
    FieldQuery query;
    bool hasPinyin; // titles and authors have pinyin and grams
    QString ftsTable; // the SQLite trigram table of its forms
};

// All the given trigrams, in any order and column: a row that holds a text holds every trigram of it,
// and asking for trigrams alone (without their order or column) reads no positions. The rows found
// are then tested for the text itself.
QString allOf(const QStringList& trigrams)
{
    QStringList terms;
    for (const QString& trigram : trigrams)
        terms.append(ftsPhrase({}, trigram));
    return QLatin1Char('(') + terms.join(QStringLiteral(" AND ")) + QLatin1Char(')');
}

// The trigrams that cover a text: every third one and the last.
QStringList trigramCover(const QString& text)
{
    const std::u32string chars = text.toStdU32String();
    QStringList trigrams;
    const auto take = [&](size_t at) { trigrams.append(QString::fromStdU32String(chars.substr(at, 3))); };
    for (size_t at = 0; at + 3 <= chars.size(); at += 3)
        take(at);
    if (chars.size() % 3 != 0)
        take(chars.size() - 3);
    return trigrams;
}

using RarestTrigrams = std::function<QStringList(const QString& table, const QString& text)>;

// The FTS queries that find the field's text in its SQLite table, and whether every row they find
// holds the text: the grams for one or two Chinese characters find exactly the rows with them; the
// trigram tables find the rows that hold trigrams of one of the field's forms (folded, pinyin), which
// the substring condition then tests. `narrow` asks for the rarest trigrams of each form; `full`, for
// the trigrams that cover it, is asked when the rarest are held by too many rows to tell whether the
// text is common. Empty when a form is too short for trigrams.
struct FtsMatch {
    QString table, narrow, full;
    bool exact = false;
};

FtsMatch ftsMatch(const TextField& f, const RarestTrigrams& rarest)
{
    const FieldQuery& q = f.query;
    if (f.hasPinyin && q.shortChinese) {
        const QString grams = ftsPhrase(f.name + QStringLiteral("_grams"), q.folded);
        return {QStringLiteral("books_grams_fts"), grams, grams, true};
    }
    QStringList texts{q.folded};
    if (f.hasPinyin && !q.pinyin.isEmpty() && q.pinyin != q.folded)
        texts.append(q.pinyin);
    QStringList narrow, full;
    for (const QString& text : std::as_const(texts)) {
        if (characters(text) < 3)
            return {};
        narrow.append(allOf(rarest(f.ftsTable, text)));
        full.append(allOf(trigramCover(text)));
    }
    const auto anyOf = [](const QStringList& alternatives) -> QString {
        return QLatin1Char('(') + alternatives.join(QStringLiteral(" OR ")) + QLatin1Char(')');
    };
    return {f.ftsTable, anyOf(narrow), anyOf(full), false};
}

// A found book and where it goes in the result: by how well its title matches, then by title and
// number in UTF-8 byte order (the order of the title index on both databases).
struct RankedBook {
    int tier = 0;
    QByteArray order;
    BookRow row;
};

RankedBook rankedFrom(const SqlRow& q, const FieldQuery& title)
{
    RankedBook found;
    found.row = bookFrom(q);
    if (!title.isEmpty())
        found.tier = title.tier(q.text(Storage::BookColumnCount), q.text(Storage::BookColumnCount + 1),
                                q.text(Storage::BookColumnCount + 2));
    found.order = found.row.title.toUtf8() + '\0' + found.row.number.toUtf8();
    return found;
}

void appendBest(QList<RankedBook>& found, QList<BookRow>& rows, int limit)
{
    std::sort(found.begin(), found.end(), [](const RankedBook& a, const RankedBook& b) {
        return a.tier != b.tier ? a.tier < b.tier : a.order < b.order;
    });
    for (qsizetype i = 0; i < found.size() && rows.size() < limit; ++i)
        rows.append(std::move(found[i].row));
}

// The condition that a field holds the text: its folded form, or for titles and authors its pinyin
// or initials. One or two Chinese characters are looked up among the grams where the dialect indexes
// them so (and *byGrams, when given, says so). `rarest`, when set, gives the two trigrams of a form's
// text that the trigram index should find the rows by (by column), or none.
QString textCondition(const TextField& f, const SqlDialect& dialect, QVariantList& values, const RarestTrigrams& rarest,
                      bool* byGrams = nullptr)
{
    const FieldQuery& q = f.query;
    if (f.hasPinyin && q.shortChinese) {
        if (const QString grams = dialect.gramsCondition(f.name + QStringLiteral("_grams")); !grams.isEmpty()) {
            values.append(q.folded);
            if (byGrams)
                *byGrams = true;
            return QStringLiteral(" AND ") + grams;
        }
    }
    QStringList alternatives;
    const auto like = [&](const QString& form, const QString& text) {
        const QString column = QStringLiteral("b.") + f.name + form;
        const QStringList narrow = rarest ? rarest(f.name + form, text) : QStringList();
        if (narrow.size() == 2) {
            // The index finds the rows by the two trigrams; the whole text, hidden from the index
            // (which would read the postings of every trigram in it), then tests them.
            values << SqlValue::containsPattern(narrow[0]) << SqlValue::containsPattern(narrow[1])
                   << SqlValue::containsPattern(text);
            alternatives.append(
                QStringLiteral("(%1 LIKE ? AND %1 LIKE ? AND (%1 || '') LIKE ? ESCAPE '\\')").arg(column));
            return;
        }
        values.append(SqlValue::containsPattern(text));
        alternatives.append(column + QStringLiteral(" LIKE ? ESCAPE '\\'"));
    };
    like(QStringLiteral("_folded"), q.folded);
    if (f.hasPinyin && !q.pinyin.isEmpty()) {
        like(QStringLiteral("_pinyin"), q.pinyin);
        if (q.initials)
            like(QStringLiteral("_initials"), q.pinyin);
    }
    return QStringLiteral(" AND (") + alternatives.join(QStringLiteral(" OR ")) + QLatin1Char(')');
}

} // namespace

QList<BookRow> Storage::searchBooks(const BookFilter& filter, int limit)
{
    const TextField fields[] = {
        {QStringLiteral("title"), FieldQuery::from(filter.title), true, QStringLiteral("books_title_fts")},
        {QStringLiteral("author"), FieldQuery::from(filter.author), true, QStringLiteral("books_fts")},
        {QStringLiteral("type"), FieldQuery::from(filter.type), false, QStringLiteral("books_fts")},
        {QStringLiteral("publisher"), FieldQuery::from(filter.publisher), false, QStringLiteral("books_fts")},
    };
    const FieldQuery& title = fields[0].query;

    // Which index, if any, narrows the search. An index yields its matches in no useful order, so
    // every match is fetched and ranked: cheap for a few thousand, slow for a common text. A common
    // text is better served by walking the books in title order and testing each until the page is
    // full. The matches are collected once, stopping just past the threshold, and that decides.
    // On SQLite the candidates come from the FTS tables (trigrams, or the grams for one or two
    // Chinese characters). PostgreSQL's planner picks among its trigram and gram indexes itself.
    QString chosenTable;
    QList<qint64> candidates;
    // A query that found too many matches to rank, and its values: they come in title order instead.
    std::optional<std::pair<QString, QVariantList>> manyMatches;
    std::vector<FtsMatch> fieldMatches(std::size(fields));
    if (m_dialect->narrowsByTrigramTables()) {
        const RarestTrigrams rarest = [this](const QString& table, const QString& text) {
            return m_trigramCounts->rarest(table, text, [&](const QString& trigram) {
                return scalar(QStringLiteral("SELECT count(*) FROM %1 WHERE %1 MATCH ?").arg(table),
                              {ftsPhrase({}, trigram)});
            });
        };
        QHash<QString, std::pair<QStringList, QStringList>> matches; // by table: the narrow and the full
        for (size_t i = 0; i < std::size(fields); ++i) {
            if (fields[i].query.isEmpty())
                continue;
            fieldMatches[i] = ftsMatch(fields[i], rarest);
            if (const FtsMatch& match = fieldMatches[i]; !match.table.isEmpty()) {
                matches[match.table].first.append(match.narrow);
                matches[match.table].second.append(match.full);
            }
        }
        for (auto it = matches.cbegin(); it != matches.cend(); ++it) {
            const QString matching = QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH ? LIMIT ?").arg(it.key());
            const auto found = [&](const QString& match) {
                QList<qint64> ids;
                select(matching, {match, IndexedMatchLimit + 1},
                       [&](const SqlRow& q) { ids.append(q.value(0).toLongLong()); });
                return ids;
            };
            QString match = it.value().first.join(QStringLiteral(" AND "));
            QList<qint64> ids = found(match);
            // Too many rows hold the rarest trigrams to tell whether the text is common: the whole
            // text's trigrams tell.
            if (ids.size() > IndexedMatchLimit && it.value().first != it.value().second) {
                match = it.value().second.join(QStringLiteral(" AND "));
                ids = found(match);
            }
            if (ids.isEmpty())
                return {};
            if (ids.size() > IndexedMatchLimit && !manyMatches)
                manyMatches = {matching, {match}};
            if (ids.size() <= IndexedMatchLimit && (chosenTable.isEmpty() || ids.size() < candidates.size())) {
                chosenTable = it.key();
                candidates = std::move(ids);
            }
        }
    }

    // PostgreSQL's trigram indexes are asked for the rarest two trigrams of each form, as the sample
    // counts them; a form under four characters is its own trigram or none. A lookup by number alone
    // does not ask for the sample.
    RarestTrigrams indexRarest;
    const bool hasText =
        std::any_of(std::begin(fields), std::end(fields), [](const TextField& f) { return !f.query.isEmpty(); });
    if (!m_dialect->narrowsByTrigramTables() && hasText) {
        if (const std::shared_ptr<const TrigramSample::Snapshot> sample = trigramSample()) {
            indexRarest = [this, sample](const QString& column, const QString& text) -> QStringList {
                if (characters(text) < 4)
                    return {};
                const QStringList chosen = m_trigramCounts->rarest(column, text, [&](const QString& trigram) {
                    return TrigramSample::indexable(trigram) ? sample->rowsHolding(column, trigram)
                                                             : std::numeric_limits<qint64>::max();
                });
                const bool usable =
                    chosen.size() == 2 && TrigramSample::indexable(chosen[0]) && TrigramSample::indexable(chosen[1]);
                return usable ? chosen : QStringList();
            };
        }
    }

    // The title's own condition is kept apart from the others: a title whose folded form, pinyin or
    // initials begins with the text holds it, so the queries for those beginnings below leave it out.
    // With it, PostgreSQL ranked every match of a common text by the condition's index instead of
    // walking the index of the beginnings to the end of the page.
    QString titleCondition;
    QVariantList titleValues;
    bool titleByGrams = false;
    QString conditions;
    QVariantList values;
    for (size_t i = 0; i < std::size(fields); ++i) {
        const TextField& f = fields[i];
        if (f.query.isEmpty())
            continue;
        const FtsMatch& match = fieldMatches[i];
        if (!chosenTable.isEmpty() && match.table == chosenTable && match.exact)
            continue;
        if (i == 0)
            titleCondition = textCondition(f, *m_dialect, titleValues, indexRarest, &titleByGrams);
        else
            conditions += textCondition(f, *m_dialect, values, indexRarest);
    }
    if (!filter.number.isEmpty()) {
        // An ISBN finds every copy of its title, besides a copy numbered so.
        if (const std::optional<QString> isbn = Isbn::normalised(filter.number)) {
            conditions += QStringLiteral(" AND (b.number_key = ? OR b.isbn = ?)");
            values << SearchText::bookNumberKey(filter.number) << *isbn;
        } else {
            conditions += QStringLiteral(" AND b.number_key = ?");
            values.append(SearchText::bookNumberKey(filter.number));
        }
    }
    if (filter.yearFrom) {
        conditions += QStringLiteral(" AND b.year_value >= ?");
        values.append(*filter.yearFrom);
    }
    if (filter.yearTo) {
        conditions += QStringLiteral(" AND b.year_value <= ?");
        values.append(*filter.yearTo);
    }
    // The beginnings hold the text unless it is looked up among the grams.
    const QString beginningConditions = titleByGrams ? titleCondition + conditions : conditions;
    const QVariantList beginningValues = titleByGrams ? titleValues + values : values;
    conditions.prepend(titleCondition);
    values = titleValues + values;
    if (!chosenTable.isEmpty())
        return booksAmong(candidates, conditions, values, title, limit);
    if (!m_dialect->narrowsByTrigramTables() && !title.isEmpty()) {
        const QString matching = QStringLiteral("SELECT b.id FROM books b WHERE 1 = 1") + conditions;
        QList<qint64> ids;
        select(matching + QStringLiteral(" LIMIT ?"), QVariantList(values) << IndexedMatchLimit + 1,
               [&](const SqlRow& q) { ids.append(q.value(0).toLongLong()); });
        if (ids.size() <= IndexedMatchLimit)
            return booksAmong(ids, {}, {}, title, limit);
        manyMatches = {matching + QStringLiteral(" LIMIT ?"), values};
    }

    // Title order. With a title text that too many books match to rank them all, the exact title and
    // the titles that begin with the text (or its pinyin, or initials) still come first: an index of
    // each form finds them. Those come in the order of that index, so when they alone fill the page
    // it holds the first of them by that form, each tier then in title order.
    QList<BookRow> rows;
    QString rest = conditions;
    QVariantList restValues = values;
    if (!title.isEmpty()) {
        QList<std::pair<QString, QString>> beginnings{{QStringLiteral("title_folded"), title.folded}};
        if (!title.pinyin.isEmpty())
            beginnings.append({QStringLiteral("title_pinyin"), title.pinyin});
        if (title.initials)
            beginnings.append({QStringLiteral("title_initials"), title.pinyin});
        QList<RankedBook> found;
        QSet<QString> numbers;
        QString outside;
        QVariantList outsideValues;
        for (const auto& [column, text] : beginnings) {
            const QString range = QStringLiteral("b.%1 IS NOT NULL AND b.%1 >= ? AND b.%1 < ?").arg(column);
            const QVariantList bounds{text, QString(text + QChar(0xDBFF) + QChar(0xDFFF))}; // U+10FFFF sorts last
            select(QStringLiteral("SELECT ") + bookColumns + rankColumns + QStringLiteral(" FROM books b WHERE ")
                       + range + beginningConditions + QStringLiteral(" ORDER BY b.") + column
                       + QStringLiteral(" LIMIT ?"),
                   bounds + beginningValues + QVariantList{limit}, [&](const SqlRow& q) {
                       RankedBook book = rankedFrom(q, title);
                       if (!numbers.contains(book.row.number)) {
                           numbers.insert(book.row.number);
                           found.append(std::move(book));
                       }
                   });
            outside += QStringLiteral(" AND NOT (") + range + QLatin1Char(')');
            outsideValues += bounds;
        }
        appendBest(found, rows, limit);
        if (rows.size() >= limit)
            return rows;
        rest = outside + conditions;
        restValues = outsideValues + values;
    }
    if (manyMatches) {
        if (const std::optional<QList<BookRow>> ordered =
                booksInTitleOrder(manyMatches->first, manyMatches->second, rest, restValues, limit - int(rows.size())))
            return rows + *ordered;
    }
    restValues.append(limit - rows.size());
    select(QStringLiteral("SELECT ") + bookColumns + QStringLiteral(" FROM books b WHERE 1 = 1") + rest
               + QStringLiteral(" ORDER BY b.title, b.number LIMIT ?"),
           restValues, [&](const SqlRow& q) { rows.append(bookFrom(q)); });
    return rows;
}

// The books of the given IDs that meet the conditions, best match of the title text first, then by
// title and number. The IDs go in fixed-size batches so that one prepared statement serves every
// search with these conditions.
QList<BookRow> Storage::booksAmong(const QList<qint64>& ids, const QString& conditions, const QVariantList& values,
                                   const FieldQuery& title, int limit)
{
    const QString sql = QStringLiteral("SELECT ") + bookColumns + rankColumns
        + QStringLiteral(" FROM books b WHERE b.id IN (") + idPlaceholders() + QLatin1Char(')') + conditions;
    QList<RankedBook> found;
    const auto idAt = [&](qsizetype i) { return ids[i]; };
    for (qsizetype start = 0; start < ids.size(); start += IdBatch)
        select(sql, idBatch(idAt, start, ids.size(), values),
               [&](const SqlRow& q) { found.append(rankedFrom(q, title)); });
    QList<BookRow> rows;
    appendBest(found, rows, limit);
    return rows;
}

std::shared_ptr<const TrigramSample::Snapshot> Storage::trigramSample()
{
    return m_trigramSample->current([this](TrigramSample::Snapshot& sample) {
        static const QStringList columns{QStringLiteral("title_folded"),   QStringLiteral("title_pinyin"),
                                         QStringLiteral("title_initials"), QStringLiteral("author_folded"),
                                         QStringLiteral("author_pinyin"),  QStringLiteral("author_initials"),
                                         QStringLiteral("type_folded"),    QStringLiteral("publisher_folded")};
        // Whole pages at random, about SampleRows books of them.
        const qint64 books = scalar(QStringLiteral("SELECT coalesce(max(id), 0) FROM books"));
        const double percent =
            books <= TrigramSample::SampleRows ? 100.0 : 100.0 * TrigramSample::SampleRows / double(books);
        return select(QStringLiteral("SELECT ") + columns.join(QStringLiteral(", "))
                          + QStringLiteral(" FROM books TABLESAMPLE SYSTEM (?)"),
                      {percent},
                      [&](const SqlRow& q) {
                          for (int i = 0; i < columns.size(); ++i)
                              sample.add(columns[i], q.text(i));
                      })
            && !m_failed;
    });
}

std::optional<QList<BookRow>> Storage::booksInTitleOrder(const QString& matching, const QVariantList& matchValues,
                                                         const QString& conditions, const QVariantList& values,
                                                         int count)
{
    const qint64 changes = scalar(QStringLiteral("SELECT n FROM books_order_changes"));
    const qint64 maxId = scalar(QStringLiteral("SELECT coalesce(max(id), 0) FROM books"));
    if (m_failed)
        return std::nullopt;
    const std::shared_ptr<const TitleOrder::Snapshot> order =
        m_titleOrder->current(changes, maxId, [this](std::vector<qint64>& ids) {
            return select(QStringLiteral("SELECT id FROM books ORDER BY title, number"), {},
                          [&](const SqlRow& q) { ids.push_back(q.value(0).toLongLong()); });
        });
    if (!order)
        return std::nullopt;

    // The matches the snapshot places, by place, and the books added since, which it does not.
    std::vector<qint32> places;
    QList<qint64> added;
    qint64 matches = 0;
    if (!select(matching, QVariantList(matchValues) << OrderedMatchLimit + 1,
                [&](const SqlRow& q) {
                    ++matches;
                    const qint64 id = q.value(0).toLongLong();
                    if (const qint32 place = order->place(id); place >= 0)
                        places.push_back(place);
                    else
                        added.append(id);
                })
        || matches > OrderedMatchLimit || added.size() > IndexedMatchLimit)
        return std::nullopt;
    std::sort(places.begin(), places.end());

    // The placed matches a batch at a time in title order until `count` of them meet the conditions,
    // then the added ones that do; each goes where its title puts it.
    const QString sql = QStringLiteral("SELECT ") + bookColumns + QStringLiteral(" FROM books b WHERE b.id IN (")
        + idPlaceholders() + QLatin1Char(')') + conditions;
    const FieldQuery unranked; // the walk's order: title, then number
    QList<RankedBook> found;
    const auto fetch = [&](const std::function<qint64(qsizetype)>& idAt, qsizetype total, qsizetype until) {
        for (qsizetype start = 0; start < total && found.size() < until; start += IdBatch)
            select(sql, idBatch(idAt, start, total, values),
                   [&](const SqlRow& q) { found.append(rankedFrom(q, unranked)); });
    };
    fetch([&](qsizetype i) { return order->idByPlace[size_t(places[size_t(i)])]; }, qsizetype(places.size()), count);
    fetch([&](qsizetype i) { return added[i]; }, added.size(), std::numeric_limits<qsizetype>::max());
    if (m_failed)
        return std::nullopt;
    QList<BookRow> rows;
    appendBest(found, rows, count);
    return rows;
}

QString Storage::bookSelect()
{
    return bookColumns;
}

BookRow Storage::bookOf(const SqlRow& row)
{
    return bookFrom(row);
}

std::optional<BookRow> Storage::book(const QString& number)
{
    std::optional<BookRow> found;
    select(QStringLiteral("SELECT ") + bookColumns + QStringLiteral(" FROM books b WHERE b.number = ?"), {number},
           [&](const SqlRow& q) { found = bookFrom(q); });
    return found;
}

bool Storage::insertBook(const BookRow& b)
{
    const std::optional<int> year = yearValue(b.year);
    return change(QStringLiteral("INSERT INTO books (number, title, author, type, publisher, year, year_value, "
                                 "permission, isbn, record_id, added_at, ")
                      + formColumns
                      + QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                  QVariantList{b.number, b.title, b.author, b.type, b.publisher, b.year,
                               year ? QVariant(*year) : QVariant(), b.permission, SqlValue::nullIfEmpty(b.isbn),
                               b.recordId > 0 ? QVariant(b.recordId) : QVariant(), ServerClock::nowStamp()}
                      + searchForms(b));
}

bool Storage::moveTitleLoans(const QString& number, int sign)
{
    // The copy's loans of all time; its days stay where they are.
    const qint64 loans =
        scalar(QStringLiteral("SELECT COALESCE(SUM(loans), 0) FROM book_loan_stats WHERE book_number = ?"), {number});
    if (loans == 0)
        return !failed();
    if (sign < 0)
        return change(QStringLiteral("UPDATE title_loans SET loans = loans - ? WHERE (title, author) = "
                                     "(SELECT title, author FROM books WHERE number = ?)"),
                      {loans, number})
            && change(QStringLiteral("DELETE FROM title_loans WHERE loans <= 0"), {});
    return change(QStringLiteral("INSERT INTO title_loans (title, author, loans) SELECT title, author, ? FROM books "
                                 "WHERE number = ? ON CONFLICT (title, author) DO UPDATE SET loans = "
                                 "title_loans.loans + excluded.loans"),
                  {loans, number});
}

bool Storage::updateBook(const BookRow& b)
{
    // A new title or author takes the copy's loans along in the most borrowed titles.
    bool renamed = false;
    select(QStringLiteral("SELECT title, author FROM books WHERE number = ?"), {b.number},
           [&](const SqlRow& q) { renamed = q.value(0).toString() != b.title || q.value(1).toString() != b.author; });
    if (renamed && !moveTitleLoans(b.number, -1))
        return false;
    const std::optional<int> year = yearValue(b.year);
    QString assignments;
    for (const QString& column : formColumns.split(QStringLiteral(", ")))
        assignments += QStringLiteral(", ") + column + QStringLiteral(" = ?");
    return change(QStringLiteral("UPDATE books SET title = ?, author = ?, type = ?, publisher = ?, year = ?, "
                                 "year_value = ?, permission = ?, isbn = ?, record_id = ?")
                      + assignments + QStringLiteral(" WHERE number = ?"),
                  QVariantList{b.title, b.author, b.type, b.publisher, b.year, year ? QVariant(*year) : QVariant(),
                               b.permission, SqlValue::nullIfEmpty(b.isbn),
                               b.recordId > 0 ? QVariant(b.recordId) : QVariant()}
                      + searchForms(b) + QVariantList{b.number})
        && (!renamed || moveTitleLoans(b.number, +1));
}

QString Storage::firstTakenNumber(const QStringList& numbers)
{
    for (const QString& number : numbers) {
        if (scalar(QStringLiteral("SELECT COUNT(*) FROM books WHERE number = ?"), {number}) > 0)
            return number;
    }
    return QString();
}

QList<BookRow> Storage::copiesOf(const QString& isbn)
{
    QList<BookRow> rows;
    select(QStringLiteral("SELECT ") + bookColumns + QStringLiteral(" FROM books b WHERE b.isbn = ? ORDER BY b.number"),
           {isbn}, [&](const SqlRow& q) { rows.append(bookFrom(q)); });
    return rows;
}

qint64 Storage::insertRecord(const QString& syntax, const QByteArray& iso2709)
{
    qint64 id = 0;
    if (!select(QStringLiteral("INSERT INTO catalogue_records (syntax, record) VALUES (?, ?) RETURNING id"),
                {syntax, iso2709}, [&](const SqlRow& q) { id = q.value(0).toLongLong(); }))
        return 0;
    return id;
}

qint64 Storage::recordOfIsbn(const QString& isbn)
{
    return scalar(QStringLiteral("SELECT COALESCE(MAX(record_id), 0) FROM books WHERE isbn = ?"), {isbn});
}

std::optional<Storage::KeptRecord> Storage::record(qint64 id)
{
    std::optional<KeptRecord> found;
    select(QStringLiteral("SELECT syntax, record FROM catalogue_records WHERE id = ?"), {id}, [&](const SqlRow& q) {
        found = KeptRecord{q.value(0).toString(), q.value(1).toByteArray()};
    });
    return found;
}

bool Storage::forEachBook(const std::function<void(const BookRow&)>& visit)
{
    return select(QStringLiteral("SELECT ") + bookColumns
                      + QStringLiteral(" FROM books b ORDER BY COALESCE(b.record_id, 0), COALESCE(b.isbn, ''), "
                                       "b.title, b.author, b.number"),
                  {}, [&](const SqlRow& q) { visit(bookFrom(q)); });
}

bool Storage::afterBulkLoad()
{
    for (const QString& statement : m_dialect->afterBulkLoad()) {
        if (!execDirect(statement))
            return false;
    }
    return true;
}

std::optional<QStringList> Storage::suspendBookIndexes()
{
    const QString query = m_dialect->bookDerivedObjectsQuery();
    if (query.isEmpty())
        return QStringList();
    QList<std::pair<QString, QString>> objects;
    QStringList definitions;
    if (!select(query, {}, [&](const SqlRow& q) {
            objects.append({q.value(0).toString(), q.value(1).toString()});
            definitions.append(q.value(2).toString());
        }))
        return std::nullopt;
    for (const auto& [name, type] : std::as_const(objects)) {
        QString quoted = name;
        quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        if (!execDirect(QStringLiteral("DROP %1 \"%2\"").arg(type.toUpper(), quoted)))
            return std::nullopt;
    }
    return definitions;
}

bool Storage::restoreBookIndexes(const QStringList& definitions)
{
    if (definitions.isEmpty())
        return true;
    for (const QString& statement : definitions + m_dialect->refillAfterBulkLoad()) {
        if (!execDirect(statement))
            return false;
    }
    return true;
}

bool Storage::fillSearchForms()
{
    QString assignments;
    for (const QString& column : formColumns.split(QStringLiteral(", ")))
        assignments += (assignments.isEmpty() ? QString() : QStringLiteral(", ")) + column + QStringLiteral(" = ?");
    const QString update = QStringLiteral("UPDATE books SET ") + assignments + QStringLiteral(" WHERE id = ?");
    for (;;) {
        QList<std::pair<qint64, BookRow>> books;
        select(QStringLiteral("SELECT id, title, author, type, publisher, number FROM books "
                              "WHERE number_key IS NULL LIMIT 1000"),
               {}, [&](const SqlRow& q) {
                   BookRow b;
                   b.title = q.value(1).toString();
                   b.author = q.value(2).toString();
                   b.type = q.value(3).toString();
                   b.publisher = q.value(4).toString();
                   b.number = q.value(5).toString();
                   books.append({q.value(0).toLongLong(), b});
               });
        if (m_failed || books.isEmpty())
            return !m_failed;
        for (const auto& [id, b] : books) {
            if (!change(update, searchForms(b) << id))
                return false;
        }
    }
}

bool Storage::deleteBook(const QString& number)
{
    const qint64 recordId =
        scalar(QStringLiteral("SELECT COALESCE(record_id, 0) FROM books WHERE number = ?"), {number});
    // Its loans leave the most borrowed titles with it, as they leave the reports that join the copies.
    if (!moveTitleLoans(number, -1))
        return false;
    int rows = 0;
    change(QStringLiteral("DELETE FROM books WHERE number = ?"), {number}, &rows);
    // The kept record goes with the last copy of its title.
    if (rows == 1 && recordId > 0)
        change(QStringLiteral("DELETE FROM catalogue_records WHERE id = ? AND NOT EXISTS "
                              "(SELECT 1 FROM books WHERE record_id = ?)"),
               {recordId, recordId});
    return rows == 1 && !m_failed;
}

qint64 Storage::bookCount()
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM books"));
}
