#include "sqlitestatements.h"

#include <sqlite3.h>

namespace {

// Set before SQLite starts, that is before main. SQLite counts every allocation of every connection
// under one process-wide mutex by default; the readers of a busy server queue on it for statistics
// nobody reads.
const bool libraryConfigured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;

class SqliteRow final : public SqlRow
{
public:
    explicit SqliteRow(sqlite3_stmt* statement)
        : m_statement(statement)
    {
    }

    // As Qt's SQLite driver gives them: whole numbers as qlonglong, text as QString, NULL as a null
    // variant.
    QVariant value(int column) const override
    {
        switch (sqlite3_column_type(m_statement, column)) {
        case SQLITE_INTEGER:
            return qlonglong(sqlite3_column_int64(m_statement, column));
        case SQLITE_FLOAT:
            return sqlite3_column_double(m_statement, column);
        case SQLITE_TEXT:
            return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
                                     sqlite3_column_bytes(m_statement, column));
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char*>(sqlite3_column_blob(m_statement, column)),
                              sqlite3_column_bytes(m_statement, column));
        default:
            return QVariant();
        }
    }

    QString text(int column) const override
    {
        switch (sqlite3_column_type(m_statement, column)) {
        case SQLITE_TEXT:
            return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column)),
                                     sqlite3_column_bytes(m_statement, column));
        case SQLITE_NULL:
            return QString();
        default:
            return value(column).toString();
        }
    }

private:
    sqlite3_stmt* m_statement;
};

// SQLite binds a null pointer as NULL; a null string is bound as empty text.
const void* textData(const QString& text)
{
    return text.isNull() ? static_cast<const void*>(u"") : static_cast<const void*>(text.utf16());
}

} // namespace

SqliteStatements::SqliteStatements(sqlite3* handle)
    : m_handle(handle)
{
    // A kept statement with "column LIKE ?" is otherwise prepared again whenever the pattern bound to
    // it changes, in case the pattern allows an index (only one without a leading '%' does, and the
    // server binds none of those): a third of a millisecond on every search.
    sqlite3_db_config(m_handle, SQLITE_DBCONFIG_ENABLE_QPSG, 1, nullptr);
}

SqliteStatements::~SqliteStatements()
{
    clear();
}

void SqliteStatements::clear()
{
    for (auto& [sql, statement] : m_statements)
        sqlite3_finalize(statement);
    m_statements.clear();
}

sqlite3_stmt* SqliteStatements::prepared(const QString& sql, Failure* failure)
{
    if (const auto it = m_statements.find(sql); it != m_statements.end())
        return it->second;
    sqlite3_stmt* statement = nullptr;
    const QByteArray text = sql.toUtf8();
    const char* rest = nullptr;
    if (sqlite3_prepare_v3(m_handle, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT, &statement, &rest)
        != SQLITE_OK) {
        *failure = {QStringLiteral("prepare"),
                    QString::fromUtf8(sqlite3_errmsg(m_handle)) + QStringLiteral(" in ") + sql};
        sqlite3_finalize(statement);
        return nullptr;
    }
    // One statement at a time: whatever followed the first would silently not run.
    if (!statement || !QByteArray(rest).trimmed().isEmpty()) {
        *failure = {QStringLiteral("prepare"), QStringLiteral("not exactly one statement in ") + sql};
        sqlite3_finalize(statement);
        return nullptr;
    }
    m_statements.emplace(sql, statement);
    return statement;
}

bool SqliteStatements::bind(sqlite3_stmt* statement, const QVariantList& values)
{
    if (values.size() != sqlite3_bind_parameter_count(statement))
        return false;
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values[i];
        const int at = i + 1;
        int result = SQLITE_OK;
        switch (kindOf(value)) {
        case ValueKind::Null:
            result = sqlite3_bind_null(statement, at);
            break;
        case ValueKind::Whole:
            result = sqlite3_bind_int64(statement, at, value.toLongLong());
            break;
        case ValueKind::Real:
            result = sqlite3_bind_double(statement, at, value.toDouble());
            break;
        case ValueKind::Bytes: {
            const QByteArray bytes = value.toByteArray();
            result =
                sqlite3_bind_blob64(statement, at, bytes.constData(), sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case ValueKind::Text:
            if (value.typeId() == QMetaType::QString) {
                // The values outlive the query, so SQLite may read the text where it is. A null string
                // is empty text: text columns hold empty text, never NULL.
                const QString& text = *static_cast<const QString*>(value.constData());
                result = sqlite3_bind_text16(statement, at, textData(text), int(text.size() * 2), SQLITE_STATIC);
            } else {
                const QString text = value.toString();
                result = sqlite3_bind_text16(statement, at, textData(text), int(text.size() * 2), SQLITE_TRANSIENT);
            }
            break;
        }
        if (result != SQLITE_OK)
            return false;
    }
    return true;
}

bool SqliteStatements::run(const QString& sql, const QVariantList& values, const RowHandler* row, int* rowsAffected,
                           Failure* failure)
{
    sqlite3_stmt* statement = prepared(sql, failure);
    if (!statement)
        return false;
    bool ok = bind(statement, values);
    if (!ok) {
        *failure = {QStringLiteral("query"), QStringLiteral("values do not fit the parameters of ") + sql};
    } else {
        const SqliteRow current(statement);
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            if (row)
                (*row)(current);
        }
        ok = step == SQLITE_DONE;
        if (!ok)
            *failure = {QStringLiteral("query"),
                        QString::fromUtf8(sqlite3_errmsg(m_handle)) + QStringLiteral(" in ") + sql};
    }
    if (rowsAffected)
        *rowsAffected = ok ? sqlite3_changes(m_handle) : 0;
    // Resetting ends the statement's read snapshot, which a kept statement would otherwise pin.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return ok;
}

bool SqliteStatements::execute(const QString& sql, Failure* failure)
{
    // Kept too: a transaction's start and end run on every change.
    return run(sql, {}, nullptr, nullptr, failure);
}
