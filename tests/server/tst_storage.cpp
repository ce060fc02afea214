#include "catalogueimport.h"
#include "loginthrottle.h"
#include "passwordhasher.h"
#include "databasepool.h"
#include "pgtestdatabase.h"
#include "postgresstatements.h"
#include "serverclock.h"
#include "sessionstore.h"
#include "sqlitestatements.h"
#include "storage.h"
#include "tempworkdir.h"
#include "titleorder.h"
#include "trigramcounts.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSettings>
#include <QSqlQuery>
#include <QTimeZone>
#include <QtTest>

#include <functional>
#include <utility>

// The pieces of the server that need no process: catalogue parsing, storage, passwords, sessions.
class TestStorage : public QObject
{
    Q_OBJECT

private slots:
    void csvParse_data();
    void csvParse();
    void csvHeaderMustNameEveryColumn();
    void yearValue_data();
    void yearValue();

    void sqliteStatements_data();
    void sqliteStatements();
    void postgresStatements_data();
    void postgresStatements();
    void schemaIsAppliedOnceAndReopens();
    void substringIndexFollowsChanges();
    void upgradeGivesStoredBooksTheirSearchForms();
    void commonAndRareTextsFindTheSameRows_data();
    void commonAndRareTextsFindTheSameRows();
    void manyMatchesComeInTitleOrder_data();
    void manyMatchesComeInTitleOrder();
    void trigramsFindOnlyTitlesThatHoldTheText_data();
    void trigramsFindOnlyTitlesThatHoldTheText();
    void rarestTrigrams_data();
    void rarestTrigrams();
    void returnedLoanMovesToHistory();
    void loanHistoryLeavesWithAgeAndAccount();
    void auditLoanHistoryIsPruned_data();
    void auditLoanHistoryIsPruned();
    void waitingHoldIsStoredAsNull();
    void storedTimesShareOneFormat();
    void importSkipsNumbersAlreadyStored();

    void passwordHashes();
    void sessionStores_data();
    void sessionStores();
    void loginWrittenDuringLookupStays_data();
    void loginWrittenDuringLookupStays();
    void throttle_data();
    void throttle();
};

void TestStorage::csvParse_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<QStringList>("problems");
    const QByteArray header = "title,author,type,publisher,year,number,permission\n";
    QTest::newRow("plain rows") << header + "A,a,t,p,2000,1,VIP\nB,b,t,p,2001,2,Undergraduate\n"
                                << QStringList{"1", "2"} << QStringList();
    QTest::newRow("no newline at the end") << header + "A,a,t,p,2000,1,VIP" << QStringList{"1"} << QStringList();
    QTest::newRow("Windows line ends") << QByteArray(header).replace("\n", "\r\n") + "A,a,t,p,2000,1,VIP\r\n"
                                       << QStringList{"1"} << QStringList();
    QTest::newRow("byte order mark") << "\xEF\xBB\xBF" + header + "A,a,t,p,2000,1,VIP\n"
                                     << QStringList{"1"} << QStringList();
    QTest::newRow("blank lines skipped") << header + "\nA,a,t,p,2000,1,VIP\n\n" << QStringList{"1"} << QStringList();
    QTest::newRow("quoted comma, quote and line break")
        << header + "\"A, \"\"the\"\"\nbook\",a,t,p,2000,1,VIP\nB,b,t,p,2001,2,VIP\n"
        << QStringList{"1", "2"} << QStringList();
    QTest::newRow("line numbers count lines inside quotes")
        << header + "\"A\n\nB\",a,t,p,2000,1,VIP\nC,c,t,p,2001,,VIP\n"
        << QStringList{"1"} << QStringList{"line 5: a book needs a title and a number"};
    QTest::newRow("too few and too many fields")
        << header + "A,a,t,p,2000,1\nB,b,t,p,2001,2,VIP,extra\nC,c,t,p,2002,3,VIP\n"
        << QStringList{"3"} << QStringList{"line 2: 6 fields, the header has 7", "line 3: 8 fields, the header has 7"};
    QTest::newRow("permission names") << header + "A,a,t,p,2000,1,研究生\nB,b,t,p,2000,2,\nC,c,t,p,2000,3,vip\n"
                                      << QStringList{"1", "2"} << QStringList{"line 4: unknown permission \"vip\""};
    QTest::newRow("duplicate number") << header + "A,a,t,p,2000,1,VIP\nB,b,t,p,2000,1,VIP\n"
                                      << QStringList{"1"} << QStringList{"line 3: book number 1 appears twice"};
    QTest::newRow("columns in another order, spaces trimmed")
        << QByteArray("Number, Title ,permission,author,type,publisher,year\n 7 , Z ,VIP,a,t,p,1999\n")
        << QStringList{"7"} << QStringList();
}

void TestStorage::csvParse()
{
    QFETCH(QByteArray, csv);
    QFETCH(QStringList, numbers);
    QFETCH(QStringList, problems);
    const CatalogueCsv::Result result = CatalogueCsv::parse(csv);
    QStringList parsed;
    for (const BookRow& book : result.books)
        parsed.append(book.number);
    QCOMPARE(parsed, numbers);
    QCOMPARE(result.problems, problems);
}

void TestStorage::csvHeaderMustNameEveryColumn()
{
    const CatalogueCsv::Result result = CatalogueCsv::parse("title,author,year,number\nA,a,2000,1\n");
    QCOMPARE(result.books.size(), 0);
    QCOMPARE(result.problems.size(), 1);
    QVERIFY(result.problems.first().startsWith(QLatin1String("line 1: the header must name")));
    // Fields keep their text exactly, quotes and line breaks included.
    const CatalogueCsv::Result quoted = CatalogueCsv::parse(
        "title,author,type,publisher,year,number,permission\n\"Say \"\"hi\"\",\nthen go\",,,,,9,VIP\n");
    QCOMPARE(quoted.books.value(0).title, QStringLiteral("Say \"hi\",\nthen go"));
    QCOMPARE(quoted.books.value(0).permission, QStringLiteral("VIP"));
}

void TestStorage::yearValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: none
    QTest::newRow("plain") << "1998" << 1998;
    QTest::newRow("with a suffix") << "2008年" << 2008;
    QTest::newRow("year and month") << "2008-05" << 2008;
    QTest::newRow("surrounding spaces") << " 1947 " << 1947;
    QTest::newRow("not a number") << "unknown" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("full-width digits are not a year") << "２００８" << -1;
}

void TestStorage::yearValue()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(Storage::yearValue(text).value_or(-1), value);
}

