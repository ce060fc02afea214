#include "serverfixture.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace {

constexpr int Readers = 4;
constexpr int OwnBooksPerReader = 3;
// Books every reader competes for: refusals and successes interleave on them.
const QStringList SharedBooks = {QStringLiteral("S-1"), QStringLiteral("S-2")};
// Long enough for a busy machine; nothing here measures time.
constexpr int WaitMs = 60000;

QString ownBook(int reader, int n)
{
    return QStringLiteral("R%1-%2").arg(reader).arg(n);
}

QByteArray catalogue()
{
    QByteArray csv = "title,author,type,publisher,year,number,permission\n";
    QStringList numbers = SharedBooks;
    for (int r = 0; r < Readers; ++r) {
        for (int n = 0; n < OwnBooksPerReader; ++n)
            numbers << ownBook(r, n);
    }
    for (const QString& number : std::as_const(numbers))
        csv += "Book " + number.toUtf8() + ",Author,Novel,Press,2000," + number.toUtf8() + ",Undergraduate\n";
    return csv;
}

// What a reader knows about a book from the answers it got: it holds it, it does not, or a request
// was cut off by the kill and either may be true.
enum class Holding { NotHeld, Held, Unknown };

// One reader on a machine of its own, borrowing and returning in a loop until the server goes away.
struct Reader {
    QString id;
    std::unique_ptr<WireClient> client;
    QStringList books;
    QHash<QString, QStringList> records; // book number -> book record as a search shows it when free
    QHash<QString, Holding> holding;
    std::atomic<int> acknowledged{0};
    int acknowledgedReturns = 0;
    QStringList problems;

    void run(const std::atomic<bool>& stop)
    {
        for (int i = 0; !stop; ++i) {
            const QString number = books.at(i % books.size());
            const bool returning = holding.value(number) == Holding::Held;
            const WireClient::Reply reply = returning
                ? client->send(ReturnBookQuery{LoanRecord::from(records[number].mid(0, 6) << QString()), id}, 20000)
                : client->send(BorrowBookQuery{BookRecord::from(records[number]), id}, 20000);
            if (!reply.error.isEmpty() || !reply.endOfStream) {
                // The server went away with this request in flight: it may or may not have been done.
                holding[number] = Holding::Unknown;
                return;
            }
            const QString success =
                returning ? QString(Reply::ReturnBookSuccessfully) : QString(Reply::BorrowBookSuccessfully);
            if (reply.word() == success) {
                holding[number] = returning ? Holding::NotHeld : Holding::Held;
                if (returning)
                    ++acknowledgedReturns;
                ++acknowledged;
            } else if (returning || !SharedBooks.contains(number)) {
                // Only a shared book may be refused: someone else holds it.
                problems
                    << QStringLiteral("%1 %2 %3: %4").arg(id, returning ? "return" : "borrow", number, reply.word());
                return;
            }
        }
    }
};

// What the server left on disk, read through a read-only connection of our own.
struct DatabaseState {
    QString error;
    QString integrity;
    QStringList foreignKeyProblems;
    QList<QPair<QString, QString>> loans; // book number, account
    qint64 history = 0;

    QStringList loansOf(const QString& account) const
    {
        QStringList books;
        for (const auto& loan : loans) {
            if (loan.second == account)
                books << loan.first;
        }
        books.sort();
        return books;
    }
};

DatabaseState readDatabase(const QString& path)
{
    DatabaseState state;
    const QString name = QStringLiteral("crash-check");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            state.error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            const auto run = [&](const QString& sql) {
                if (!q.exec(sql) && state.error.isEmpty())
                    state.error = sql + QStringLiteral(": ") + q.lastError().text();
            };
            run(QStringLiteral("PRAGMA integrity_check"));
            while (q.next())
                state.integrity += q.value(0).toString();
            run(QStringLiteral("PRAGMA foreign_key_check"));
            while (q.next())
                state.foreignKeyProblems << q.value(0).toString() + QLatin1Char(' ') + q.value(1).toString();
            run(QStringLiteral("SELECT book_number, account_id FROM loans ORDER BY book_number"));
            while (q.next())
                state.loans.append({q.value(0).toString(), q.value(1).toString()});
            run(QStringLiteral("SELECT COUNT(*) FROM loan_history"));
            if (q.next())
                state.history = q.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return state;
}

} // namespace

// The server is killed outright while readers borrow and return. Whatever it had acknowledged must
// survive, the database must be sound, and a book must be on loan exactly when a loan row says so.
class TestCrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void killedWhileLending_data();
    void killedWhileLending();
};

void TestCrashSafety::killedWhileLending_data()
{
    // Acknowledged borrows and returns, all readers together, before the server is killed.
    QTest::addColumn<int>("operationsBeforeKill");
    QTest::newRow("soon after the start") << 8;
    QTest::newRow("after many loans") << 200;
}

