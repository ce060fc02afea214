#pragma once

#include "preparedstatements.h"

#include <QByteArray>

#include <unordered_map>

struct pg_conn;

// The statements of one PostgreSQL connection, through libpq: each prepared once under a name of its
// own (or, for a text search, planned for each run), values sent apart from the statement (text, bytes
// as binary), rows read one at a time so that a walk over the whole catalogue is not held in memory.
class PostgresStatements final : public PreparedStatements
{
public:
    explicit PostgresStatements(pg_conn* handle);
    ~PostgresStatements() override = default;
    PostgresStatements(const PostgresStatements&) = delete;
    PostgresStatements& operator=(const PostgresStatements&) = delete;

    bool run(const QString& sql, const QVariantList& values, const RowHandler* row, int* rowsAffected,
             Failure* failure) override;
    bool execute(const QString& sql, Failure* failure) override;
    // The prepared statements end with the connection; only their names are forgotten here.
    void clear() override { m_statements.clear(); }

private:
    struct Statement {
        QByteArray text; // parameters numbered
        QByteArray name; // prepared under; empty: planned anew for each run's values
    };
    // The statement, prepared where it is kept, or nullptr.
    const Statement* prepared(const QString& sql, Failure* failure);
    QString errorText() const;

    pg_conn* m_handle;
    std::unordered_map<QString, Statement> m_statements;
    quint64 m_serial = 0;
};