namespace {
BookRow book(const QString& number, const QString& title)
{
    return {
        title,  QStringLiteral("author"),       QStringLiteral("type"), QStringLiteral("press"), QStringLiteral("2000"),
        number, QStringLiteral("Undergraduate")};
}

QStringList numbersOf(const QList<BookRow>& rows)
{
    QStringList numbers;
    for (const BookRow& row : rows)
        numbers.append(row.number);
    return numbers;
}

// A database for one test: SQLite in a temporary working directory, or a schema of its own on the
// PostgreSQL database of LIBRARY_TEST_PG, dropped at the end. Declared before the Storage that uses
// it, so that the connection is closed first.
class ThrowawayDatabase
{
public:
    explicit ThrowawayDatabase(bool postgres)
        : m_pg(postgres ? PgTestDatabase::fromEnvironment() : std::nullopt)
        , m_schema(PgTestDatabase::uniqueSchemaName())
    {
    }
    ~ThrowawayDatabase()
    {
        if (m_pg && m_pg->open().isEmpty())
            m_pg->dropSchema(m_schema);
    }

    // Read as the server reads its server.ini.
    DatabaseSettings settings() const
    {
        if (!m_pg)
            return {};
        {
            QSettings ini(QStringLiteral("server.ini"), QSettings::IniFormat);
            const QVariantMap keys = m_pg->serverSettings(m_schema);
            for (auto it = keys.cbegin(); it != keys.cend(); ++it)
                ini.setValue(it.key(), it.value());
        }
        return ServerSettings::load(QStringLiteral("server.ini")).database;
    }

private:
    TempWorkDir m_dir;
    std::optional<PgTestDatabase> m_pg;
    QString m_schema;
};

// Rows for both databases, PostgreSQL's only when LIBRARY_TEST_PG names one.
template <class AddRows> void onBothDatabases(const AddRows& addRows)
{
    for (const bool postgres : {false, true}) {
        if (postgres && !PgTestDatabase::fromEnvironment())
            continue;
        addRows(postgres, [postgres](const char* name) -> QTestData& {
            return QTest::newRow(qPrintable(QLatin1String(name) + QLatin1String(postgres ? ", PostgreSQL" : "")))
                << postgres;
        });
    }
}
} // namespace

// Values go in and come out of SQLite as Qt's driver passed them; what is not one statement with
// matching values is refused, not half run.
void TestStorage::sqliteStatements_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QString>("storedAs"); // SQLite's typeof(); empty when refused
    QTest::addColumn<QVariant>("readBack");
    QTest::addColumn<QString>("refusedAt");

    const QString echo = QStringLiteral("SELECT ?1, typeof(?1)");
    QTest::newRow("null") << echo << QVariantList{QVariant()} << QStringLiteral("null") << QVariant() << QString();
    QTest::newRow("null string is empty text")
        << echo << QVariantList{QString()} << QStringLiteral("text") << QVariant(QStringLiteral("")) << QString();
    QTest::newRow("text") << echo << QVariantList{QStringLiteral("数据结构 Ünïcode")} << QStringLiteral("text")
                          << QVariant(QStringLiteral("数据结构 Ünïcode")) << QString();
    QTest::newRow("int") << echo << QVariantList{42} << QStringLiteral("integer") << QVariant(qlonglong(42))
                         << QString();
    QTest::newRow("large") << echo << QVariantList{qlonglong(1) << 40} << QStringLiteral("integer")
                           << QVariant(qlonglong(1) << 40) << QString();
    QTest::newRow("bool") << echo << QVariantList{true} << QStringLiteral("integer") << QVariant(qlonglong(1))
                          << QString();
    QTest::newRow("double") << echo << QVariantList{2.5} << QStringLiteral("real") << QVariant(2.5) << QString();
    QTest::newRow("bytes") << echo << QVariantList{QByteArray("\0\1", 2)} << QStringLiteral("blob")
                           << QVariant(QByteArray("\0\1", 2)) << QString();
    QTest::newRow("two statements") << QStringLiteral("SELECT 1; SELECT 2") << QVariantList{} << QString() << QVariant()
                                    << QStringLiteral("prepare");
    QTest::newRow("syntax") << QStringLiteral("SELEC 1") << QVariantList{} << QString() << QVariant()
                            << QStringLiteral("prepare");
    QTest::newRow("too few values") << echo << QVariantList{} << QString() << QVariant() << QStringLiteral("query");
    QTest::newRow("too many values") << echo << QVariantList{1, 2} << QString() << QVariant()
                                     << QStringLiteral("query");
}

void TestStorage::sqliteStatements()
{
    QFETCH(QString, sql);
    QFETCH(QVariantList, values);
    QFETCH(QString, storedAs);
    QFETCH(QVariant, readBack);
    QFETCH(QString, refusedAt);

    const QString name = QStringLiteral("statements");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(db.open());
        SqliteStatements statements(*static_cast<sqlite3* const*>(db.driver()->handle().constData()));
        QList<QVariantList> rows;
        const RowHandler collect = [&](const SqlRow& row) { rows.append({row.value(0), row.value(1), row.text(0)}); };
        SqliteStatements::Failure failure;
        for (int round = 0; round < 2; ++round) { // the second from the kept statement
            rows.clear();
            const bool ran = statements.run(sql, values, &collect, nullptr, &failure);
            QCOMPARE(ran, refusedAt.isEmpty());
            if (!ran) {
                QCOMPARE(failure.stage, refusedAt);
                continue;
            }
            QCOMPARE(rows.size(), 1);
            QCOMPARE(rows[0][1].toString(), storedAs);
            QCOMPARE(rows[0][0].typeId(), readBack.typeId());
            QCOMPARE(rows[0][0], readBack);
            QCOMPARE(rows[0][2].toString(), readBack.toString());
        }
        statements.clear();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

void TestStorage::postgresStatements_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QVariant>("readBack");
    QTest::addColumn<QString>("refusedAt");

    const auto row = [](const char* name, const char* sql, const QVariantList& values, const QVariant& readBack,
                        const char* refusedAt = "") {
        QTest::newRow(name) << QString::fromUtf8(sql) << values << readBack << QString::fromLatin1(refusedAt);
    };
    row("? in a string stays", "SELECT '?''?' || ?", {QStringLiteral("x")}, QStringLiteral("?'?x"));
    row("? in an escaped string stays", "SELECT E'\\'?' || ?", {QStringLiteral("x")}, QStringLiteral("'?x"));
    row("? in a quoted name and comments stays", "SELECT CAST(? AS BIGINT) AS \"a?\" /* ? */ -- ?\n", {5},
        qlonglong(5));
    row("null", "SELECT COALESCE(CAST(? AS TEXT), 'null')", {QVariant()}, QStringLiteral("null"));
    row("null string is empty text", "SELECT COALESCE(CAST(? AS TEXT), 'null')", {QString()}, QStringLiteral(""));
    row("text", "SELECT CAST(? AS TEXT)", {QStringLiteral("数据结构 Ünïcode")}, QStringLiteral("数据结构 Ünïcode"));
    row("large", "SELECT CAST(? AS BIGINT) + 1", {qlonglong(1) << 40}, (qlonglong(1) << 40) + 1);
    row("bool", "SELECT CAST(? AS BOOLEAN)", {true}, true);
    row("bool as integer", "SELECT CAST(? AS INTEGER)", {true}, qlonglong(1));
    row("double", "SELECT CAST(? AS DOUBLE PRECISION)", {2.5}, 2.5);
    row("bytes", "SELECT CAST(? AS BYTEA)", {QByteArray("\0\1\xff'", 4)}, QByteArray("\0\1\xff'", 4));
    row("whole sum", "SELECT SUM(x) FROM (VALUES (CAST(? AS BIGINT)), (2)) v(x)", {40}, qlonglong(42));
    row("fraction", "SELECT CAST(? AS NUMERIC) / 4", {10}, 2.5);
    row("syntax", "SELEC 1", {}, QVariant(), "prepare");
    row("too many values", "SELECT CAST(? AS INTEGER)", {1, 2}, QVariant(), "query");
    row("fails as it runs", "SELECT 1 / CAST(? AS INTEGER)", {0}, QVariant(), "query");
}

