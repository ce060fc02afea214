#include "pgtestdatabase.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

namespace {
QAtomicInt connectionSerial;
}

std::optional<PgTestDatabase> PgTestDatabase::fromEnvironment()
{
    const QString text = qEnvironmentVariable("LIBRARY_TEST_PG").trimmed();
    if (text.isEmpty())
        return std::nullopt;
    PgTestDatabase db;
    for (const QString& pair : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = pair.section(QLatin1Char('='), 0, 0);
        const QString value = pair.section(QLatin1Char('='), 1);
        if (key == QLatin1String("host"))
            db.m_host = value;
        else if (key == QLatin1String("port"))
            db.m_port = value.toInt();
        else if (key == QLatin1String("user"))
            db.m_user = value;
        else if (key == QLatin1String("password"))
            db.m_password = value;
        else if (key == QLatin1String("dbname"))
            db.m_name = value;
    }
    return db;
}

bool PgTestDatabase::requested()
{
    return qEnvironmentVariable("LIBRARY_TEST_BACKEND") == QLatin1String("postgres");
}

PgTestDatabase::PgTestDatabase(const PgTestDatabase& other)
    : m_host(other.m_host)
    , m_user(other.m_user)
    , m_password(other.m_password)
    , m_name(other.m_name)
    , m_port(other.m_port)
{
}

PgTestDatabase& PgTestDatabase::operator=(const PgTestDatabase& other)
{
    if (this != &other) {
        close();
        m_host = other.m_host;
        m_user = other.m_user;
        m_password = other.m_password;
        m_name = other.m_name;
        m_port = other.m_port;
    }
    return *this;
}

PgTestDatabase::~PgTestDatabase()
{
    close();
}

void PgTestDatabase::close()
{
    if (m_connectionName.isEmpty())
        return;
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
}

QVariantMap PgTestDatabase::serverSettings(const QString& schema) const
{
    return {
        {QStringLiteral("database/driver"), QStringLiteral("QPSQL")},
        {QStringLiteral("database/host"), m_host},
        {QStringLiteral("database/port"), m_port},
        {QStringLiteral("database/user"), m_user},
        {QStringLiteral("database/password"), m_password},
        {QStringLiteral("database/name"), m_name},
        {QStringLiteral("database/schema"), schema},
    };
}

QString PgTestDatabase::uniqueSchemaName()
{
    static QAtomicInt serial;
    return QStringLiteral("test_%1_%2_%3")
        .arg(QCoreApplication::applicationPid())
        .arg(serial.fetchAndAddRelaxed(1))
        .arg(QRandomGenerator::global()->generate() % 1000000);
}

QString PgTestDatabase::open()
{
    if (m_db.isOpen())
        return {};
    if (m_connectionName.isEmpty()) {
        m_connectionName = QStringLiteral("pg-test-%1").arg(connectionSerial.fetchAndAddRelaxed(1));
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
    }
    if (!m_db.isValid())
        return QStringLiteral("no QPSQL driver");
    m_db.setHostName(m_host);
    m_db.setPort(m_port);
    m_db.setUserName(m_user);
    m_db.setPassword(m_password);
    m_db.setDatabaseName(m_name);
    if (!m_db.open())
        return m_db.lastError().text();
    QSqlQuery(m_db).exec(QStringLiteral("SET client_min_messages = warning"));
    return {};
}

bool PgTestDatabase::dropSchema(const QString& schema)
{
    if (!open().isEmpty())
        return false;
    return QSqlQuery(m_db).exec(QStringLiteral("DROP SCHEMA IF EXISTS \"%1\" CASCADE").arg(schema));
}

int PgTestDatabase::terminateConnectionsOf(qint64 serverPid)
{
    if (!open().isEmpty())
        return -1;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FILTER (WHERE pg_terminate_backend(pid)) FROM pg_stat_activity "
                                 "WHERE application_name = ?"));
    query.addBindValue(QStringLiteral("library-server/%1").arg(serverPid));
    if (!query.exec() || !query.next())
        return -1;
    return query.value(0).toInt();
}

QByteArray PgTestDatabase::dumpSchema(const QString& schema)
{
    QByteArray dump;
    if (!open().isEmpty())
        return dump;
    QSqlQuery tables(m_db);
    tables.prepare(QStringLiteral("SELECT table_name FROM information_schema.tables WHERE table_schema = ?"));
    tables.addBindValue(schema);
    if (!tables.exec())
        return dump;
    while (tables.next()) {
        QSqlQuery rows(m_db);
        if (!rows.exec(QStringLiteral("SELECT t::text FROM \"%1\".\"%2\" t").arg(schema, tables.value(0).toString())))
            continue;
        while (rows.next())
            dump += rows.value(0).toString().toUtf8() + '\n';
    }
    return dump;
}
