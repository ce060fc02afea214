#pragma once

#include "sqlrow.h"

#include <QString>
#include <QVariantList>

#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

// Runs the statements of one SQLite connection straight through SQLite's own interface, each
// prepared once and kept. Qt SQL rebuilds a description of every result column on each execution,
// which cost a point query more than SQLite's own work. The connection itself stays Qt's: Qt opens
// and closes it, and SQLite's handle is taken from Qt's driver.
class SqliteStatements
{
public:
    explicit SqliteStatements(sqlite3* handle);
    ~SqliteStatements();
    SqliteStatements(const SqliteStatements&) = delete;
    SqliteStatements& operator=(const SqliteStatements&) = delete;

    struct Failure {
        QString stage; // "prepare" or "query"
        QString message;
    };

    // Runs `sql` with the values bound in order, handing each row to `row` (may be null) and saying
    // in `rowsAffected` (may be null) how many rows a change touched; on failure says why.
    bool run(const QString& sql, const QVariantList& values, const RowHandler* row, int* rowsAffected,
             Failure* failure);

    // Finalizes every statement: SQLite closes no connection while one is left.
    void clear();

private:
    sqlite3_stmt* prepared(const QString& sql, Failure* failure);
    bool bind(sqlite3_stmt* statement, const QVariantList& values);

    sqlite3* m_handle;
    std::unordered_map<QString, sqlite3_stmt*> m_statements;
};
