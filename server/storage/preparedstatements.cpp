#include "preparedstatements.h"

#include "postgresstatements.h"
#include "sqlitestatements.h"

#include <libpq-fe.h>
#include <sqlite3.h>

std::unique_ptr<PreparedStatements> PreparedStatements::forHandle(const QVariant& driverHandle)
{
    if (qstrcmp(driverHandle.typeName(), "sqlite3*") == 0)
        return std::make_unique<SqliteStatements>(*static_cast<sqlite3* const*>(driverHandle.constData()));
    // Qt names the type by the struct behind libpq's typedef.
    if (qstrcmp(driverHandle.typeName(), "pg_conn*") == 0 || qstrcmp(driverHandle.typeName(), "PGconn*") == 0)
        return std::make_unique<PostgresStatements>(*static_cast<PGconn* const*>(driverHandle.constData()));
    return nullptr;
}
