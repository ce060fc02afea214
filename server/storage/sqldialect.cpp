#include "sqldialect.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace {

// The key of the PostgreSQL advisory lock that serialises migrations of one database.
constexpr qint64 MigrationLock = 0x4c6962726172; // "Librar"

const QRegularExpression& plainIdentifier()
{
    static const QRegularExpression identifier(QStringLiteral("^[a-z_][a-z0-9_]{0,62}$"));
    return identifier;
}

} // namespace

std::unique_ptr<SqlDialect> SqlDialect::create(const DatabaseSettings& settings)
{
    if (settings.isSqlite())
        return std::make_unique<SqliteDialect>();
    return std::make_unique<PostgresDialect>();
}

namespace {
// The same FTS5 command ("optimize", "rebuild") for each of the books' search tables.
QStringList searchTableCommand(const char* command)
{
    QStringList statements;
    for (const char* table : {"books_title_fts", "books_fts", "books_grams_fts"})
        statements.append(
            QStringLiteral("INSERT INTO %1 (%1) VALUES ('%2')").arg(QLatin1String(table), QLatin1String(command)));
    return statements;
}
} // namespace

QString SqliteDialect::description(const DatabaseSettings& settings) const
{
    return QStringLiteral("SQLite %1").arg(settings.location());
}

QString SqliteDialect::prepare(QSqlDatabase& db, const DatabaseSettings&) const
{
    // A writer that finds the file locked waits for the other one instead of failing at once.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    return {};
}

QStringList SqliteDialect::sessionStatements(const DatabaseSettings&) const
{
    // WAL lets readers run beside the writer; FULL syncs every commit, so a loan the user was told
    // about survives a power cut.
    return {
        QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("PRAGMA synchronous=FULL"),
        QStringLiteral("PRAGMA foreign_keys=ON"),
        QStringLiteral("PRAGMA cache_size=-32768"),
        QStringLiteral("PRAGMA temp_store=MEMORY"),
        QStringLiteral("PRAGMA journal_size_limit=67108864"),
        // Readers map the file instead of copying each page they miss into their own cache: the pool's
        // connections share the pages the system already holds. As much of the file as SQLite maps
        // (2 GiB): a million books take 0.7 GB, and a lookup beyond the map reads each page it misses.
        QStringLiteral("PRAGMA mmap_size=2147418112"),
    };
}

QString SqliteDialect::tableExistsQuery() const
{
    return QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?");
}

QStringList SqliteDialect::afterBulkLoad() const
{
    // A bulk load leaves each FTS index in many segments, and a search reads every one of them:
    // merging them into one halves the time of a trigram match.
    return searchTableCommand("optimize");
}

QString SqliteDialect::bookDerivedObjectsQuery() const
{
    // Unique constraints have no statement of their own (sql is NULL) and stay: they guard the load.
    return QStringLiteral("SELECT name, type, sql FROM sqlite_master WHERE tbl_name = 'books' "
                          "AND type IN ('index', 'trigger') AND sql IS NOT NULL");
}

QStringList SqliteDialect::refillAfterBulkLoad() const
{
    return searchTableCommand("rebuild");
}

QString PostgresDialect::description(const DatabaseSettings& settings) const
{
    return QStringLiteral("PostgreSQL %1 as user %2").arg(settings.location(), settings.user);
}

QString PostgresDialect::prepare(QSqlDatabase& db, const DatabaseSettings& settings) const
{
    if (!settings.schema.isEmpty() && !plainIdentifier().match(settings.schema).hasMatch())
        return QStringLiteral("the schema name \"%1\" is not lower-case letters, digits and underscores")
            .arg(settings.schema);
    db.setHostName(settings.host);
    if (settings.port > 0)
        db.setPort(settings.port);
    db.setUserName(settings.user);
    db.setPassword(settings.password);
    // A database host that does not answer must not hold a request (or the start) for minutes;
    // the application name tells an operator which server process holds a connection.
    db.setConnectOptions(
        QStringLiteral("connect_timeout=5;application_name=library-server/%1").arg(QCoreApplication::applicationPid()));
    return {};
}

QStringList PostgresDialect::sessionStatements(const DatabaseSettings& settings) const
{
    // "already exists, skipping" and the like are no news for the log. (Searches are planned for their
    // own text: see PostgresStatements.)
    QStringList statements = {QStringLiteral("SET client_min_messages = warning")};
    if (!settings.schema.isEmpty())
        statements.append(QStringLiteral("SET search_path = \"%1\", public").arg(settings.schema));
    return statements;
}

QStringList PostgresDialect::migrationPrelude(const DatabaseSettings& settings) const
{
    // The whole migration is one transaction (PostgreSQL's DDL is transactional) under a lock that a
    // second server starting at the same moment waits for; it then finds the schema current.
    QStringList statements = {QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(MigrationLock)};
    if (!settings.schema.isEmpty())
        statements.append(QStringLiteral("CREATE SCHEMA IF NOT EXISTS \"%1\"").arg(settings.schema));
    return statements;
}

QString PostgresDialect::tableExistsQuery() const
{
    // Looked up through the search path: the driver's table list covers every schema.
    return QStringLiteral("SELECT 1 WHERE to_regclass(?) IS NOT NULL");
}

QString PostgresDialect::gramsCondition(const QString& column) const
{
    // The expression of the books' gram indexes.
    return QStringLiteral("string_to_array(b.%1, ' ') @> ARRAY[CAST(? AS text)]").arg(column);
}