void TestStorage::postgresStatements()
{
    QFETCH(QString, sql);
    QFETCH(QVariantList, values);
    QFETCH(QVariant, readBack);
    QFETCH(QString, refusedAt);

    std::optional<PgTestDatabase> pg = PgTestDatabase::fromEnvironment();
    if (!pg)
        QSKIP("LIBRARY_TEST_PG is not set");
    QCOMPARE(pg->open(), QString());
    PostgresStatements statements(*static_cast<pg_conn* const*>(pg->connection().driver()->handle().constData()));
    QList<QVariant> rows;
    const RowHandler collect = [&](const SqlRow& row) { rows.append(row.value(0)); };
    PreparedStatements::Failure failure;
    for (int round = 0; round < 2; ++round) { // the second from the kept statement
        rows.clear();
        const bool ran = statements.run(sql, values, &collect, nullptr, &failure);
        QCOMPARE(ran, refusedAt.isEmpty());
        if (!ran) {
            QCOMPARE(failure.stage, refusedAt);
            continue;
        }
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].typeId(), readBack.typeId());
        QCOMPARE(rows[0], readBack);
    }
    // The connection serves the next statement after any of these, and a transaction in which one
    // failed does not commit.
    QVERIFY(statements.execute(QStringLiteral("BEGIN"), &failure));
    statements.run(sql, values, nullptr, nullptr, &failure);
    QCOMPARE(statements.execute(QStringLiteral("COMMIT"), &failure), refusedAt.isEmpty());
    statements.clear();
}

void TestStorage::schemaIsAppliedOnceAndReopens()
{
    TempWorkDir dir;
    DatabaseSettings settings;
    int version = 0;
    {
        Storage storage(settings, QStringLiteral("first"));
        QVERIFY2(storage.open() && storage.migrate(), qPrintable(storage.lastError()));
        version = storage.schemaVersion();
        QVERIFY(version >= 1);
        QVERIFY(storage.insertBook(book(QStringLiteral("1"), QStringLiteral("Kept"))));
    }
    {
        // As a database upgraded by a build that lacked one step below its newest (steps of parallel
        // work land in any order) would be: that step is applied at the next start all the same.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
        db.setDatabaseName(settings.name);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const char* statement : {"DROP TABLE holds", "DROP INDEX loans_due", "DROP INDEX loans_account_due",
                                      "ALTER TABLE loans DROP COLUMN renewals", "ALTER TABLE loans DROP COLUMN due_at",
                                      "DELETE FROM schema_version WHERE version = 3"})
            QVERIFY2(q.exec(QLatin1String(statement)), statement);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("older"));
    Storage storage(settings, QStringLiteral("second"));
    QVERIFY2(storage.open() && storage.migrate(), qPrintable(storage.lastError()));
    QCOMPARE(storage.schemaVersion(), version);
    QCOMPARE(storage.bookCount(), 1);
    QCOMPARE(storage.holdsOn(QStringLiteral("1")).size(), 0);
    QCOMPARE(storage.loansWithoutDueDate().size(), 0);
    QVERIFY2(!storage.failed(), qPrintable(storage.lastError()));
}

void TestStorage::substringIndexFollowsChanges()
{
    TempWorkDir dir;
    Storage storage(DatabaseSettings{}, QStringLiteral("index"));
    QVERIFY(storage.open() && storage.migrate());
    QVERIFY(storage.insertBook(book(QStringLiteral("1"), QStringLiteral("Learning Qt Quickly"))));
    QVERIFY(storage.insertBook(book(QStringLiteral("2"), QStringLiteral("qt in depth"))));
    BookFilter filter;
    filter.title = QStringLiteral("QT ");
    // The title that begins with the text before the one that has it as a word.
    QCOMPARE(numbersOf(storage.searchBooks(filter, 10)), QStringList({"2", "1"}));
    QVERIFY(storage.deleteBook(QStringLiteral("1")));
    QCOMPARE(numbersOf(storage.searchBooks(filter, 10)), QStringList({"2"}));
    QVERIFY(storage.insertBook(book(QStringLiteral("3"), QStringLiteral("Qt Again"))));
    QCOMPARE(numbersOf(storage.searchBooks(filter, 10)), QStringList({"3", "2"}));
    // A corrected title is found by its new text only; a stocktake sighting or a loss leaves it found.
    QVERIFY(storage.updateBook(book(QStringLiteral("2"), QStringLiteral("Depth First"))));
    QVERIFY(storage.markSeen(QStringLiteral("3"), QStringLiteral("2026-01-01T00:00:00.000Z")));
    QVERIFY(storage.markLost(QStringLiteral("3"), QStringLiteral("2026-01-02T00:00:00.000Z")));
    QCOMPARE(numbersOf(storage.searchBooks(filter, 10)), QStringList({"3"}));
    filter.title = QStringLiteral("first");
    QCOMPARE(numbersOf(storage.searchBooks(filter, 10)), QStringList({"2"}));
    filter.title = QStringLiteral("QT ");
    // The row limit applies after ordering.
    QCOMPARE(numbersOf(storage.searchBooks(BookFilter{}, 1)), QStringList({"2"}));
    QVERIFY(!storage.failed());
}

