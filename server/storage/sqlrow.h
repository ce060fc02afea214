#pragma once

#include <QSqlQuery>
#include <QVariant>

#include <functional>
#include <optional>

// One row of a query's result as the storage reads it, whichever library ran the query.
class SqlRow
{
public:
    virtual ~SqlRow() = default;
    virtual QVariant value(int column) const = 0;
    // value(column).toString(), which a library may give without the variant: lists read it for
    // nearly every column of thousands of rows.
    virtual QString text(int column) const { return value(column).toString(); }
};

// What a query hands each row of its result to.
using RowHandler = std::function<void(const SqlRow&)>;

// A row of a Qt SQL query.
class QtSqlRow final : public SqlRow
{
public:
    explicit QtSqlRow(const QSqlQuery& query)
        : m_query(query)
    {
    }
    QVariant value(int column) const override { return m_query.value(column); }

private:
    const QSqlQuery& m_query;
};

// Values bound to a statement's parameters. Text is bound as text, a null QString as empty text too
// (text columns hold '' rather than NULL); SQL NULL is bound only where a caller says so, with these.
namespace SqlValue {

inline QVariant null()
{
    return QVariant();
}
inline QVariant orNull(const std::optional<QString>& text)
{
    return text ? QVariant(*text) : QVariant();
}
// For optional columns that must stay out of a unique index or keep rows small when not given.
inline QVariant nullIfEmpty(const QString& text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}
// A LIKE pattern (with ESCAPE '\\') that matches the text anywhere.
QString containsPattern(const QString& text);

} // namespace SqlValue
