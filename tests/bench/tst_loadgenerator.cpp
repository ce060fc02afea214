#include "ceilingserver.h"
#include "heavyreader.h"
#include "loadgenerator.h"
#include "messages.h"
#include "referenceserver.h"
#include "syntheticcatalogue.h"
#include "workload.h"

#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <atomic>
#include <thread>
#include <unistd.h>

namespace {

// A loopback socket bound to a free port; listening or not, as the test needs.
class LoopbackSocket
{
public:
    explicit LoopbackSocket(bool listening)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (listening)
            ::listen(m_fd, 64);
        socklen_t length = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~LoopbackSocket() { ::close(m_fd); }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

QStringList bookRow(const SyntheticCatalogue& catalogue, qint64 index)
{
    return catalogue.bookRecord(index);
}

} // namespace

class TestLoadGenerator : public QObject
{
    Q_OBJECT

private slots:
    void requestsDecode_data();
    void requestsDecode();
    void lookupFaults_data();
    void lookupFaults();
    void searchFaults_data();
    void searchFaults();
    void wordFaults_data();
    void wordFaults();
    void heavyReaderFaults_data();
    void heavyReaderFaults();
    void countsEveryOperationAgainstTheStandIns_data();
    void countsEveryOperationAgainstTheStandIns();
    void brokenServersCountAsFailures_data();
    void brokenServersCountAsFailures();
};

void TestLoadGenerator::requestsDecode_data()
{
    QTest::addColumn<QString>("caseName");
    QTest::addColumn<QStringList>("codes");
    QTest::newRow("lookup") << "lookup" << QStringList{Query::BookSearching};
    QTest::newRow("search") << "search" << QStringList{Query::BookSearching};
    QTest::newRow("pinyin") << "pinyin" << QStringList{Query::BookSearching};
    QTest::newRow("initials") << "initials" << QStringList{Query::BookSearching};
    QTest::newRow("pair") << "pair" << QStringList{Query::BookSearching};
    QTest::newRow("login") << "login" << QStringList{Query::UserLogin};
    QTest::newRow("borrow") << "borrow" << QStringList{Query::BorrowBook, Query::ReturnBook};
    QTest::newRow("heavy-borrow") << "heavy-borrow" << QStringList{Query::BorrowBook, Query::CheckinBook};
    QTest::newRow("heavy-renew") << "heavy-renew" << QStringList{Query::RenewBook};
    QTest::newRow("heavy-loans") << "heavy-loans" << QStringList{Query::UserLoans};
    QTest::newRow("heavy-holds") << "heavy-holds" << QStringList{Query::UserHolds};
}

// Every request the load sends is one the server can decode: right code, right number of fields.
void TestLoadGenerator::requestsDecode()
{
    QFETCH(QString, caseName);
    QFETCH(QStringList, codes);
    const SyntheticCatalogue catalogue(HeavyReader::MinCatalogue);
    auto workload = Workload::create(caseName, catalogue, {"reader", "secret"}, 4);
    QVERIFY(workload);
    QCOMPARE(workload->steps(), codes.size());
    for (int connection = 0; connection < 4; ++connection) {
        for (int step = 0; step < workload->steps(); ++step) {
            FrameReader reader;
            reader.feed(workload->request(connection, step));
            const FrameReader::Result frame = reader.next();
            QCOMPARE(frame.status, FrameReader::Status::Frame);
            QCOMPARE(reader.bufferedBytes(), 0);
            const auto request = Wire::decodeRequest(frame.body);
            QVERIFY(request);
            QCOMPARE(request->code, codes[step]);
        }
    }
}

void TestLoadGenerator::lookupFaults_data()
{
    QTest::addColumn<QList<QStringList>>("frames");
    QTest::addColumn<bool>("right");
    const SyntheticCatalogue catalogue(50);
    const QStringList asked = bookRow(catalogue, 7);
    QTest::newRow("the book") << QList<QStringList>{asked} << true;
    QTest::newRow("nothing") << QList<QStringList>{} << false;
    QTest::newRow("another book") << QList<QStringList>{bookRow(catalogue, 8)} << false;
    QTest::newRow("the book twice") << QList<QStringList>{asked, asked} << false;
    QTest::newRow("short row") << QList<QStringList>{asked.mid(0, 7)} << false;
}

void TestLoadGenerator::lookupFaults()
{
    QFETCH(QList<QStringList>, frames);
    QFETCH(bool, right);
    BookNumberProbe probe(SyntheticCatalogue::number(7));
    QCOMPARE(probe.fault(0, 0, frames).isEmpty(), right);
}

void TestLoadGenerator::searchFaults_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("fields");
    QTest::addColumn<bool>("right");
    QTest::newRow("carries the word") << "Notes on QWORD" << 8 << true;
    QTest::newRow("lacks the word") << "Notes on something" << 8 << false;
    QTest::newRow("short row") << "Notes on qword" << 7 << false;
}

