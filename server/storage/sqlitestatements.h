#pragma once

#include "sqlrow.h"

#include <QString>
#include <QVariantList>

#include <functional>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

// Runs the queries of one SQLite connection straight through SQLite's own interface, each statement
// prepared once and kept. Qt SQL rebuilds a description of every result column on each execution,
// which cost a point query more than SQLite's own work; the connection itself stays Qt's (opening,
// settings, transactions and changes go through it).
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

    // Runs `sql` with the values bound in order and hands each row to `row`; on failure says why.
    bool select(const QString& sql, const QVariantList& values, const std::function<void(const SqlRow&)>& row,
                Failure* failure);
    // Runs a statement that changes something; `rowsAffected` (may be null) gets how many rows.
    bool change(const QString& sql, const QVariantList& values, int* rowsAffected, Failure* failure);

    // Finalizes every statement: SQLite closes no connection while one is left.
    void clear();

private:
    sqlite3_stmt* prepared(const QString& sql, Failure* failure);
    bool bind(sqlite3_stmt* statement, const QVariantList& values);
    bool run(const QString& sql, const QVariantList& values, const std::function<void(const SqlRow&)>* row,
             Failure* failure);

    sqlite3* m_handle;
    std::unordered_map<QString, sqlite3_stmt*> m_statements;
};
