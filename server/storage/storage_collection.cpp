#include "storage.h"

#include "serverclock.h"

namespace {

// The server's local date of a stored moment, as the statistics count days.
QString localDay(const QString& stamp)
{
    return ServerClock::fromStamp(stamp).toLocalTime().date().toString(Qt::ISODate);
}

// The conditions of a report's period and filters on a table of statistics (alias s), with the books'
// type from `typeColumn`.
QString filterConditions(const StatisticsFilter& f, const QString& typeColumn, QVariantList& values)
{
    QString sql = QStringLiteral(" s.day >= ? AND s.day <= ?");
    values << f.fromDay << (f.toDay.isEmpty() ? QStringLiteral("9999-12-31") : f.toDay);
    if (!f.level.isEmpty()) {
        sql += QStringLiteral(" AND s.level = ?");
        values << f.level;
    }
    if (!f.type.isEmpty()) {
        sql += QStringLiteral(" AND ") + typeColumn + QStringLiteral(" = ?");
        values << f.type;
    }
    return sql;
}

// The highest text that begins with the prefix, for a range scan of an index.
QString prefixEnd(const QString& prefix)
{
    return prefix + QChar(0xDBFF) + QChar(0xDFFF); // U+10FFFF sorts last
}

} // namespace

bool Storage::countLoanChange(const QString& column, const QString& at, const QString& level, const QString& type)
{
    return change(QStringLiteral("INSERT INTO loan_stats (day, level, type, ") + column
                      + QStringLiteral(") VALUES (?, ?, ?, 1) ON CONFLICT (day, level, type) DO UPDATE SET ") + column
                      + QStringLiteral(" = loan_stats.") + column + QStringLiteral(" + 1"),
                  {localDay(at), level, type});
}

QList<QStringList> Storage::loansByMonth(const StatisticsFilter& filter)
{
    QVariantList values;
    const QString where = filterConditions(filter, QStringLiteral("s.type"), values);
    QList<QStringList> rows;
    select(QStringLiteral("SELECT substr(s.day, 1, 7), SUM(s.loans), SUM(s.returns), SUM(s.renewals), "
                          "SUM(s.overdue_returns) FROM loan_stats s WHERE")
               + where + QStringLiteral(" GROUP BY substr(s.day, 1, 7) ORDER BY 1"),
           values, [&](const SqlRow& q) {
               rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                            q.value(4).toString()});
           });
    return rows;
}

QList<QStringList> Storage::topTitles(const StatisticsFilter& filter, int limit)
{
    QList<QStringList> rows;
    const auto append = [&](const SqlRow& q) {
        rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
    };
    // Of all time, all levels and types: the counts kept per title, read in order from their index.
    bool wholeHistory = filter.level.isEmpty() && filter.type.isEmpty();
    if (wholeHistory && (!filter.fromDay.isEmpty() || !filter.toDay.isEmpty())) {
        select(QStringLiteral("SELECT MIN(day), MAX(day) FROM loan_stats"), {}, [&](const SqlRow& q) {
            wholeHistory = (filter.fromDay.isEmpty() || filter.fromDay <= q.value(0).toString())
                && (filter.toDay.isEmpty() || filter.toDay >= q.value(1).toString());
        });
    }
    if (wholeHistory) {
        select(QStringLiteral("SELECT title, author, loans FROM title_loans WHERE loans > 0 "
                              "ORDER BY loans DESC, title, author LIMIT ?"),
               {limit}, append);
    } else {
        QVariantList values;
        const QString where = filterConditions(filter, QStringLiteral("b.type"), values);
        select(QStringLiteral("SELECT b.title, b.author, SUM(s.loans) AS n FROM book_loan_stats s "
                              "JOIN books b ON b.number = s.book_number WHERE")
                   + where + QStringLiteral(" GROUP BY b.title, b.author ORDER BY n DESC, b.title, b.author LIMIT ?"),
               values << limit, append);
    }
    // Then the ISBN (one of the copies', empty when none has one) and how many copies there are.
    for (QStringList& row : rows) {
        select(QStringLiteral("SELECT COALESCE(MAX(isbn), ''), COUNT(*) FROM books WHERE title = ? AND author = ?"),
               {row[0], row[1]}, [&](const SqlRow& q) {
                   row.insert(2, q.value(0).toString());
                   row.append(q.value(1).toString());
               });
    }
    return rows;
}

