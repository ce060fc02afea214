#include "serverfixture.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

// What only servers on PostgreSQL do: several server processes on one database, with the logins in
// the database so that a client may reach any of them; a refused database at start; connections that
// are lost while running and opened again.
class TestPostgres : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void failedConnectionAtStart_data();
    void failedConnectionAtStart();

    void loginOnOneServerCountsOnTheOther();
    void twoServersRaceForOneCopy();
    void loanLimitHoldsAcrossServers();
    void deleteRacesBorrowAcrossServers();
    void returnRacesItselfAcrossServers();
    void deletedAccountLosesItsSessionOnEveryServer();
    void lostConnectionsAreReopened();

private:
    // Runs every request at once, each on its own thread, and gives their reply words in order.
    static QStringList race(const std::vector<std::function<QString()>>& requests);
    // Skips the calling test without a database: `if (!requireCluster()) return;` (QSKIP ends only this helper).
    bool requireCluster();
    qint64 scalar(const QString& sql);

    std::optional<PgTestDatabase> m_pg;
    std::unique_ptr<ServerProcess> m_first;
    std::unique_ptr<ServerProcess> m_second;
    std::unique_ptr<ServerFixture> m_fx1;
    std::unique_ptr<ServerFixture> m_fx2;
    WireClient m_admin{0};
};

namespace {

const char* const Catalogue = "title,author,type,publisher,year,number,permission\n"
                              "Shared Race,Fixture,Fixture,Fixture,2000,R001,Undergraduate\n"
                              "Shared Limit A,Fixture,Fixture,Fixture,2000,L001,Undergraduate\n"
                              "Shared Limit B,Fixture,Fixture,Fixture,2000,L002,Undergraduate\n"
                              "Shared Limit C,Fixture,Fixture,Fixture,2000,L003,Undergraduate\n"
                              "Shared Limit D,Fixture,Fixture,Fixture,2000,L004,Undergraduate\n"
                              "Shared Limit E,Fixture,Fixture,Fixture,2000,L005,Undergraduate\n"
                              "Shared Limit F,Fixture,Fixture,Fixture,2000,L006,Undergraduate\n"
                              "Shared Delete,Fixture,Fixture,Fixture,2000,D001,Undergraduate\n"
                              "Shared Return,Fixture,Fixture,Fixture,2000,T001,Undergraduate\n"
                              "Shared Cross,Fixture,Fixture,Fixture,2000,X001,Undergraduate\n"
                              "Shared Lost,Fixture,Fixture,Fixture,2000,Z001,Undergraduate\n";

quint16 portWithNothingListening()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // free again once the probe closes
}

} // namespace

bool TestPostgres::requireCluster()
{
    if (m_pg)
        return true;
    QTest::qSkip("LIBRARY_TEST_PG is not set: no PostgreSQL database to run several servers on", __FILE__, __LINE__);
    return false;
}

qint64 TestPostgres::scalar(const QString& sql)
{
    QSqlQuery query(m_pg->connection());
    if (!query.exec(QStringLiteral("SET search_path = \"%1\"").arg(m_first->schema())) || !query.exec(sql)
        || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

QStringList TestPostgres::race(const std::vector<std::function<QString()>>& requests)
{
    const int count = int(requests.size());
    QStringList words(count);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < count) { }
            words[i] = requests[size_t(i)]();
        });
    }
    for (std::thread& t : threads)
        t.join();
    return words;
}