void TestCrashSafety::killedWhileLending()
{
    QFETCH(int, operationsBeforeKill);
    ServerProcess server(QStringLiteral(SERVER_BINARY));
    server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    QVERIFY(server.writeFile(QStringLiteral("catalogue.csv"), catalogue()));
    server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("catalogue.csv"));
    server.setSetting(QStringLiteral("loanLimits/Undergraduate"), 100);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    ServerFixture fixture(server);
    const WireClient admin = fixture.client(2);
    QCOMPARE(fixture.login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));

    std::vector<std::unique_ptr<Reader>> readers;
    for (int r = 0; r < Readers; ++r) {
        auto reader = std::make_unique<Reader>();
        reader->id = QStringLiteral("reader%1").arg(r);
        QVERIFY(fixture.createUser(admin, reader->id, QStringLiteral("pw-123456"), Levels::Undergraduate));
        reader->client = std::make_unique<WireClient>(fixture.client(10 + r));
        QCOMPARE(fixture.login(*reader->client, reader->id, QStringLiteral("pw-123456")), QStringLiteral("PASS"));
        for (int n = 0; n < OwnBooksPerReader; ++n)
            reader->books << ownBook(r, n);
        reader->books << SharedBooks;
        for (const QString& number : std::as_const(reader->books)) {
            reader->records[number] = fixture.bookRow(number);
            QCOMPARE(reader->records[number].value(6), QStringLiteral("空闲"));
        }
        readers.push_back(std::move(reader));
    }

    // Lend and return until enough has been acknowledged, then kill the server mid-way.
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (auto& reader : readers)
        threads.emplace_back([&reader, &stop] { reader->run(stop); });
    const auto acknowledged = [&] {
        int total = 0;
        for (const auto& reader : readers)
            total += reader->acknowledged;
        return total;
    };
    const bool enough = QTest::qWaitFor([&] { return acknowledged() >= operationsBeforeKill; }, WaitMs);
    server.kill();
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    for (const auto& reader : readers)
        QVERIFY2(reader->problems.isEmpty(), qPrintable(reader->problems.join(QLatin1Char('\n'))));
    QVERIFY2(enough, "the readers did not get far enough before the kill");

    // What is on disk right after the kill.
    const QString databasePath = server.filePath(QStringLiteral("library.db"));
    const DatabaseState crashed = readDatabase(databasePath);
    QVERIFY2(crashed.error.isEmpty(), qPrintable(crashed.error));
    QCOMPARE(crashed.integrity, QStringLiteral("ok"));
    QCOMPARE(crashed.foreignKeyProblems, QStringList());
    QSet<QString> onLoan;
    for (const auto& loan : crashed.loans) {
        QVERIFY2(!onLoan.contains(loan.first), qPrintable(loan.first + QStringLiteral(" has two loans")));
        onLoan.insert(loan.first);
    }
    int acknowledgedReturns = 0;
    for (const auto& reader : readers) {
        acknowledgedReturns += reader->acknowledgedReturns;
        const QStringList held = crashed.loansOf(reader->id);
        for (const QString& number : std::as_const(reader->books)) {
            const Holding h = reader->holding.value(number);
            const QString what = reader->id + QLatin1Char(' ') + number;
            if (h == Holding::Held)
                QVERIFY2(held.contains(number), qPrintable(what + QStringLiteral(": an acknowledged borrow is lost")));
            else if (h == Holding::NotHeld)
                QVERIFY2(!held.contains(number), qPrintable(what + QStringLiteral(": an acknowledged return is lost")));
        }
    }
    QVERIFY(crashed.history >= acknowledgedReturns);
    int cutOff = 0;
    for (const auto& reader : readers)
        cutOff += int(std::count(reader->holding.cbegin(), reader->holding.cend(), Holding::Unknown));
    qInfo("killed after %d acknowledged operations, %d cut off; %d loans and %lld returns on disk", acknowledged(),
          cutOff, int(crashed.loans.size()), crashed.history);

    // Restarted on the same directory, the server shows exactly the books with a loan row as lent.
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const WireClient guest = fixture.client(3);
    const WireClient::Reply all = guest.send(BookQuery{});
    QVERIFY(all.endOfStream);
    QCOMPARE(all.frames.size(), SharedBooks.size() + Readers * OwnBooksPerReader);
    for (const QStringList& row : all.frames) {
        const QString expected = onLoan.contains(row.value(5)) ? QStringLiteral("已借出") : QStringLiteral("空闲");
        QCOMPARE(row.value(6), expected);
    }

    // Each reader logs in again (the new server has a new port), sees its loans as the database holds
    // them, and returns every one.
    for (int r = 0; r < Readers; ++r) {
        Reader* reader = readers[r].get();
        reader->client = std::make_unique<WireClient>(fixture.client(10 + r));
        QCOMPARE(fixture.login(*reader->client, reader->id, QStringLiteral("pw-123456")), QStringLiteral("PASS"));
        const WireClient::Reply listed = reader->client->send(UserBorrowBookQuery{reader->id});
        QVERIFY(listed.endOfStream);
        QStringList listedNumbers;
        for (const QStringList& row : listed.frames)
            listedNumbers << row.value(5);
        listedNumbers.sort();
        QCOMPARE(listedNumbers, crashed.loansOf(reader->id));
        for (const QStringList& row : listed.frames)
            QCOMPARE(reader->client->send(ReturnBookQuery{LoanRecord::from(row), reader->id}).word(),
                     QString(Reply::ReturnBookSuccessfully));
    }
    QVERIFY(server.stop());

    // After a clean stop: still sound, nothing on loan, every return in the history.
    const DatabaseState final = readDatabase(databasePath);
    QVERIFY2(final.error.isEmpty(), qPrintable(final.error));
    QCOMPARE(final.integrity, QStringLiteral("ok"));
    QCOMPARE(final.foreignKeyProblems, QStringList());
    QCOMPARE(final.loans.size(), 0);
    QCOMPARE(final.history, crashed.history + crashed.loans.size());
}

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