void TestLoadGenerator::searchFaults()
{
    QFETCH(QString, title);
    QFETCH(int, fields);
    QFETCH(bool, right);
    const SyntheticCatalogue catalogue(1000);
    TitleSearchWorkload search(catalogue, 1);
    // The word asked for is the workload's choice: read it back from the request it built.
    FrameReader reader;
    reader.feed(search.request(0, 0));
    const auto request = Wire::decodeRequest(reader.next().body);
    QVERIFY(request);
    const QString word = request->fields.first();
    QStringList row = catalogue.bookRecord(0).mid(0, fields);
    row[0] = title.replace(QStringLiteral("QWORD"), word.toUpper()).replace(QStringLiteral("qword"), word);
    QCOMPARE(search.fault(0, 0, {row}).isEmpty(), right);
    QVERIFY(search.fault(0, 0, {}).isEmpty()); // finding nothing is a valid answer
}

void TestLoadGenerator::wordFaults_data()
{
    QTest::addColumn<QString>("caseName");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<QStringList>>("frames");
    QTest::addColumn<bool>("right");
    const QStringList account{"reader", "Reader", "Super Admin", "secret", "1", "2", "3", ""};
    QTest::newRow("login pass") << "login" << 0 << QList<QStringList>{QStringList{"PASS"} + account} << true;
    QTest::newRow("login pass without record") << "login" << 0 << QList<QStringList>{{"PASS"}} << false;
    QTest::newRow("login wrong id") << "login" << 0 << QList<QStringList>{{"WRONG_ID"}} << false;
    QTest::newRow("borrowed") << "borrow" << 0 << QList<QStringList>{{"BORROW_BOOK_SUCCESSFULLY"}} << true;
    QTest::newRow("borrow refused") << "borrow" << 0 << QList<QStringList>{{"BORROW_LIMIT_REACHED"}} << false;
    QTest::newRow("return word for borrow")
        << "borrow" << 0 << QList<QStringList>{{"RETURN_BOOK_SUCCESSFULLY"}} << false;
    QTest::newRow("returned") << "borrow" << 1 << QList<QStringList>{{"RETURN_BOOK_SUCCESSFULLY"}} << true;
    QTest::newRow("return silent") << "borrow" << 1 << QList<QStringList>{} << false;
}

void TestLoadGenerator::wordFaults()
{
    QFETCH(QString, caseName);
    QFETCH(int, step);
    QFETCH(QList<QStringList>, frames);
    QFETCH(bool, right);
    auto workload = Workload::create(caseName, SyntheticCatalogue(100), {"reader", "secret"}, 1);
    QVERIFY(workload);
    QCOMPARE(workload->fault(0, step, frames).isEmpty(), right);
}

