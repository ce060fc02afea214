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

PreparedStatements::ValueKind PreparedStatements::kindOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return ValueKind::Null;
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
        return ValueKind::Whole;
    case QMetaType::Double:
    case QMetaType::Float:
        return ValueKind::Real;
    case QMetaType::QByteArray:
        return ValueKind::Bytes;
    default:
        return ValueKind::Text;
    }
}
