#pragma once

#include "serversettings.h"

#include <QSqlDatabase>
#include <QStringList>

#include <memory>

// What differs between the SQL databases the server runs on. Storage holds the SQL they share and asks
// its dialect for the rest: how to connect, how a write transaction starts, whether rows can be locked.
class SqlDialect
{
public:
    virtual ~SqlDialect() = default;
    static std::unique_ptr<SqlDialect> create(const DatabaseSettings& settings);

    virtual QString description(const DatabaseSettings& settings) const = 0;
    // Sets up a connection before it opens; an empty string, or why the settings cannot work.
    virtual QString prepare(QSqlDatabase& db, const DatabaseSettings& settings) const = 0;
    // What failed when open() fails: a file that could not be opened, or a server out of reach.
    virtual QString openVerb() const = 0;
    // Run on every new (or reopened) connection.
    virtual QStringList sessionStatements(const DatabaseSettings& settings) const = 0;
    // The folder of the numbered schema resources.
    virtual QString schemaDirectory() const = 0;
    // Statements run first inside a migration that is one transaction, or an empty list when each
    // schema step commits on its own.
    virtual QStringList migrationPrelude(const DatabaseSettings& settings) const = 0;
    virtual QString tableExistsQuery() const = 0; // one bound value, the table name; yields 1 or nothing
    // The statement that starts a write transaction.
    virtual QString beginWrite() const = 0;
    // Whether the rows a decision rests on must be locked (several writers, several servers), and how.
    virtual QString rowLockSuffix() const = 0; // empty: the transaction already holds the only write lock
    virtual QString likeOperator() const = 0; // a substring match ignoring case
    // Whether the connection can be lost and reopened (a database server) or not (a file).
    virtual bool canLoseConnection() const = 0;
    // Whether searches narrow the books through the trigram FTS tables first.
    virtual bool narrowsByTrigramTables() const = 0;
    // The indexed condition that a grams column (SearchText::grams) holds one bound word, or empty when
    // the FTS tables find them and a substring match does.
    virtual QString gramsCondition(const QString& column) const = 0;
    // Statements that make searches fast again after many books were added at once.
    virtual QStringList afterBulkLoad() const = 0;
    // For loading a whole catalogue into an empty one: the query that lists the indexes and triggers
    // on books that may be dropped during the load and made again at its end (yields name, type and
    // the statement that creates it), or empty to keep them; and the statements that then fill the
    // search tables the triggers would have filled.
    virtual QString bookDerivedObjectsQuery() const { return {}; }
    virtual QStringList refillAfterBulkLoad() const { return {}; }
};

class SqliteDialect : public SqlDialect
{
public:
    QString description(const DatabaseSettings& settings) const override;
    QString prepare(QSqlDatabase& db, const DatabaseSettings& settings) const override;
    QString openVerb() const override { return QStringLiteral("open"); }
    QStringList sessionStatements(const DatabaseSettings& settings) const override;
    QString schemaDirectory() const override { return QStringLiteral(":/sql/sqlite"); }
    QStringList migrationPrelude(const DatabaseSettings&) const override { return {}; }
    QString tableExistsQuery() const override;
    QString beginWrite() const override { return QStringLiteral("BEGIN IMMEDIATE"); }
    QString rowLockSuffix() const override { return {}; }
    QString likeOperator() const override { return QStringLiteral("LIKE"); }
    bool canLoseConnection() const override { return false; }
    bool narrowsByTrigramTables() const override { return true; }
    QString gramsCondition(const QString&) const override { return {}; }
    QStringList afterBulkLoad() const override;
    QString bookDerivedObjectsQuery() const override;
    QStringList refillAfterBulkLoad() const override;
};

class PostgresDialect : public SqlDialect
{
public:
    QString description(const DatabaseSettings& settings) const override;
    QString prepare(QSqlDatabase& db, const DatabaseSettings& settings) const override;
    QString openVerb() const override { return QStringLiteral("connect"); }
    QStringList sessionStatements(const DatabaseSettings& settings) const override;
    QString schemaDirectory() const override { return QStringLiteral(":/sql/postgres"); }
    QStringList migrationPrelude(const DatabaseSettings& settings) const override;
    QString tableExistsQuery() const override;
    QString beginWrite() const override { return QStringLiteral("BEGIN"); }
    QString rowLockSuffix() const override { return QStringLiteral(" FOR UPDATE"); }
    QString likeOperator() const override { return QStringLiteral("ILIKE"); }
    bool canLoseConnection() const override { return true; }
    bool narrowsByTrigramTables() const override { return false; }
    QString gramsCondition(const QString& column) const override;
    QStringList afterBulkLoad() const override { return {QStringLiteral("ANALYZE books")}; }
};