QList<QStringList> Storage::neverBorrowed(const StatisticsFilter& filter, int limit)
{
    QVariantList values;
    QString sql = QStringLiteral("SELECT b.number, b.title, b.type, b.added_at FROM books b WHERE ");
    if (!filter.type.isEmpty()) {
        sql += QStringLiteral("b.type = ? AND ");
        values << filter.type;
    }
    sql += QStringLiteral("NOT EXISTS (SELECT 1 FROM book_loan_stats s WHERE s.book_number = b.number AND "
                          "s.day >= ? AND s.day <= ?) ORDER BY b.added_at, b.number LIMIT ?");
    values << filter.fromDay << (filter.toDay.isEmpty() ? QStringLiteral("9999-12-31") : filter.toDay) << limit;
    QList<QStringList> rows;
    select(sql, values, [&](const SqlRow& q) {
        rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString()});
    });
    return rows;
}

QList<QStringList> Storage::loansByGroup(const QString& column, const StatisticsFilter& filter, int limit)
{
    QVariantList values;
    const QString where = filterConditions(filter, QStringLiteral("s.type"), values);
    QList<QStringList> rows;
    // Readers once a month in the group: of the level (or type) alone, unless the other is filtered too.
    const bool narrowed = column == QLatin1String("level") ? !filter.type.isEmpty() : !filter.level.isEmpty();
    const QString readers = narrowed ? QStringLiteral("readers") : column + QStringLiteral("_readers");
    select(QStringLiteral("SELECT s.") + column + QStringLiteral(", SUM(s.loans) AS n, SUM(s.") + readers
               + QStringLiteral(") FROM loan_stats s WHERE") + where + QStringLiteral(" GROUP BY s.") + column
               + QStringLiteral(" HAVING SUM(s.loans) > 0 ORDER BY n DESC, 1 LIMIT ?"),
           values << limit, [&](const SqlRow& q) {
               rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
           });
    return rows;
}

qint64 Storage::pruneReaderMonths(const QString& month)
{
    int rows = 0;
    change(QStringLiteral("DELETE FROM reader_months WHERE month < ?"), {month}, &rows);
    return rows;
}

std::optional<qint64> Storage::insertInventory(const InventoryRow& inventory, const QString& startedBy)
{
    std::optional<qint64> id;
    select(QStringLiteral("INSERT INTO inventories (name, type, number_prefix, started_at, started_by) "
                          "VALUES (?, ?, ?, ?, ?) RETURNING id"),
           {inventory.name, inventory.type, inventory.numberPrefix, inventory.startedAt, startedBy},
           [&](const SqlRow& q) { id = q.value(0).toLongLong(); });
    return id;
}

namespace {

const QString inventoryColumns =
    QStringLiteral("i.id, i.name, i.type, i.number_prefix, i.started_at, "
                   "(SELECT COUNT(*) FROM inventory_scans s WHERE s.inventory_id = i.id) FROM inventories i");

InventoryRow inventoryFrom(const SqlRow& q)
{
    return {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
            q.value(3).toString(),   q.value(4).toString(), q.value(5).toLongLong()};
}

} // namespace

std::optional<InventoryRow> Storage::inventory(qint64 id)
{
    std::optional<InventoryRow> found;
    select(QStringLiteral("SELECT ") + inventoryColumns + QStringLiteral(" WHERE i.id = ?"), {id},
           [&](const SqlRow& q) { found = inventoryFrom(q); });
    return found;
}