// A database made by the first schema, with books in it, is upgraded: the stored books are found by
// their search forms, and books added afterwards too.
void TestStorage::upgradeGivesStoredBooksTheirSearchForms()
{
    TempWorkDir dir;
    Storage storage(DatabaseSettings{}, QStringLiteral("upgraded"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("version1"));
        db.setDatabaseName(QStringLiteral("library.db"));
        QVERIFY(db.open());
        QFile schema(QStringLiteral(":/sql/sqlite/001_initial.sql"));
        QVERIFY(schema.open(QIODevice::ReadOnly));
        QSqlQuery q(db);
        QString statement;
        for (const QString& line : QString::fromUtf8(schema.readAll()).split(QLatin1Char('\n'))) {
            if (statement.isEmpty() && (line.trimmed().isEmpty() || line.startsWith(QLatin1String("--"))))
                continue;
            statement += line + QLatin1Char('\n');
            const bool inTrigger = statement.trimmed().startsWith(QLatin1String("CREATE TRIGGER"));
            if (inTrigger ? line.trimmed() == QLatin1String("END;") : line.trimmed().endsWith(QLatin1Char(';'))) {
                QVERIFY2(q.exec(statement), qPrintable(q.lastError().text()));
                statement.clear();
            }
        }
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO schema_version VALUES (1)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO books (number, title, author, permission) VALUES "
                                      "('7-02-0', '三國演義', '羅貫中', 'VIP'), ('B-1', 'Café Society', '', 'VIP')")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("version1"));
    QVERIFY2(storage.open() && storage.migrate(), qPrintable(storage.lastError()));
    QVERIFY(storage.schemaVersion() > 1);
    QVERIFY(storage.insertBook(book(QStringLiteral("3"), QStringLiteral("三国志"))));
    const auto search = [&](const QString& title, const QString& author, const QString& number) {
        BookFilter filter;
        filter.title = title;
        filter.author = author;
        filter.number = number;
        return numbersOf(storage.searchBooks(filter, 10));
    };
    QCOMPARE(search(QStringLiteral("sgyy"), {}, {}), QStringList({"7-02-0"}));
    QCOMPARE(search(QStringLiteral("三国"), {}, {}), QStringList({"3", "7-02-0"})); // ties in title order
    QCOMPARE(search(QStringLiteral("sanguo"), QStringLiteral("luo"), {}), QStringList({"7-02-0"}));
    QCOMPARE(search(QStringLiteral("cafe"), {}, QStringLiteral("b1")), QStringList({"B-1"}));
    QVERIFY(storage.deleteBook(QStringLiteral("7-02-0")));
    QCOMPARE(search(QStringLiteral("三国"), {}, {}), QStringList({"3"}));
    QVERIFY(!storage.failed());
}

void TestStorage::commonAndRareTextsFindTheSameRows_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QStringList>("numbers");
    // Thousands of matches take the walk in title order, a handful take the index; both must give the
    // first rows by title, then number.
    QTest::newRow("common text") << "COMMON"
                                 << "" << QStringList{"c0000", "c0001", "c0002"};
    QTest::newRow("common text, rare author") << "common"
                                              << "Rare Hand" << QStringList{"c1500"};
    QTest::newRow("rare text") << "seldom"
                               << "" << QStringList{"r1", "r2"};
    QTest::newRow("rare text, common author") << "seldom"
                                              << "writer" << QStringList{"r1", "r2"};
    QTest::newRow("common text, short author") << "common"
                                               << "Ra" << QStringList{"c1500"};
    // Every title begins with these: the index of the beginnings fills the page, under the other
    // fields' conditions.
    QTest::newRow("common beginning") << "a common"
                                      << "" << QStringList{"c0000", "c0001", "c0002"};
    QTest::newRow("common beginning, rare author") << "a common"
                                                   << "Rare Hand" << QStringList{"c1500"};
    QTest::newRow("text in no title") << "absent"
                                      << "" << QStringList();
}

void TestStorage::commonAndRareTextsFindTheSameRows()
{
    QFETCH(QString, title);
    QFETCH(QString, author);
    QFETCH(QStringList, numbers);
    static TempWorkDir dir;
    static Storage storage(DatabaseSettings{}, QStringLiteral("many"));
    static bool filled = false;
    if (!filled) {
        QVERIFY(storage.open() && storage.migrate());
        Storage::WriteTransaction transaction(storage);
        for (int i = 0; i < 5000; ++i) {
            BookRow row = book(QStringLiteral("c%1").arg(i, 4, 10, QLatin1Char('0')),
                               QStringLiteral("A Common Title %1").arg(i, 4, 10, QLatin1Char('0')));
            row.author = i == 1500 ? QStringLiteral("Rare Hand") : QStringLiteral("Writer");
            QVERIFY(storage.insertBook(row));
        }
        BookRow r1 = book(QStringLiteral("r1"), QStringLiteral("Seldom Seen"));
        r1.author = QStringLiteral("Writer");
        BookRow r2 = book(QStringLiteral("r2"), QStringLiteral("Seldom Seen"));
        r2.author = QStringLiteral("Writer");
        QVERIFY(storage.insertBook(r2) && storage.insertBook(r1));
        QVERIFY(transaction.commit());
        filled = true;
    }
    BookFilter filter;
    filter.title = title;
    filter.author = author;
    QCOMPARE(numbersOf(storage.searchBooks(filter, 3)), numbers);
    QVERIFY(!storage.failed());
}

void TestStorage::manyMatchesComeInTitleOrder_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("rebuildMs"); // how soon the kept title order may be read again
    QTest::addColumn<QStringList>("numbers");
    // 3,500 titles hold the pair, none begins with it: the kept order or the walk gives the first three
    // by title, then number, after each change made since the order was kept.
    const QStringList first{"p0000", "p0001", "p0002"};
    onBothDatabases([&](bool, const auto& row) {
        row("as kept") << "" << 30000 << first;
        row("added, sorting first") << "add" << 30000 << QStringList{"n1", "p0000", "p0001"};
        row("added, sorting last") << "add last" << 30000 << first;
        row("renamed to sort first") << "rename" << 30000 << QStringList{"p3000", "p0000", "p0001"};
        row("renamed, order read again") << "rename" << 0 << QStringList{"p3000", "p0000", "p0001"};
        // On SQLite the new book is given the deleted one's ID, which was kept last.
        row("last deleted, its ID given again") << "delete, add" << 30000 << QStringList{"n1", "p0000", "p0001"};
        row("year condition") << "1999" << 30000 << QStringList{"p0999", "p1999", "p2999"};
    });
}

