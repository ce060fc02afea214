#include "catalogueimport.h"
#include "loginthrottle.h"
#include "passwordhasher.h"
#include "sessionregistry.h"
#include "storage.h"
#include "tempworkdir.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

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

    void schemaIsAppliedOnceAndReopens();
    void substringIndexFollowsChanges();
    void upgradeGivesStoredBooksTheirSearchForms();
    void commonAndRareTextsFindTheSameRows_data();
    void commonAndRareTextsFindTheSameRows();
    void returnedLoanMovesToHistory();
    void importSkipsNumbersAlreadyStored();

    void passwordHashes();
    void sessionsRememberLatestLoginPerAddress();
    void expiredSessionsDoNotCount();
    void throttleLocksAfterFailuresAndSuccessClears();
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
    QTest::newRow("byte order mark") << "\xEF\xBB\xBF" + header + "A,a,t,p,2000,1,VIP\n" << QStringList{"1"}
                                     << QStringList();
    QTest::newRow("blank lines skipped") << header + "\nA,a,t,p,2000,1,VIP\n\n" << QStringList{"1"} << QStringList();
    QTest::newRow("quoted comma, quote and line break")
        << header + "\"A, \"\"the\"\"\nbook\",a,t,p,2000,1,VIP\nB,b,t,p,2001,2,VIP\n" << QStringList{"1", "2"}
        << QStringList();
    QTest::newRow("line numbers count lines inside quotes")
        << header + "\"A\n\nB\",a,t,p,2000,1,VIP\nC,c,t,p,2001,,VIP\n" << QStringList{"1"}
        << QStringList{"line 5: a book needs a title and a number"};
    QTest::newRow("too few and too many fields")
        << header + "A,a,t,p,2000,1\nB,b,t,p,2001,2,VIP,extra\nC,c,t,p,2002,3,VIP\n" << QStringList{"3"}
        << QStringList{"line 2: 6 fields, the header has 7", "line 3: 8 fields, the header has 7"};
    QTest::newRow("permission names") << header + "A,a,t,p,2000,1,研究生\nB,b,t,p,2000,2,\nC,c,t,p,2000,3,vip\n"
                                      << QStringList{"1", "2"} << QStringList{"line 4: unknown permission \"vip\""};
    QTest::newRow("duplicate number") << header + "A,a,t,p,2000,1,VIP\nB,b,t,p,2000,1,VIP\n" << QStringList{"1"}
                                      << QStringList{"line 3: book number 1 appears twice"};
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
    return {title, QStringLiteral("author"), QStringLiteral("type"), QStringLiteral("press"), QStringLiteral("2000"),
            number, QStringLiteral("Undergraduate")};
}

QStringList numbersOf(const QList<BookRow>& rows)
{
    QStringList numbers;
    for (const BookRow& row : rows)
        numbers.append(row.number);
    return numbers;
}
} // namespace