QList<InventoryRow> Storage::inventories(int limit)
{
    QList<InventoryRow> rows;
    select(QStringLiteral("SELECT ") + inventoryColumns + QStringLiteral(" ORDER BY i.id DESC LIMIT ?"), {limit},
           [&](const SqlRow& q) { rows.append(inventoryFrom(q)); });
    return rows;
}

bool Storage::recordScan(qint64 inventoryId, const QString& number, const QString& at, const QString& finding,
                         bool* duplicate)
{
    int rows = 0;
    const bool ok =
        change(QStringLiteral("INSERT INTO inventory_scans (inventory_id, book_number, scanned_at, finding) "
                              "VALUES (?, ?, ?, ?) ON CONFLICT (inventory_id, book_number) DO NOTHING"),
               {inventoryId, number, at, finding}, &rows);
    *duplicate = ok && rows == 0;
    return ok;
}

bool Storage::markSeen(const QString& number, const QString& at)
{
    return change(QStringLiteral("UPDATE books SET last_seen_at = ?, lost_at = NULL WHERE number = ?"), {at, number});
}

bool Storage::markLost(const QString& number, const QString& at)
{
    int rows = 0;
    change(QStringLiteral("UPDATE books SET lost_at = ? WHERE number = ?"), {at, number}, &rows);
    return rows == 1;
}

QList<InventoryFindingRow> Storage::inventoryFindings(const InventoryRow& inventory, int limit)
{
    QList<InventoryFindingRow> rows;
    // Scans first: a number no copy has, a copy recorded as lent, a copy of another part.
    select(QStringLiteral("SELECT ") + bookSelect()
               + QStringLiteral(", s.book_number, s.finding, CASE WHEN b.number IS NULL THEN 0 ELSE 1 END "
                                "FROM inventory_scans s LEFT JOIN books b ON b.number = s.book_number "
                                "WHERE s.inventory_id = ? AND (b.number IS NULL OR s.finding = ? OR "
                                "EXISTS (SELECT 1 FROM loans l WHERE l.book_number = s.book_number)) "
                                "ORDER BY s.book_number LIMIT ?"),
           {inventory.id, QString(ScanFinding::Elsewhere), limit}, [&](const SqlRow& q) {
               InventoryFindingRow f;
               f.known = q.value(BookColumnCount + 2).toInt() != 0;
               if (f.known)
                   f.book = bookOf(q);
               f.book.number = q.value(BookColumnCount).toString();
               if (!f.known)
                   f.finding = InventoryFinding::Unknown;
               else if (f.book.lent)
                   f.finding = InventoryFinding::OnLoanScanned;
               else
                   f.finding = InventoryFinding::Elsewhere;
               rows.append(f);
           });
    // Then the copies of the part that nobody scanned and nobody has on loan.
    QString sql = QStringLiteral("SELECT ") + bookSelect() + QStringLiteral(" FROM books b WHERE ");
    QVariantList values;
    if (!inventory.type.isEmpty()) {
        sql += QStringLiteral("b.type = ? AND ");
        values << inventory.type;
    }
    if (!inventory.numberPrefix.isEmpty()) {
        sql += QStringLiteral("b.number >= ? AND b.number < ? AND ");
        values << inventory.numberPrefix << prefixEnd(inventory.numberPrefix);
    }
    sql += QStringLiteral("NOT EXISTS (SELECT 1 FROM loans l WHERE l.book_number = b.number) AND NOT EXISTS "
                          "(SELECT 1 FROM inventory_scans s WHERE s.inventory_id = ? AND s.book_number = b.number) "
                          "ORDER BY b.number LIMIT ?");
    values << inventory.id << qMax(0, limit - int(rows.size()));
    select(sql, values, [&](const SqlRow& q) { rows.append({bookOf(q), true, QString(InventoryFinding::Missing)}); });
    return rows;
}