void TestLoadGenerator::heavyReaderFaults_data()
{
    QTest::addColumn<QString>("caseName");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<QStringList>>("frames");
    QTest::addColumn<bool>("right");
    const SyntheticCatalogue catalogue(HeavyReader::MinCatalogue);
    const HeavyReader heavy(catalogue);
    const QString reader = HeavyReader::readerId();
    const auto checkin = [&](const QString& borrower, const QString& days, const QString& keptFor) {
        return QList<QStringList>{{"RETURN_BOOK_SUCCESSFULLY", borrower, "Reader", days, keptFor, ""}};
    };
    QTest::newRow("checked in") << "heavy-borrow" << 1 << checkin(reader, "0", "") << true;
    QTest::newRow("another reader's loan") << "heavy-borrow" << 1 << checkin("someone", "0", "") << false;
    QTest::newRow("checked in late") << "heavy-borrow" << 1 << checkin(reader, "3", "") << false;
    QTest::newRow("kept for a reader") << "heavy-borrow" << 1 << checkin(reader, "0", "bench-wait001") << false;
    QTest::newRow("check-in word alone") << "heavy-borrow" << 1 << QList<QStringList>{{"RETURN_BOOK_SUCCESSFULLY"}}
                                         << false;
    QTest::newRow("renewed") << "heavy-renew" << 0
                             << QList<QStringList>{{"RENEW_BOOK_SUCCESSFULLY", "2027-03-01 10:00:00"}} << true;
    QTest::newRow("renewal too early") << "heavy-renew" << 0
                                       << QList<QStringList>{{"RENEW_TOO_EARLY", "2027-03-01 10:00:00"}} << false;

    const auto loanRow = [&](qint64 index) {
        return catalogue.csvRow(index).mid(0, 6) << "2026-12-01 10:00:00"
                                                 << "2027-03-01 10:00:00"
                                                 << "0"
                                                 << "2";
    };
    QList<QStringList> loans;
    for (int i = 0; i < HeavyReader::Loans; ++i)
        loans.append(loanRow(heavy.loanIndex(i)));
    QTest::newRow("every loan") << "heavy-loans" << 0 << loans << true;
    QTest::newRow("one loan short") << "heavy-loans" << 0 << loans.mid(1) << false;
    QList<QStringList> changed = loans;
    changed[7] = loanRow(heavy.spareIndex(0));
    QTest::newRow("a copy not on loan") << "heavy-loans" << 0 << changed << false;
    changed[7] = loans[8];
    QTest::newRow("a loan twice") << "heavy-loans" << 0 << changed << false;
    changed[7] = loans[7].mid(0, 9);
    QTest::newRow("a short row") << "heavy-loans" << 0 << changed << false;

    // The first request of a connection asks about the first reader in the queue.
    const QString title = HeavyReader::addTitle().title;
    QTest::newRow("first in the queue") << "heavy-holds" << 0
                                        << QList<QStringList>{{HeavyReader::titleCopy(1), title, "1", "排队中", ""}}
                                        << true;
    QTest::newRow("wrong place") << "heavy-holds" << 0
                                 << QList<QStringList>{{HeavyReader::titleCopy(1), title, "2", "排队中", ""}} << false;
    QTest::newRow("kept already") << "heavy-holds" << 0
                                  << QList<QStringList>{{HeavyReader::titleCopy(1), title, "1", "预约保留",
                                                         "2026-12-12 10:00:00"}}
                                  << false;
    QTest::newRow("no hold") << "heavy-holds" << 0 << QList<QStringList>{} << false;
}

// The heavy cases count only the replies a server holding the heavy reader gives as right.
void TestLoadGenerator::heavyReaderFaults()
{
    QFETCH(QString, caseName);
    QFETCH(int, step);
    QFETCH(QList<QStringList>, frames);
    QFETCH(bool, right);
    auto workload = Workload::create(caseName, SyntheticCatalogue(HeavyReader::MinCatalogue), {"admin", "secret"}, 1);
    QVERIFY(workload);
    workload->request(0, step);
    QCOMPARE(workload->fault(0, step, frames).isEmpty(), right);
}

