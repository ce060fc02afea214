#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariantMap>

#include <optional>

// The PostgreSQL database that server tests may use, named by the environment variable
// LIBRARY_TEST_PG ("host=... port=... user=... password=... dbname=..."). Each test server gets a
// schema of its own in it, so tests run side by side and leave nothing behind.
class PgTestDatabase
{
public:
    // nullopt when LIBRARY_TEST_PG is not set.
    static std::optional<PgTestDatabase> fromEnvironment();
    // Whether the server tests of this process run against PostgreSQL: LIBRARY_TEST_BACKEND=postgres.
    static bool requested();

    // The [database] keys of server.ini for this database and the given schema.
    QVariantMap serverSettings(const QString& schema) const;
    // A schema name no other test uses.
    static QString uniqueSchemaName();

    // A connection of the test itself, for looking at or disturbing what the servers do. Empty text
    // on success, else what failed.
    QString open();
    QSqlDatabase& connection() { return m_db; }
    bool dropSchema(const QString& schema);
    // Ends every database connection of the given server process; the number ended, or -1 on error.
    int terminateConnectionsOf(qint64 serverPid);
    // Every row of every table in the schema as text, for looking for things that must not be stored.
    QByteArray dumpSchema(const QString& schema);

    ~PgTestDatabase();
    PgTestDatabase(const PgTestDatabase&);
    // Copies name the same database; each opens a connection of its own.
    PgTestDatabase& operator=(const PgTestDatabase& other);

private:
    PgTestDatabase() = default;
    void close();

    QString m_host, m_user, m_password, m_name;
    int m_port = 0;
    QString m_connectionName;
    QSqlDatabase m_db;
};