void TestStorage::schemaIsAppliedOnceAndReopens()
{
    TempWorkDir dir;
    DatabaseSettings settings;
    {
        Storage storage(settings, QStringLiteral("first"));
        QVERIFY2(storage.open() && storage.migrate(), qPrintable(storage.lastError()));
        QCOMPARE(storage.schemaVersion(), 2);
        QVERIFY(storage.insertBook(book(QStringLiteral("1"), QStringLiteral("Kept"))));
    }
    Storage storage(settings, QStringLiteral("second"));
    QVERIFY2(storage.open() && storage.migrate(), qPrintable(storage.lastError()));
    QCOMPARE(storage.schemaVersion(), 2);
    QCOMPARE(storage.bookCount(), 1);
    QVERIFY(!storage.failed());
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
    // The row limit applies after ordering.
    QCOMPARE(numbersOf(storage.searchBooks(BookFilter{}, 1)), QStringList({"3"}));
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
    QCOMPARE(storage.schemaVersion(), 2);
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
    QTest::newRow("common text") << "COMMON" << "" << QStringList{"c0000", "c0001", "c0002"};
    QTest::newRow("common text, rare author") << "common" << "Rare Hand" << QStringList{"c1500"};
    QTest::newRow("rare text") << "seldom" << "" << QStringList{"r1", "r2"};
    QTest::newRow("rare text, common author") << "seldom" << "writer" << QStringList{"r1", "r2"};
    QTest::newRow("common text, short author") << "common" << "Ra" << QStringList{"c1500"};
    QTest::newRow("text in no title") << "absent" << "" << QStringList();
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

void TestStorage::returnedLoanMovesToHistory()
{
    TempWorkDir dir;
    {
        Storage storage(DatabaseSettings{}, QStringLiteral("loans"));
        QVERIFY(storage.open() && storage.migrate());
        QVERIFY(storage.insertAccount({QStringLiteral("u"), {}, QStringLiteral("VIP"), QStringLiteral("hash"), {}, {}, {}, {}}));
        QVERIFY(storage.insertBook(book(QStringLiteral("1"), QStringLiteral("Lent"))));
        QVERIFY(storage.insertLoan(QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("2024-01-01T10:00:00Z")));
        // The primary key refuses a second loan of the same copy.
        QVERIFY(!storage.insertLoan(QStringLiteral("1"), QStringLiteral("u"), QStringLiteral("2024-01-01T10:00:01Z")));
        storage.clearFailure();
        // Foreign keys are on: a loan needs an existing book and account.
        QVERIFY(!storage.insertLoan(QStringLiteral("nope"), QStringLiteral("u"), QStringLiteral("2024-01-01T10:00:00Z")));
        storage.clearFailure();
        QVERIFY(!storage.endLoan(QStringLiteral("1"), QStringLiteral("someone else"), QStringLiteral("2024-01-02T10:00:00Z")));
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
        QVERIFY(q.exec(QStringLiteral("SELECT book_number, title, account_id, borrowed_at, returned_at FROM loan_history")));
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

void TestStorage::sessionsRememberLatestLoginPerAddress()
{
    SessionRegistry sessions(3600 * 1000);
    sessions.loggedIn(QStringLiteral("10.0.0.1"), QStringLiteral("admin"));
    sessions.loggedIn(QStringLiteral("10.0.0.1"), QStringLiteral("reader"));
    QVERIFY(sessions.isLoggedIn(QStringLiteral("10.0.0.1"), QStringLiteral("admin")));
    QVERIFY(sessions.isLoggedIn(QStringLiteral("10.0.0.1"), QStringLiteral("reader")));
    QVERIFY(!sessions.isLoggedIn(QStringLiteral("10.0.0.2"), QStringLiteral("reader")));
    QCOMPARE(sessions.latestLogin(QStringLiteral("10.0.0.1")), QStringLiteral("reader"));
    QCOMPARE(sessions.latestLogin(QStringLiteral("10.0.0.2")), QString());
    sessions.forget(QStringLiteral("reader"));
    QVERIFY(!sessions.isLoggedIn(QStringLiteral("10.0.0.1"), QStringLiteral("reader")));
    QCOMPARE(sessions.latestLogin(QStringLiteral("10.0.0.1")), QString());
    QVERIFY(sessions.isLoggedIn(QStringLiteral("10.0.0.1"), QStringLiteral("admin")));
}

void TestStorage::expiredSessionsDoNotCount()
{
    SessionRegistry sessions(0);
    sessions.loggedIn(QStringLiteral("10.0.0.1"), QStringLiteral("admin"));
    QVERIFY(!sessions.isLoggedIn(QStringLiteral("10.0.0.1"), QStringLiteral("admin")));
    QCOMPARE(sessions.latestLogin(QStringLiteral("10.0.0.1")), QString());
}

void TestStorage::throttleLocksAfterFailuresAndSuccessClears()
{
    LoginThrottle throttle(3, 3600 * 1000);
    const QString peer = QStringLiteral("10.0.0.1");
    throttle.failed(peer);
    throttle.failed(peer);
    QVERIFY(!throttle.isLockedOut(peer));
    throttle.failed(peer);
    QVERIFY(throttle.isLockedOut(peer));
    QVERIFY(!throttle.isLockedOut(QStringLiteral("10.0.0.2")));
    throttle.succeeded(peer);
    QVERIFY(!throttle.isLockedOut(peer));
    // A failure after a success starts counting afresh.
    throttle.failed(peer);
    QVERIFY(!throttle.isLockedOut(peer));
}

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