void TestLoadGenerator::countsEveryOperationAgainstTheStandIns_data()
{
    QTest::addColumn<bool>("ceiling");
    QTest::addColumn<QString>("caseName");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<bool>("expectRight");
    for (const bool ceiling : {false, true}) {
        const char* server = ceiling ? "ceiling" : "reference";
        QTest::addRow("%s lookup unchecked", server) << ceiling << "lookup" << false << true;
        QTest::addRow("%s borrow unchecked", server) << ceiling << "borrow" << false << true;
        QTest::addRow("%s heavy-borrow unchecked", server) << ceiling << "heavy-borrow" << false << true;
        // The canned row is not the book asked for: checking must notice.
        QTest::addRow("%s lookup checked", server) << ceiling << "lookup" << true << false;
    }
    QTest::newRow("reference login checked") << false << "login" << true << false;
}

// Both stand-in servers answer every request of the load, and the load counts every answer.
void TestLoadGenerator::countsEveryOperationAgainstTheStandIns()
{
    QFETCH(bool, ceiling);
    QFETCH(QString, caseName);
    QFETCH(bool, verify);
    QFETCH(bool, expectRight);
    // The reference serves on a thread of its own; the ceiling accepts through this thread's event loop,
    // so the load runs on another thread while this one waits with events processed.
    ReferenceServer reference;
    CeilingServer ceilingServer;
    std::thread serving;
    if (ceiling) {
        QVERIFY(ceilingServer.listen(QHostAddress::LocalHost, 0));
    } else {
        QVERIFY(reference.listen(0));
        serving = std::thread([&reference] { reference.run(); });
    }

    auto workload = Workload::create(caseName, SyntheticCatalogue(HeavyReader::MinCatalogue), {"reader", "secret"}, 4);
    LoadGenerator::Options options;
    options.port = ceiling ? ceilingServer.serverPort() : reference.port();
    options.connections = 4;
    options.maxOperations = 200;
    options.seconds = 120; // the count ends the run, this only bounds it
    options.verify = verify;
    LoadGenerator::Result result;
    std::atomic<bool> done{false};
    std::thread load([&] {
        result = LoadGenerator(*workload, options).run();
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done, 120000);
    load.join();
    reference.stop();
    if (serving.joinable())
        serving.join();

    QCOMPARE(result.operations + result.failures, qint64(200));
    QCOMPARE(result.operations, expectRight ? qint64(200) : qint64(0));
    QCOMPARE(result.latencies.count(), qsizetype(result.operations));
    QCOMPARE(result.frames, qint64(200 * workload->steps()));
    QCOMPARE(result.steps.size(), size_t(workload->steps()));
    for (const LoadGenerator::Step& step : result.steps) {
        QCOMPARE(step.latencies.count(), qsizetype(result.operations));
        QCOMPARE(step.frames, qint64(200));
        QCOMPARE(step.failures, expectRight ? qint64(0) : qint64(200));
    }
    // A ceiling thread counts its answer after the peer may already have read it.
    const auto served = [&] { return ceiling ? ceilingServer.served() : reference.served(); };
    QTRY_COMPARE(served(), quint64(200 * workload->steps()));
    QCOMPARE(result.firstFault.isEmpty(), expectRight);
}

void TestLoadGenerator::brokenServersCountAsFailures_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("fault");
    QTest::newRow("nobody listens") << false << "connect";
    QTest::newRow("accepts and never answers") << true << "no end-of-stream word";
}

void TestLoadGenerator::brokenServersCountAsFailures()
{
    QFETCH(bool, listening);
    QFETCH(QString, fault);
    LoopbackSocket socket(listening);
    BookNumberProbe probe(SyntheticCatalogue::number(0));
    LoadGenerator::Options options;
    options.port = socket.port();
    options.connections = 2;
    options.seconds = 0.2;
    options.stepTimeoutMs = 300;
    const LoadGenerator::Result result = LoadGenerator(probe, options).run();
    QCOMPARE(result.operations, qint64(0));
    QVERIFY(result.failures > 0);
    QVERIFY2(result.firstFault.contains(fault), qPrintable(result.firstFault));
}

QTEST_GUILESS_MAIN(TestLoadGenerator)
#include "tst_loadgenerator.moc"