void TestPostgres::initTestCase()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        QSKIP("Qt's QPSQL driver is not installed (libqt6sql6-psql)");
    m_pg = PgTestDatabase::fromEnvironment();
    if (!m_pg)
        return; // the tests that need a database skip one by one
    QVERIFY2(m_pg->open().isEmpty(), qPrintable(m_pg->open()));

    m_first = std::make_unique<ServerProcess>(QStringLiteral(SERVER_BINARY));
    m_second = std::make_unique<ServerProcess>(QStringLiteral(SERVER_BINARY));
    QVERIFY(m_first->usesPostgres());
    m_second->shareDatabaseWith(*m_first);
    QVERIFY(m_first->writeFile(QStringLiteral("seed.csv"), Catalogue));
    for (ServerProcess* server : {m_first.get(), m_second.get()}) {
        server->setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
        server->setSetting(QStringLiteral("loanLimits/Undergraduate"), 2);
    }
    m_first->setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    QVERIFY2(m_first->start(), qPrintable(m_first->errorText()));
    QVERIFY2(m_second->start(), qPrintable(m_second->errorText()));
    m_fx1 = std::make_unique<ServerFixture>(*m_first);
    m_fx2 = std::make_unique<ServerFixture>(*m_second);
    // The second server found the schema made and the administrator created by the first.
    QVERIFY(!m_second->output().join(QLatin1Char('\n')).contains(QLatin1String("created the Super Admin")));
    m_admin = m_fx1->client(1);
    QCOMPARE(m_fx1->login(m_admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
}

void TestPostgres::cleanupTestCase()
{
    for (ServerProcess* server : {m_second.get(), m_first.get()}) {
        if (server)
            QVERIFY(server->stop());
    }
    m_second.reset();
    m_first.reset();
}

void TestPostgres::failedConnectionAtStart_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("needsCluster");
    QTest::newRow("nothing listens on the port")
        << "database/port" << QString::number(portWithNothingListening()) << false;
    QTest::newRow("wrong password") << "database/password"
                                    << "not-the-password" << true;
    QTest::newRow("no such database") << "database/name"
                                      << "no_such_library" << true;
    QTest::newRow("schema name that would need quoting") << "database/schema"
                                                         << "Bad\"Name" << true;
}

void TestPostgres::failedConnectionAtStart()
{
    QFETCH(QString, setting);
    QFETCH(QString, value);
    QFETCH(bool, needsCluster);
    if (needsCluster && !requireCluster())
        return;
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    if (!m_pg) {
        server.setSetting(QStringLiteral("database/driver"), QStringLiteral("QPSQL"));
        server.setSetting(QStringLiteral("database/host"), QStringLiteral("127.0.0.1"));
        server.setSetting(QStringLiteral("database/name"), QStringLiteral("library"));
    } else {
        const QVariantMap settings = m_pg->serverSettings(PgTestDatabase::uniqueSchemaName());
        for (auto it = settings.cbegin(); it != settings.cend(); ++it)
            server.setSetting(it.key(), it.value());
    }
    server.setSetting(setting, value);
    QVERIFY(!server.start());
    QVERIFY(!server.isRunning());
    QVERIFY(server.exitCode() != 0);
    QVERIFY2(!server.output().join(QLatin1Char('\n')).contains(QLatin1String("listening on")),
             qPrintable(server.errorText()));
    // One line says what failed and where.
    QStringList reasons;
    for (const QString& line : server.output()) {
        if (line.contains(QLatin1String("cannot open the database")))
            reasons.append(line);
    }
    QCOMPARE(reasons.size(), 1);
    const QString line = reasons.first();
    QVERIFY2(line.contains(QLatin1String("PostgreSQL 127.0.0.1:")), qPrintable(line));
    QVERIFY2(line.contains(QLatin1Char('/')
                           + (setting == QLatin1String("database/name") ? value : QStringLiteral("library"))),
             qPrintable(line));
}

