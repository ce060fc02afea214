#include "storage.h"

#include "serverclock.h"
#include "preparedstatements.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>

// Resources of a static library are registered by hand; Q_INIT_RESOURCE must sit outside namespaces.
static void initSchemaResources()
{
    Q_INIT_RESOURCE(schema);
}

namespace {

// Splits a schema file into statements: a statement ends with a semicolon at the end of a line,
// except inside a trigger, which ends with "END;".
QStringList splitStatements(const QString& script)
{
    QStringList statements;
    QString current;
    bool inTrigger = false;
    for (const QString& rawLine : script.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (current.isEmpty() && (line.isEmpty() || line.startsWith(QLatin1String("--"))))
            continue;
        current += rawLine + QLatin1Char('\n');
        if (current.trimmed().startsWith(QLatin1String("CREATE TRIGGER"), Qt::CaseInsensitive))
            inTrigger = true;
        const bool ends =
            inTrigger ? line.compare(QLatin1String("END;"), Qt::CaseInsensitive) == 0 : line.endsWith(QLatin1Char(';'));
        if (ends) {
            statements.append(current.trimmed());
            current.clear();
            inTrigger = false;
        }
    }
    if (!current.trimmed().isEmpty())
        statements.append(current.trimmed());
    return statements;
}

} // namespace

Storage::Storage(const DatabaseSettings& settings, const QString& connectionName)
    : m_settings(settings)
    , m_connectionName(connectionName)
    , m_trigramCounts(std::make_shared<TrigramCounts>())
    , m_titleOrder(std::make_shared<TitleOrder>())
    , m_trigramSample(std::make_shared<TrigramSample>())
{
    initSchemaResources();
    m_dialect = SqlDialect::create(settings);
}

Storage::~Storage()
{
    m_statements.reset();
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
    }
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

QString Storage::description() const
{
    return m_dialect->description(m_settings);
}

bool Storage::open()
{
    m_db = QSqlDatabase::addDatabase(m_settings.driver, m_connectionName);
    if (!m_db.isValid()) {
        fail(QStringLiteral("open"), QStringLiteral("no database driver %1").arg(m_settings.driver));
        return false;
    }
    m_db.setDatabaseName(m_settings.name);
    if (const QString problem = m_dialect->prepare(m_db, m_settings); !problem.isEmpty()) {
        fail(QStringLiteral("open"), problem);
        return false;
    }
    if (!m_db.open()) {
        fail(m_dialect->openVerb(), m_db.lastError().text());
        return false;
    }
    return attachStatements() && configureSession();
}

bool Storage::attachStatements()
{
    m_statements = PreparedStatements::forHandle(m_db.driver()->handle());
    if (m_statements)
        return true;
    fail(QStringLiteral("open"),
         QStringLiteral("the server does not run on database driver %1 (%2)")
             .arg(m_settings.driver, QString::fromLatin1(m_db.driver()->handle().typeName())));
    return false;
}

// Settings of the connection itself, made again whenever it is reopened.
bool Storage::configureSession()
{
    for (const QString& statement : m_dialect->sessionStatements(m_settings)) {
        if (!execDirect(statement))
            return false;
    }
    return true;
}

bool Storage::checkConnection()
{
    if (!m_dialect->canLoseConnection() || m_lost)
        return !m_lost;
    PreparedStatements::Failure failure;
    if (m_statements->execute(QStringLiteral("SELECT 1"), &failure))
        return true;
    m_lost = true;
    m_nextReopen = QDeadlineTimer(0);
    return false;
}

bool Storage::ensureConnected()
{
    if (!m_lost)
        return true;
    if (!m_nextReopen.hasExpired()) {
        fail(QStringLiteral("connect"), QStringLiteral("the database is out of reach; trying again shortly"));
        return false;
    }
    // Prepared statements belong to the connection that is gone.
    m_statements->clear();
    m_inGroup = false;
    m_db.close();
    m_nextReopen = QDeadlineTimer(1000);
    if (!m_db.open()) {
        fail(QStringLiteral("connect"), m_db.lastError().text());
        return false;
    }
    if (!attachStatements() || !configureSession()) {
        m_db.close();
        return false;
    }
    m_lost = false;
    return true;
}

bool Storage::hasTable(const QString& table)
{
    return scalar(m_dialect->tableExistsQuery(), {table}) == 1;
}

bool Storage::lockAccount(const QString& id)
{
    const QString lock = m_dialect->rowLockSuffix();
    return lock.isEmpty()
        || select(QStringLiteral("SELECT 1 FROM accounts WHERE id = ?") + lock, {id}, [](const SqlRow&) {});
}

bool Storage::lockBook(const QString& number)
{
    const QString lock = m_dialect->rowLockSuffix();
    return lock.isEmpty()
        || select(QStringLiteral("SELECT 1 FROM books WHERE number = ?") + lock, {number}, [](const SqlRow&) {});
}

bool Storage::lockTitleOf(const QString& number)
{
    const QString lock = m_dialect->rowLockSuffix();
    return lock.isEmpty()
        || select(QStringLiteral("SELECT 1 FROM books WHERE number = ? OR isbn = (SELECT isbn FROM books WHERE "
                                 "number = ?) ORDER BY number")
                      + lock,
                  {number, number}, [](const SqlRow&) {});
}

int Storage::schemaVersion()
{
    if (!hasTable(QStringLiteral("schema_version")))
        return 0;
    return int(scalar(QStringLiteral("SELECT MAX(version) FROM schema_version")));
}

