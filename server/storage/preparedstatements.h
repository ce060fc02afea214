#pragma once

#include "sqlrow.h"

#include <QString>
#include <QVariantList>

#include <memory>

// Runs the statements of one open connection straight through the database's own library, each
// prepared once and kept. Qt SQL rebuilds a description of every result column on each execution
// (and on PostgreSQL sends every value as text spliced into an EXECUTE statement), which cost a point
// query more than the database's own work. The connection itself stays Qt's: Qt opens and closes it,
// and the library's handle is taken from Qt's driver.
class PreparedStatements
{
public:
    virtual ~PreparedStatements() = default;

    struct Failure {
        QString stage; // "prepare" or "query"
        QString message;
    };

    // Statements for the connection behind a Qt driver's handle, or nullptr for a driver this server
    // does not run on.
    static std::unique_ptr<PreparedStatements> forHandle(const QVariant& driverHandle);

    // Runs `sql` (one statement, parameters written "?") with the values bound in order, handing each
    // row to `row` (may be null) and saying in `rowsAffected` (may be null) how many rows a change
    // touched; on failure says why. A null QString is bound as empty text (text columns hold '', never
    // NULL); an invalid QVariant is bound as NULL.
    virtual bool run(const QString& sql, const QVariantList& values, const RowHandler* row, int* rowsAffected,
                     Failure* failure) = 0;
    // Runs a statement without values and without keeping it: a schema step, a transaction's start or
    // end. A COMMIT that the database turned into a rollback fails.
    virtual bool execute(const QString& sql, Failure* failure) = 0;

    // Forgets every kept statement (before the connection closes, or after it was lost).
    virtual void clear() = 0;

    // How a bound value goes to the database, whichever library binds it: a bool as a whole number.
    enum class ValueKind { Null, Whole, Real, Bytes, Text };
    static ValueKind kindOf(const QVariant& value);
};
