#pragma once

#include <QSqlQuery>
#include <QVariant>

#include <functional>

// One row of a query's result as the storage reads it, whichever library ran the query.
class SqlRow
{
public:
    virtual ~SqlRow() = default;
    virtual QVariant value(int column) const = 0;
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