bool Storage::migrate()
{
    // Where the dialect asks for it, the whole migration is one transaction that starts with its
    // prelude (a lock that lets several servers start at once); elsewhere each step commits alone.
    std::optional<WriteTransaction> whole;
    const QStringList prelude = m_dialect->migrationPrelude(m_settings);
    if (!prelude.isEmpty()) {
        whole.emplace(*this);
        if (!whole->isOpen())
            return false;
        for (const QString& statement : prelude) {
            if (!execDirect(statement))
                return false;
        }
    }
    if (!execDirect(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)")))
        return false;
    // Every step not applied yet, in order: a step numbered below the newest applied one can still be
    // missing (steps of parallel work land in any order).
    QSet<int> applied;
    select(QStringLiteral("SELECT version FROM schema_version"), {},
           [&](const SqlRow& q) { applied.insert(q.value(0).toInt()); });
    QDir dir(m_dialect->schemaDirectory());
    const QStringList files = dir.entryList({QStringLiteral("*.sql")}, QDir::Files, QDir::Name);
    if (files.isEmpty()) {
        fail(QStringLiteral("migrate"), QStringLiteral("no schema for driver %1").arg(m_settings.driver));
        return false;
    }
    static const QRegularExpression numbered(QStringLiteral("^(\\d+)_"));
    for (const QString& name : files) {
        const QRegularExpressionMatch match = numbered.match(name);
        if (!match.hasMatch())
            continue;
        const int version = match.captured(1).toInt();
        if (applied.contains(version))
            continue;
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("migrate"), QStringLiteral("cannot read %1").arg(name));
            return false;
        }
        std::optional<WriteTransaction> step;
        if (!whole) {
            step.emplace(*this);
            if (!step->isOpen())
                return false;
        }
        for (const QString& statement : splitStatements(QString::fromUtf8(file.readAll()))) {
            if (!execDirect(statement))
                return false;
        }
        if (!change(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"), {version})
            || (step && !step->commit()))
            return false;
    }
    std::optional<WriteTransaction> fill;
    if (!whole) {
        fill.emplace(*this);
        if (!fill->isOpen())
            return false;
    }
    if (!fillSearchForms() || !fillIdKeys() || (fill && !fill->commit()))
        return false;
    return !whole || whole->commit();
}

bool Storage::execDirect(const QString& sql)
{
    PreparedStatements::Failure failure;
    if (m_statements->execute(sql, &failure))
        return true;
    fail(failure.stage, failure.message);
    return false;
}

bool Storage::run(const QString& sql, const QVariantList& values, const RowHandler* row, int* rowsAffected)
{
    PreparedStatements::Failure failure;
    if (m_statements->run(sql, values, row, rowsAffected, &failure))
        return true;
    fail(failure.stage, failure.message);
    return false;
}

bool Storage::select(const QString& sql, const QVariantList& values, const RowHandler& row)
{
    return run(sql, values, &row, nullptr);
}

qint64 Storage::scalar(const QString& sql, const QVariantList& values)
{
    qint64 result = 0;
    select(sql, values, [&](const SqlRow& q) { result = q.value(0).toLongLong(); });
    return result;
}

bool Storage::change(const QString& sql, const QVariantList& values, int* rowsAffected)
{
    return run(sql, values, nullptr, rowsAffected);
}

void Storage::fail(const QString& what, const QString& error)
{
    m_failed = true;
    m_lastError = what + QStringLiteral(": ") + error;
}

bool Storage::beginGroup()
{
    m_inGroup = false;
    if (!beginWrite())
        return false;
    m_inGroup = true;
    return true;
}

bool Storage::commitGroup()
{
    m_inGroup = false;
    return commit();
}

bool Storage::beginWrite()
{
    if (m_inGroup)
        return execDirect(QStringLiteral("SAVEPOINT change"));
    return execDirect(m_dialect->beginWrite());
}

bool Storage::commit()
{
    if (m_inGroup)
        return execDirect(QStringLiteral("RELEASE SAVEPOINT change"));
    return execDirect(QStringLiteral("COMMIT"));
}

void Storage::rollback()
{
    if (m_inGroup) {
        execDirect(QStringLiteral("ROLLBACK TO SAVEPOINT change"));
        execDirect(QStringLiteral("RELEASE SAVEPOINT change"));
        return;
    }
    execDirect(QStringLiteral("ROLLBACK"));
}

Storage::WriteTransaction::WriteTransaction(Storage& storage)
    : m_storage(storage)
    , m_open(storage.beginWrite())
{
}

Storage::WriteTransaction::~WriteTransaction()
{
    if (m_open)
        m_storage.rollback();
}

bool Storage::WriteTransaction::commit()
{
    if (!m_open)
        return false;
    m_open = false;
    if (m_storage.commit())
        return true;
    m_storage.rollback();
    return false;
}

CatalogueCounts Storage::counts()
{
    CatalogueCounts c;
    c.books = bookCount();
    c.loans = scalar(QStringLiteral("SELECT COUNT(*) FROM loans"));
    c.accounts = accountCount();
    c.unconfirmed = scalar(QStringLiteral("SELECT COUNT(*) FROM accounts WHERE level = 'Guest'"));
    // Holds still in a queue: waiting for the copy, or inside or ahead of their pick-up window.
    const QString now = ServerClock::nowStamp();
    c.overdue = scalar(QStringLiteral("SELECT COUNT(*) FROM loans WHERE due_at <> '' AND due_at < ?"), {now});
    c.holds = scalar(QStringLiteral("SELECT COUNT(*) FROM holds WHERE ready_until IS NULL OR ready_until >= ?"), {now});
    return c;
}

std::optional<int> Storage::yearValue(const QString& year)
{
    const QString text = year.trimmed();
    qsizetype digits = 0;
    while (digits < text.size() && digits < 9 && text.at(digits).isDigit() && text.at(digits).unicode() < 128)
        ++digits;
    if (digits == 0)
        return std::nullopt;
    return text.left(digits).toInt();
}

QString SqlValue::containsPattern(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}