void TestStorage::manyMatchesComeInTitleOrder()
{
    QFETCH(bool, postgres);
    QFETCH(QString, change);
    QFETCH(int, rebuildMs);
    QFETCH(QStringList, numbers);
    const ThrowawayDatabase database(postgres);
    Storage storage(database.settings(), QStringLiteral("ordered"));
    storage.shareTitleOrder(std::make_shared<TitleOrder>(rebuildMs));
    QVERIFY(storage.open() && storage.migrate());
    {
        Storage::WriteTransaction transaction(storage);
        for (int i = 3499; i >= 0; --i) { // IDs against title order
            BookRow row = book(QStringLiteral("p%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("数据结构"));
            row.year = i % 1000 == 999 ? QStringLiteral("1999") : QStringLiteral("2000");
            QVERIFY(storage.insertBook(row));
            QVERIFY(storage.insertBook(book(QStringLiteral("a%1").arg(i), QStringLiteral("Also %1").arg(i))));
        }
        QVERIFY(storage.insertBook(book(QStringLiteral("z1"), QStringLiteral("量子力学")))); // the highest ID, last
        QVERIFY(transaction.commit());
    }
    BookFilter filter;
    filter.title = QStringLiteral("结构");
    QCOMPARE(numbersOf(storage.searchBooks(filter, 3)), QStringList({"p0000", "p0001", "p0002"}));
    if (change.startsWith(QLatin1String("delete")))
        QVERIFY(storage.deleteBook(QStringLiteral("z1")));
    if (change.endsWith(QLatin1String("add")))
        QVERIFY(storage.insertBook(book(QStringLiteral("n1"), QStringLiteral("古典结构"))));
    if (change == QLatin1String("add last"))
        QVERIFY(storage.insertBook(book(QStringLiteral("n1"), QStringLiteral("量子结构"))));
    if (change == QLatin1String("rename"))
        QVERIFY(storage.updateBook(book(QStringLiteral("p3000"), QStringLiteral("古典结构"))));
    if (change == QLatin1String("1999"))
        filter.yearTo = 1999;
    QCOMPARE(numbersOf(storage.searchBooks(filter, 3)), numbers);
    QVERIFY(!storage.failed());
}

void TestStorage::trigramsFindOnlyTitlesThatHoldTheText_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("numbers"); // sorted
    // The index finds the titles by a few of the text's trigrams; "Strict Culture Pure" holds str, tur
    // and ure of "structure" without holding it, and "e_wo" is no pattern.
    onBothDatabases([](bool, const auto& row) {
        row("inside a word") << "ructur" << QStringList{"d1", "d2"};
        row("whole word") << "structure" << QStringList{"d1"};
        row("across a space") << "es in c" << QStringList{"d1"};
        row("pattern characters") << "0% pure_w" << QStringList{"w1"};
        row("underscore is no wildcard") << "e_wo" << QStringList{"w1"};
        row("Chinese") << "结构力学" << QStringList{"c1"};
        row("pinyin") << "jiegouli" << QStringList{"c1"};
        row("held by no title") << "structured" << QStringList();
    });
}

void TestStorage::trigramsFindOnlyTitlesThatHoldTheText()
{
    QFETCH(bool, postgres);
    QFETCH(QString, text);
    QFETCH(QStringList, numbers);
    const ThrowawayDatabase database(postgres);
    Storage storage(database.settings(), QStringLiteral("trigrams"));
    QVERIFY(storage.open() && storage.migrate());
    const std::pair<const char*, const char*> titles[] = {{"d1", "Data Structures in C"},
                                                          {"d2", "Structural Engineering"},
                                                          {"x1", "Strict Culture Pure"},
                                                          {"w1", "100% Pure_Wool"},
                                                          {"w2", "Pure Wool"},
                                                          {"c1", "结构力学基础"},
                                                          {"c2", "古典诗词"}};
    for (const auto& [number, title] : titles)
        QVERIFY(storage.insertBook(book(QString::fromLatin1(number), QString::fromUtf8(title))));
    BookFilter filter;
    filter.title = text;
    QStringList found = numbersOf(storage.searchBooks(filter, 10));
    found.sort();
    QCOMPARE(found, numbers);
    QVERIFY(!storage.failed());
}

void TestStorage::rarestTrigrams_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("rows"); // rows holding each trigram; 1000 for those not named
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<int>("countedAgain"); // trigrams counted again by a second search (the small counts)
    QTest::newRow("the rarest and the rarest apart") << "abcdefg"
                                                     << "bcd=5 cde=200 def=300" << QStringList{"bcd", "efg"} << 1;
    QTest::newRow("all overlap the rarest") << "abcde"
                                            << "cde=400 abc=500" << QStringList{"cde", "abc"} << 0;
    QTest::newRow("in no row") << "xyzw"
                               << "yzw=0" << QStringList{"yzw", "xyz"} << 1;
    QTest::newRow("one trigram") << "abc"
                                 << "" << QStringList{"abc"} << 0;
    QTest::newRow("too short") << "ab"
                               << "" << QStringList{} << 0;
    // Sixteen of the 36 trigrams are judged, the last among them, and not the one before it.
    QTest::newRow("long text") << "abcdefghijklmnopqrstuvwxyz0123456789!?"
                               << "?!?=1 89!=2 9!?=3" << QStringList{"9!?", "abc"} << 1;
}

void TestStorage::rarestTrigrams()
{
    QFETCH(QString, text);
    QFETCH(QString, rows);
    QFETCH(QStringList, chosen);
    QFETCH(int, countedAgain);
    QHash<QString, qint64> named;
    for (const QString& pair : rows.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        named.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1).toLongLong());
    int counted = 0;
    const TrigramCounts::Counter count = [&](const QString& trigram) {
        ++counted;
        return named.value(trigram, 1000);
    };
    TrigramCounts counts;
    QCOMPARE(counts.rarest(QStringLiteral("t"), text, count), chosen);
    counted = 0;
    QCOMPARE(counts.rarest(QStringLiteral("t"), text, count), chosen);
    QCOMPARE(counted, countedAgain);
}