void TestPostgres::loginOnOneServerCountsOnTheOther()
{
    if (!requireCluster())
        return;
    QVERIFY(m_fx1->createUser(m_admin, QStringLiteral("roamer"), QStringLiteral("pw-roamer"), Levels::Undergraduate));
    const WireClient onFirst = m_fx1->client(20);
    const WireClient onSecond = m_fx2->client(20);
    QCOMPARE(m_fx1->login(onFirst, QStringLiteral("roamer"), QStringLiteral("pw-roamer")), QStringLiteral("PASS"));
    // Logged in through the first server, borrowing through the second and returning through the first.
    const QStringList book = m_fx2->bookRow(QStringLiteral("X001"));
    QCOMPARE(onSecond.send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("roamer")}).word(),
             Reply::BorrowBookSuccessfully);
    QCOMPARE(m_fx1->bookRow(QStringLiteral("X001")).value(6), BookState::lentOut());
    const QList<QStringList> loans = onFirst.send(UserBorrowBookQuery{QStringLiteral("roamer")}).frames;
    QCOMPARE(loans.size(), 1);
    QCOMPARE(onFirst.send(ReturnBookQuery{LoanRecord::from(loans.first()), QStringLiteral("roamer")}).word(),
             Reply::ReturnBookSuccessfully);
    // Another address has no session on either server.
    QCOMPARE(m_fx2->client(21).send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("roamer")}).word(),
             QStringLiteral("NOT_LOGGED_IN"));

    // The latest login from an address decides on both servers: an administrator session taken over by
    // a reader through the second server no longer manages accounts through the first.
    QCOMPARE(m_fx2->login(onSecond, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    QCOMPARE(onFirst.send(SearchUserQuery{QStringLiteral("roamer")}).frames.size(), 1);
    QCOMPARE(m_fx2->login(onSecond, QStringLiteral("roamer"), QStringLiteral("pw-roamer")), QStringLiteral("PASS"));
    QCOMPARE(onFirst.send(SearchUserQuery{QStringLiteral("roamer")}).frames.size(), 0);
}

void TestPostgres::twoServersRaceForOneCopy()
{
    if (!requireCluster())
        return;
    constexpr int Clients = 16;
    // Each racer at a PC of its own, logged in through the first server, borrowing through either.
    std::vector<WireClient> via;
    for (int i = 0; i < Clients; ++i) {
        const QString id = QStringLiteral("racer%1").arg(i);
        QVERIFY(m_fx1->createUser(m_admin, id, QStringLiteral("pw-123456"), Levels::Undergraduate));
        QCOMPARE(m_fx1->login(m_fx1->client(100 + i), id, QStringLiteral("pw-123456")), QStringLiteral("PASS"));
        via.push_back(i % 2 ? m_fx2->client(100 + i) : m_fx1->client(100 + i));
    }
    const QStringList book = m_fx1->bookRow(QStringLiteral("R001"));
    std::vector<std::function<QString()>> borrows;
    for (int i = 0; i < Clients; ++i) {
        const WireClient& c = via[size_t(i)];
        borrows.push_back([&c, book, i] {
            return c.send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("racer%1").arg(i)}).word();
        });
    }
    const QStringList words = race(borrows);
    QCOMPARE(words.count(Reply::BorrowBookSuccessfully), 1);
    QCOMPARE(words.count(QStringLiteral("BOOK_ALREADY_LENT")), Clients - 1);
    const int winner = int(words.indexOf(Reply::BorrowBookSuccessfully));
    QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM loans WHERE book_number = 'R001'")), 1);
    const QList<QStringList> loans =
        m_fx2->client(100 + winner).send(UserBorrowBookQuery{QStringLiteral("racer%1").arg(winner)}).frames;
    QCOMPARE(loans.size(), 1);
    QCOMPARE(loans.first().value(5), QStringLiteral("R001"));
}

void TestPostgres::loanLimitHoldsAcrossServers()
{
    if (!requireCluster())
        return;
    // Six free books at once for an account that may hold two: the account's row is locked for each
    // loan, so the count it checks cannot be stale on the other server.
    QVERIFY(m_fx1->createUser(m_admin, QStringLiteral("greedy"), QStringLiteral("pw-greedy"), Levels::Undergraduate));
    const WireClient viaFirst = m_fx1->client(30);
    const WireClient viaSecond = m_fx2->client(30);
    QCOMPARE(m_fx1->login(viaFirst, QStringLiteral("greedy"), QStringLiteral("pw-greedy")), QStringLiteral("PASS"));
    std::vector<std::function<QString()>> borrows;
    for (int i = 1; i <= 6; ++i) {
        const QStringList book = m_fx1->bookRow(QStringLiteral("L00%1").arg(i));
        const WireClient& via = i % 2 ? viaSecond : viaFirst;
        borrows.push_back([&via, book] {
            return via.send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("greedy")}).word();
        });
    }
    const QStringList words = race(borrows);
    QCOMPARE(words.count(Reply::BorrowBookSuccessfully), 2);
    QCOMPARE(words.count(QStringLiteral("BORROW_LIMIT_REACHED")), 4);
    QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM loans WHERE account_id = 'greedy'")), 2);
}

