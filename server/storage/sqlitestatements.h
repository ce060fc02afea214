#pragma once

#include "preparedstatements.h"

#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

// The statements of one SQLite connection, through SQLite's own interface.
class SqliteStatements final : public PreparedStatements
{
public:
    explicit SqliteStatements(sqlite3* handle);
    ~SqliteStatements() override;
    SqliteStatements(const SqliteStatements&) = delete;
    SqliteStatements& operator=(const SqliteStatements&) = delete;

    bool run(const QString& sql, const QVariantList& values, const RowHandler* row, int* rowsAffected,
             Failure* failure) override;
    bool execute(const QString& sql, Failure* failure) override;
    // Finalizes every statement: SQLite closes no connection while one is left.
    void clear() override;

private:
    sqlite3_stmt* prepared(const QString& sql, Failure* failure);
    bool bind(sqlite3_stmt* statement, const QVariantList& values);

    sqlite3* m_handle;
    std::unordered_map<QString, sqlite3_stmt*> m_statements;
};