void TestStorage::returnedLoanMovesToHistory()
{
    TempWorkDir dir;
    {
        Storage storage(DatabaseSettings{}, QStringLiteral("loans"));
        QVERIFY(storage.open() && storage.migrate());
        QVERIFY(storage.insertAccount(
            {QStringLiteral("u"), {}, QStringLiteral("VIP"), QStringLiteral("hash"), {}, {}, {}, {}}));
        QVERIFY(storage.insertBook(book(QStringLiteral("1"), QStringLiteral("Lent"))));
        QVERIFY(storage.insertLoan(QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("2024-01-01T10:00:00Z")));
        // The primary key refuses a second loan of the same copy.
        QVERIFY(!storage.insertLoan(QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("2024-01-01T10:00:01Z")));
        storage.clearFailure();
        // Foreign keys are on: a loan needs an existing book and account.
        QVERIFY(
            !storage.insertLoan(QStringLiteral("nope"), QStringLiteral("u"), QStringLiteral("2024-01-01T10:00:00Z")));
        storage.clearFailure();
        QVERIFY(!storage.endLoan(QStringLiteral("1"), QStringLiteral("someone else"),
                                 QStringLiteral("2024-01-02T10:00:00Z")));
        QVERIFY(storage.endLoan(QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("2024-01-02T10:00:00Z")));
        QCOMPARE(storage.loanCount(QStringLiteral("u")), 0);
        QVERIFY(!storage.book(QStringLiteral("1"))->lent);
        QVERIFY(!storage.failed());
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
    db.setDatabaseName(dir.filePath(QStringLiteral("library.db")));
    QVERIFY(db.open());
    {
        QSqlQuery q(db);
        QVERIFY(q.exec(
            QStringLiteral("SELECT book_number, title, account_id, borrowed_at, returned_at FROM loan_history")));
        QVERIFY(q.next());
        QCOMPARE(q.value(1).toString(), QStringLiteral("Lent"));
        QCOMPARE(q.value(3).toString(), QStringLiteral("2024-01-01T10:00:00Z"));
        QCOMPARE(q.value(4).toString(), QStringLiteral("2024-01-02T10:00:00Z"));
        QVERIFY(!q.next());
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
}

void TestStorage::loanHistoryLeavesWithAgeAndAccount()
{
    TempWorkDir dir;
    {
        Storage storage(DatabaseSettings{}, QStringLiteral("privacy"));
        QVERIFY(storage.open() && storage.migrate());
        // Three finished loans: one returned long ago, two lately, one of them by an account that leaves.
        const QList<std::pair<QString, QString>> returned{
            {QStringLiteral("old"), QStringLiteral("2023-01-02T10:00:00Z")},
            {QStringLiteral("recent"), QStringLiteral("2024-06-02T10:00:00Z")},
            {QStringLiteral("leaver"), QStringLiteral("2024-06-03T10:00:00Z")}};
        for (const auto& [id, at] : returned) {
            QVERIFY(storage.insertAccount({id, {}, QStringLiteral("VIP"), QStringLiteral("hash"), {}, {}, {}, {}}));
            QVERIFY(storage.insertBook(book(id, QStringLiteral("Book of ") + id)));
            QVERIFY(storage.insertLoan(id, id, QStringLiteral("2023-01-01T10:00:00Z")));
            QVERIFY(storage.endLoan(id, id, at));
            QVERIFY(
                storage.appendAudit({at, id, QStringLiteral("127.0.0.1"), QStringLiteral("RETURN_BOOK"), id, id, {}}));
        }
        QCOMPARE(storage.pruneLoanHistory(QStringLiteral("2024-01-01T00:00:00Z")), 1);
        QCOMPARE(storage.pruneLoanAudit(QStringLiteral("2024-01-01T00:00:00.000Z")), 1);
        QVERIFY(storage.deleteAccount(QStringLiteral("leaver")));
        QVERIFY(!storage.failed());
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("inspect"));
    db.setDatabaseName(dir.filePath(QStringLiteral("library.db")));
    QVERIFY(db.open());
    {
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("SELECT account_id FROM loan_history")));
        QStringList left;
        while (q.next())
            left.append(q.value(0).toString());
        QCOMPARE(left, QStringList{QStringLiteral("recent")});
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("inspect"));
}

void TestStorage::importSkipsNumbersAlreadyStored()
{
    TempWorkDir dir;
    Storage storage(DatabaseSettings{}, QStringLiteral("import"));
    QVERIFY(storage.open() && storage.migrate());
    QVERIFY(storage.insertBook(book(QStringLiteral("1"), QStringLiteral("Old"))));
    const CatalogueCsv::Result parsed = CatalogueCsv::parse(
        "title,author,type,publisher,year,number,permission\nNew,a,t,p,2000,1,VIP\nOther,a,t,p,2000,2,VIP\n");
    QStringList problems;
    QCOMPARE(importCatalogue(storage, parsed, &problems), 1);
    QCOMPARE(problems, QStringList{"book number 1 is already in the catalogue"});
    QCOMPARE(storage.book(QStringLiteral("1"))->title, QStringLiteral("Old"));
    QCOMPARE(storage.book(QStringLiteral("2"))->permission, QStringLiteral("VIP"));
}

void TestStorage::passwordHashes()
{
    PasswordHasher hasher;
    const QString hash = hasher.hash(QStringLiteral("密码 secret"));
    QVERIFY(hash.startsWith(QLatin1String("$argon2id$")));
    // At least 19 MiB and two passes.
    QVERIFY2(hash.contains(QLatin1String("m=19456,t=2")), qPrintable(hash));
    QVERIFY(!hash.contains(QLatin1String("secret")));
    QVERIFY(hasher.verify(hash, QStringLiteral("密码 secret")));
    QVERIFY(!hasher.verify(hash, QStringLiteral("密码 Secret")));
    QVERIFY(!hasher.verify(QString(), QString()));
    QVERIFY(!hasher.verify(QStringLiteral("not a hash"), QStringLiteral("x")));
    // Salted: the same password hashes differently.
    QVERIFY(hasher.hash(QStringLiteral("same")) != hasher.hash(QStringLiteral("same")));
    QVERIFY(PasswordHasher::randomPassword() != PasswordHasher::randomPassword());
}

namespace {

// A pool on a fresh SQLite database with the accounts the session tests log in as.
std::unique_ptr<DatabasePool> poolWithAccounts(const QStringList& ids)
{
    auto pool = std::make_unique<DatabasePool>(DatabaseSettings{});
    QString error;
    if (!pool->start(&error))
        return nullptr;
    pool->write([&](Storage& storage) {
        for (const QString& id : ids)
            storage.insertAccount({id, id, QStringLiteral("VIP"), QStringLiteral("hash"), {}, {}, {}, {}});
    });
    return pool;
}

} // namespace

void TestStorage::sessionStores_data()
{
    QTest::addColumn<bool>("inDatabase");
    QTest::newRow("in memory") << false;
    QTest::newRow("in the database") << true;
}