void TestPostgres::deleteRacesBorrowAcrossServers()
{
    if (!requireCluster())
        return;
    constexpr int Borrowers = 6;
    std::vector<WireClient> viaSecond;
    for (int i = 0; i < Borrowers; ++i) {
        const QString id = QStringLiteral("deleter%1").arg(i);
        QVERIFY(m_fx1->createUser(m_admin, id, QStringLiteral("pw-123456"), Levels::Undergraduate));
        viaSecond.push_back(m_fx2->client(130 + i));
        QCOMPARE(m_fx2->login(viaSecond.back(), id, QStringLiteral("pw-123456")), QStringLiteral("PASS"));
    }
    const QStringList book = m_fx1->bookRow(QStringLiteral("D001"));
    std::vector<std::function<QString()>> requests;
    requests.push_back([&] { return m_admin.send(DeleteBookQuery{BookRecord::from(book)}).word(); });
    for (int i = 0; i < Borrowers; ++i) {
        const WireClient& c = viaSecond[size_t(i)];
        requests.push_back([&c, book, i] {
            return c.send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("deleter%1").arg(i)}).word();
        });
    }
    const QStringList words = race(requests);
    const QStringList borrows = words.mid(1);
    const qint64 loans = scalar(QStringLiteral("SELECT COUNT(*) FROM loans WHERE book_number = 'D001'"));
    const qint64 copies = scalar(QStringLiteral("SELECT COUNT(*) FROM books WHERE number = 'D001'"));
    if (words.first() == Reply::DeleteBookSuccessfully) {
        // Deleted before any loan: no borrower got it, and later ones found no book.
        QCOMPARE(borrows.count(Reply::BorrowBookSuccessfully), 0);
        QCOMPARE(copies, 0);
        QCOMPARE(loans, 0);
    } else {
        QCOMPARE(words.first(), QStringLiteral("BOOK_ON_LOAN"));
        QCOMPARE(borrows.count(Reply::BorrowBookSuccessfully), 1);
        QCOMPARE(copies, 1);
        QCOMPARE(loans, 1);
    }
    for (const QString& word : borrows) {
        QVERIFY2(word == Reply::BorrowBookSuccessfully || word == QLatin1String("BOOK_ALREADY_LENT")
                     || word == QLatin1String("NO_SUCH_BOOK"),
                 qPrintable(word));
    }
}

void TestPostgres::returnRacesItselfAcrossServers()
{
    if (!requireCluster())
        return;
    QVERIFY(
        m_fx1->createUser(m_admin, QStringLiteral("returner"), QStringLiteral("pw-returner"), Levels::Undergraduate));
    const WireClient viaFirst = m_fx1->client(32);
    const WireClient viaSecond = m_fx2->client(32);
    QCOMPARE(m_fx1->login(viaFirst, QStringLiteral("returner"), QStringLiteral("pw-returner")), QStringLiteral("PASS"));
    QCOMPARE(
        viaFirst
            .send(BorrowBookQuery{BookRecord::from(m_fx1->bookRow(QStringLiteral("T001"))), QStringLiteral("returner")})
            .word(),
        Reply::BorrowBookSuccessfully);
    const QStringList loan = viaFirst.send(UserBorrowBookQuery{QStringLiteral("returner")}).frames.value(0);
    // The same return pressed on two machines at once: one ends the loan, the other finds none, and
    // the history holds it once.
    std::vector<std::function<QString()>> returns;
    for (int i = 0; i < 6; ++i) {
        const WireClient& via = i % 2 ? viaSecond : viaFirst;
        returns.push_back([&via, loan] {
            return via.send(ReturnBookQuery{LoanRecord::from(loan), QStringLiteral("returner")}).word();
        });
    }
    const QStringList words = race(returns);
    QCOMPARE(words.count(Reply::ReturnBookSuccessfully), 1);
    QCOMPARE(words.count(QStringLiteral("NOT_BORROWED_BY_USER")), 5);
    QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM loan_history WHERE book_number = 'T001'")), 1);
    QCOMPARE(m_fx2->bookRow(QStringLiteral("T001")).value(6), BookState::free());
}