void TestStorage::sessionStores()
{
    QFETCH(bool, inDatabase);
    TempWorkDir dir;
    const std::unique_ptr<DatabasePool> pool = poolWithAccounts({QStringLiteral("admin"), QStringLiteral("reader")});
    QVERIFY(pool);
    qint64 now = 1000000;
    const SessionLimits limits{60 * 1000, 3600 * 1000};
    const auto clock = [&now] { return now; };
    std::unique_ptr<SessionStore> store;
    if (inDatabase)
        store = std::make_unique<DatabaseSessionStore>(*pool, limits, clock);
    else
        store = std::make_unique<MemorySessionStore>(limits, clock);
    const QString pc = QStringLiteral("10.0.0.1");

    // Only the latest login from an address counts, and only for its account.
    QVERIFY(store->startAddress(QStringLiteral("admin"), pc));
    QVERIFY(store->startAddress(QStringLiteral("reader"), pc));
    QCOMPARE(store->byAddress(pc).value_or(Session{}).account, QStringLiteral("reader"));
    QVERIFY(!store->byAddress(QStringLiteral("10.0.0.2")));

    // A token login ends the account's address logins; the token is random and long.
    const QString token = store->startToken(QStringLiteral("reader"), QStringLiteral("10.0.0.9"));
    QVERIFY(token.size() >= 22);
    QVERIFY(token != store->startToken(QStringLiteral("reader"), QStringLiteral("10.0.0.9")));
    QVERIFY(!store->byAddress(pc));
    QCOMPARE(store->byToken(token).value_or(Session{}).account, QStringLiteral("reader"));
    QVERIFY(!store->byToken(token + QLatin1Char('x')));
    QVERIFY(!store->byToken(QString()));

    // Used within the idle limit, a session lasts; idle past it, it ends.
    now += 50 * 1000;
    QVERIFY(store->byToken(token));
    now += 50 * 1000;
    QVERIFY(store->byToken(token));
    now += 61 * 1000;
    QVERIFY(!store->byToken(token));

    // However busy, a session ends at its maximum age.
    const QString busy = store->startToken(QStringLiteral("admin"), pc);
    const QString other = store->startToken(QStringLiteral("admin"), pc);
    for (int i = 0; i < 72; ++i) {
        now += 50 * 1000;
        QCOMPARE(bool(store->byToken(busy)), (i + 1) * 50 * 1000 < 3600 * 1000);
        store->byToken(other);
    }
    QVERIFY(!store->byToken(other));

    // Ending an account's sessions keeps the one named; ending a session ends it alone.
    const QString kept = store->startToken(QStringLiteral("admin"), pc);
    const QString ended = store->startToken(QStringLiteral("admin"), pc);
    const QString readers = store->startToken(QStringLiteral("reader"), pc);
    QVERIFY(store->endAccount(QStringLiteral("admin"), SessionStore::tokenKey(kept)));
    QVERIFY(store->byToken(kept));
    QVERIFY(!store->byToken(ended));
    QVERIFY(store->byToken(readers));
    QVERIFY(store->end(SessionStore::tokenKey(kept)));
    QVERIFY(!store->byToken(kept));
}

// Entries that name a reader and a book are a loan history: they go with age. The rest stay.
void TestStorage::auditLoanHistoryIsPruned_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("pruned");
    for (const char* action : {"BORROW_BOOK", "RETURN_BOOK", "RENEW_BOOK", "PLACE_HOLD", "CANCEL_HOLD", "CHECKIN_BOOK"})
        QTest::newRow(action) << action << true;
    for (const char* action :
         {"REGISTER", "UPDATE_ACCOUNT", "DELETE_ACCOUNT", "RAISE_LEVEL", "LOWER_LEVEL", "ADD_BOOK", "DELETE_BOOK"})
        QTest::newRow(action) << action << false;
}

void TestStorage::auditLoanHistoryIsPruned()
{
    QFETCH(QString, action);
    QFETCH(bool, pruned);
    TempWorkDir dir;
    Storage storage(DatabaseSettings{}, QStringLiteral("audit"));
    QVERIFY(storage.open() && storage.migrate());
    QVERIFY(storage.appendAudit({QStringLiteral("2023-01-02T10:00:00.000Z"),
                                 QStringLiteral("desk"),
                                 QStringLiteral("127.0.0.1"),
                                 action,
                                 QStringLiteral("u"),
                                 QStringLiteral("1"),
                                 {}}));
    QVERIFY(storage.appendAudit({QStringLiteral("2024-06-02T10:00:00.000Z"),
                                 QStringLiteral("desk"),
                                 QStringLiteral("127.0.0.1"),
                                 action,
                                 QStringLiteral("u"),
                                 QStringLiteral("1"),
                                 {}}));
    QCOMPARE(storage.pruneLoanAudit(QStringLiteral("2024-01-01T00:00:00.000Z")), pruned ? 1 : 0);
    QCOMPARE(storage.auditEvents({}, {}, 10).size(), pruned ? 1 : 2);
}

// A hold whose copy is out has no pick-up window: NULL, which the console counts as waiting.
void TestStorage::waitingHoldIsStoredAsNull()
{
    TempWorkDir dir;
    Storage storage(DatabaseSettings{}, QStringLiteral("holds"));
    QVERIFY(storage.open() && storage.migrate());
    QVERIFY(storage.insertAccount(
        {QStringLiteral("u"), {}, QStringLiteral("VIP"), QStringLiteral("hash"), {}, {}, {}, {}}));
    QVERIFY(storage.insertBook(book(QStringLiteral("1"), QStringLiteral("Wanted"))));
    QVERIFY(storage.insertHold(QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("2024-01-01T10:00:00.000Z")));
    const qint64 id = storage.holdsOn(QStringLiteral("1")).value(0).id;
    QVERIFY(storage.setHoldWindow(id, QStringLiteral("2000-01-01T00:00:00.000Z"))); // a window long over
    QCOMPARE(storage.counts().holds, 0);
    QVERIFY(storage.setHoldWindow(id, {}));
    QCOMPARE(storage.counts().holds, 1);
    QVERIFY(!storage.failed());
}

// Times written by earlier versions (to the second, or with a space and no zone) are brought into the
// one stored format at the upgrade, so that they compare with new ones as text.
void TestStorage::storedTimesShareOneFormat()
{
    // The stamp the server writes is Qt's ISO form, whatever the moment and its time zone.
    for (const QDateTime& moment :
         {QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59, 999), Qt::UTC),
          QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC),
          QDateTime(QDate(1969, 12, 31), QTime(23, 0, 0, 5), Qt::UTC),
          QDateTime(QDate(1601, 3, 1), QTime(1, 2, 3, 4), Qt::UTC),
          QDateTime(QDate(9999, 12, 31), QTime(23, 59), Qt::UTC),
          QDateTime(QDate(2026, 12, 9), QTime(8, 30), QTimeZone(QByteArrayLiteral("Asia/Shanghai")))})
        QCOMPARE(ServerClock::stamp(moment), moment.toUTC().toString(Qt::ISODateWithMs));
    // Stamps are read back as Qt reads them, those of other forms and the impossible ones too.
    for (const QString& stored :
         {QStringLiteral("2024-02-29T23:59:59.999Z"), QStringLiteral("1970-01-01T00:00:00.000Z"),
          QStringLiteral("1601-03-01T01:02:03.004Z"), QStringLiteral("2026-12-09T00:30:00Z"),
          QStringLiteral("2023-02-29T10:00:00.000Z"), QStringLiteral("2024-13-01T10:00:00.000Z"),
          QStringLiteral("2024-01-01T24:00:00.000Z"), QStringLiteral("2024-01-01 10:00:00.000Z"),
          QStringLiteral("not a time")}) {
        const QDateTime read = QDateTime::fromString(stored, Qt::ISODate);
        QCOMPARE(ServerClock::fromStamp(stored), read);
        QCOMPARE(ServerClock::shown(stored),
                 read.isValid() ? read.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : stored);
    }
    TempWorkDir dir;
    {
        Storage storage(DatabaseSettings{}, QStringLiteral("times"));
        QVERIFY(storage.open() && storage.migrate());
        QVERIFY(storage.insertAccount(
            {QStringLiteral("u"), {}, QStringLiteral("VIP"), QStringLiteral("hash"), {}, {}, {}, {}}));
        QVERIFY(storage.insertBook(book(QStringLiteral("1"), QStringLiteral("Lent"))));
        QVERIFY(storage.insertLoan(QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("2024-01-01T10:00:00Z"),
                                   QStringLiteral("2024-01-31T10:00:00Z")));
        QVERIFY(storage.appendAudit({QStringLiteral("2024-01-01T10:00:00Z"),
                                     {},
                                     {},
                                     QStringLiteral("BORROW_BOOK"),
                                     QStringLiteral("u"),
                                     QStringLiteral("1"),
                                     {}}));
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("older"));
        db.setDatabaseName(dir.filePath(QStringLiteral("library.db")));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("UPDATE accounts SET created_at = '2024-01-01 09:59:59.123'")));
        QVERIFY(q.exec(QStringLiteral("DELETE FROM schema_version WHERE version = 14")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("older"));
    Storage storage(DatabaseSettings{}, QStringLiteral("times"));
    QVERIFY(storage.open() && storage.migrate());
    QCOMPARE(storage.loanOf(QStringLiteral("1"))->borrowedAt, QStringLiteral("2024-01-01T10:00:00.000Z"));
    QCOMPARE(storage.loanOf(QStringLiteral("1"))->dueAt, QStringLiteral("2024-01-31T10:00:00.000Z"));
    QCOMPARE(storage.auditEvents({}, {}, 1).value(0).at, QStringLiteral("2024-01-01T10:00:00.000Z"));
    QCOMPARE(storage.accountsAtLevel(QStringLiteral("VIP"), 1).size(), 1);
    QVERIFY(storage.hasLoanDueBefore(QStringLiteral("u"), QStringLiteral("2024-01-31T10:00:00.001Z")));
    QVERIFY(!storage.hasLoanDueBefore(QStringLiteral("u"), QStringLiteral("2024-01-31T10:00:00.000Z")));
    QVERIFY(!storage.failed());
}

void TestStorage::loginWrittenDuringLookupStays_data()
{
    sessionStores_data();
}

// A lookup finds an address login that has run out while a new login is written at that address at
// the worst moment: between reading the old one and removing it. The new login must stay. The clock
// is read inside the lookup, so the test writes the login from there.
void TestStorage::loginWrittenDuringLookupStays()
{
    QFETCH(bool, inDatabase);
    TempWorkDir dir;
    const std::unique_ptr<DatabasePool> pool = poolWithAccounts({QStringLiteral("left"), QStringLiteral("next")});
    QVERIFY(pool);
    qint64 now = 1000000;
    std::function<void()> duringLookup;
    const auto clock = [&] {
        if (std::function<void()> step = std::exchange(duringLookup, {}))
            step();
        return now;
    };
    const SessionLimits limits{60 * 1000, 3600 * 1000, 60 * 1000};
    std::unique_ptr<SessionStore> store;
    if (inDatabase)
        store = std::make_unique<DatabaseSessionStore>(*pool, limits, clock);
    else
        store = std::make_unique<MemorySessionStore>(limits, clock);
    const QString pc = QStringLiteral("10.0.0.5");
    QVERIFY(store->startAddress(QStringLiteral("left"), pc));
    now += 61 * 1000;
    duringLookup = [&] { store->startAddress(QStringLiteral("next"), pc); };
    const std::optional<Session> seen = store->byAddress(pc);
    QVERIFY(!seen || seen->account == QLatin1String("next"));
    QCOMPARE(store->byAddress(pc).value_or(Session{}).account, QStringLiteral("next"));

    // A token login ends the account's address logins and starts the token in one step.
    QVERIFY(store->startAddress(QStringLiteral("next"), QStringLiteral("10.0.0.6")));
    const QString token = store->startToken(QStringLiteral("next"), pc);
    QVERIFY(!store->byAddress(QStringLiteral("10.0.0.6")));
    QCOMPARE(store->byToken(token).value_or(Session{}).account, QStringLiteral("next"));
}

void TestStorage::throttle_data()
{
    QTest::addColumn<bool>("inDatabase");
    QTest::newRow("in memory") << false;
    QTest::newRow("in the database") << true;
}

void TestStorage::throttle()
{
    QFETCH(bool, inDatabase);
    TempWorkDir dir;
    const std::unique_ptr<DatabasePool> pool = poolWithAccounts({});
    QVERIFY(pool);
    qint64 now = 1000000;
    LoginThrottle throttle(
        {3, 5, 4, 1000}, [&now] { return now; },
        inDatabase ? LoginThrottle::inDatabase(*pool) : LoginThrottle::inMemory());
    const auto admit = [&](int pc, const char* account) {
        return throttle.admit(QStringLiteral("10.0.0.%1").arg(pc), QLatin1String(account));
    };

    // One address guessing one account: the limit's attempts are let through, then it locks, and the
    // refusal says for how long.
    for (int i = 0; i < 3; ++i)
        QVERIFY(admit(1, "reader").admitted);
    LoginThrottle::Verdict refused = admit(1, "reader");
    QVERIFY(!refused.admitted);
    QCOMPARE(Wire::word(refused.refusal), QStringLiteral("TOO_MANY_ATTEMPTS"));
    QCOMPARE(refused.retryAfterSeconds, 1);
    // The next reader at that PC is not locked out; a success clears only that reader's count.
    QVERIFY(admit(1, "next").admitted);
    throttle.succeeded(QStringLiteral("10.0.0.1"), QStringLiteral("next"));
    // Spraying from one address: five attempts across accounts, then the address locks.
    QVERIFY(admit(1, "a").admitted);
    QVERIFY(admit(1, "b").admitted);
    refused = admit(1, "c");
    QVERIFY(!refused.admitted);
    QCOMPARE(Wire::word(refused.refusal), QStringLiteral("TOO_MANY_ATTEMPTS_FROM_ADDRESS"));
    // One account guessed from many addresses: four attempts, then the account locks.
    for (int pc = 10; pc < 14; ++pc)
        QVERIFY(admit(pc, "target").admitted);
    refused = admit(20, "target");
    QVERIFY(!refused.admitted);
    QCOMPARE(Wire::word(refused.refusal), QStringLiteral("TOO_MANY_ATTEMPTS_FOR_ACCOUNT"));
    // A lock ends; each attempt past the limit locks again, twice as long.
    for (int i = 0; i < 3; ++i)
        QVERIFY(admit(30, "fresh").admitted);
    QVERIFY(!admit(30, "fresh").admitted);
    now += 1001;
    QVERIFY(admit(30, "fresh").admitted);
    QVERIFY(!admit(30, "fresh").admitted);
    now += 1001;
    QVERIFY(!admit(30, "fresh").admitted);
    now += 1000;
    QVERIFY(admit(30, "fresh").admitted);
}

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