void TestPostgres::deletedAccountLosesItsSessionOnEveryServer()
{
    if (!requireCluster())
        return;
    QVERIFY(m_fx1->createUser(m_admin, QStringLiteral("gone"), QStringLiteral("pw-gone"), Levels::Administrator));
    const WireClient viaFirst = m_fx1->client(33);
    const WireClient viaSecond = m_fx2->client(33);
    QCOMPARE(m_fx1->login(viaFirst, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    QCOMPARE(m_fx1->login(viaFirst, QStringLiteral("gone"), QStringLiteral("pw-gone")), QStringLiteral("PASS"));
    QVERIFY(viaSecond.send(SearchUserQuery{QStringLiteral("gone")}).frames.size() == 1);
    QCOMPARE(m_fx2->client(1).send(DeleteUserQuery{QStringLiteral("gone")}).word(),
             QString(Reply::DeleteUserSuccessfully));
    // Neither the deleted administrator nor the earlier administrator login from the address counts.
    QCOMPARE(viaFirst.send(SearchUserQuery{QStringLiteral("admin")}).frames.size(), 0);
    QCOMPARE(viaSecond.send(SearchUserQuery{QStringLiteral("admin")}).frames.size(), 0);
    QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM login_sessions WHERE account_id = 'gone'")), 0);
}

void TestPostgres::lostConnectionsAreReopened()
{
    if (!requireCluster())
        return;
    // One connection of each kind, so that which request meets the lost connection is known.
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    server.setSetting(QStringLiteral("admin/initialPassword"), QStringLiteral("pw"));
    server.setSetting(QStringLiteral("database/readers"), 1);
    server.setSetting(QStringLiteral("database/writers"), 1);
    QVERIFY(server.writeFile(QStringLiteral("seed.csv"), Catalogue));
    server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    ServerFixture fx(server);
    const WireClient c = fx.client(40);
    const BookQuery search{QStringLiteral("Shared Limit"), {}, {}, {}, {}, {}, {}};
    QCOMPARE(c.send(search).frames.size(), 6);
    QCOMPARE(fx.login(c, QStringLiteral("admin"), QStringLiteral("pw")), QStringLiteral("PASS"));

    QCOMPARE(m_pg->terminateConnectionsOf(server.processId()), 2);
    // Wait until the database has let the connections go, so that the next requests meet them closed.
    QTRY_COMPARE_WITH_TIMEOUT(scalar(QStringLiteral("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = "
                                                    "'library-server/%1'")
                                         .arg(server.processId())),
                              0, 30000);
    const int linesBefore = int(server.output().size());

    // The first request on each lost connection fails cleanly: an end-of-stream frame, a log line. (The
    // search's session look-up may meet the lost reader first; the search then finds it reopened.)
    const WireClient::Reply failedSearch = c.send(search);
    QVERIFY2(failedSearch.endOfStream, qPrintable(failedSearch.error));
    QVERIFY(failedSearch.frames.size() == 0 || failedSearch.frames.size() == 6);
    const WireClient::Reply failedLogin = c.send(LoginQuery{QStringLiteral("admin"), QStringLiteral("pw")});
    QVERIFY(failedLogin.endOfStream);
    QCOMPARE(failedLogin.word(), QStringLiteral("SERVER_ERROR"));
    QVERIFY(server.waitForOutput(QStringLiteral("database connection lost"), 30000, linesBefore));

    // The next ones find the connections opened again.
    QCOMPARE(c.send(search).frames.size(), 6);
    QCOMPARE(fx.login(c, QStringLiteral("admin"), QStringLiteral("pw")), QStringLiteral("PASS"));
    QCOMPARE(c.send(AddBookQuery{QStringLiteral("After The Loss"), {}, {}, QStringLiteral("Z002"), {}, {}, {}}).word(),
             Reply::AddBookSuccessfully);
    QVERIFY(server.waitForOutput(QStringLiteral("database connection reopened"), 30000, linesBefore));
    QVERIFY(server.stop());
}

QTEST_GUILESS_MAIN(TestPostgres)
#include "tst_postgres.moc"
