#include "serverfixture.h"

#include <QRegularExpression>
#include <QSqlQuery>

// The circulation desk over the wire, on the test server whose clock the test moves: due dates by
// level, renewals, the hold queue through return, pick-up expiry and desk check-out, staff acting for
// readers under the readers' rules, check-in by number, overdue lists and blocking, the audit trail.
class TestCirculation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void dueDatesByLevel_data();
    void dueDatesByLevel();
    void circulationStory_data();
    void circulationStory();
    void changesAreTimedByTheServerClock();
    void earlierLoansGetDueDatesOnUpgrade();

private:
    WireClient::Reply send(int address, const QStringList& request) const;
    // Logs the administrator (.1) and the readers in again: a moved clock ends their sessions too.
    void logEveryoneIn() const;

    ServerProcess m_server{QStringLiteral(TEST_SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
};

namespace {

constexpr qint64 Day = 24 * 3600;
const QString Date = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");

// The request frames the tests send, by what they carry: the server reads only the number of a book
// or loan record.
QStringList borrow(const QString& number, const QString& user)
{
    return QStringList{QString(Query::BorrowBook)} + BookRecord{{}, {}, {}, {}, {}, number, {}, {}}.fields()
        + QStringList{user};
}
QStringList giveBack(const QString& number, const QString& user)
{
    return QStringList{QString(Query::ReturnBook)} + LoanRecord{{}, {}, {}, {}, {}, number, {}}.fields()
        + QStringList{user};
}
QStringList search(const QString& number)
{
    return QStringList{QString(Query::BookSearching)} + BookQuery{{}, {}, number, {}, {}, {}, {}}.fields();
}
QStringList ask(QLatin1String code, const QStringList& fields = {})
{
    return QStringList{QString(code)} + fields;
}

// Each reader logs in from an address of its own: ann .2, bob .3, cid .4, pat .5, gus .6.
const struct {
    const char* id;
    int level;
} readers[] = {{"ann", Levels::Undergraduate},
               {"bob", Levels::Undergraduate},
               {"cid", Levels::Undergraduate},
               {"pat", Levels::Postgraduate},
               {"gus", Levels::Guest}};

} // namespace

void TestCirculation::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QByteArray seed = "title,author,type,publisher,year,number,permission\n";
    for (int i = 1; i <= 9; ++i)
        seed += "Circ " + QByteArray::number(i) + ",Anon,Test,Self,2000,B" + QByteArray::number(i) + ",Undergraduate\n";
    seed += "Circ VIP,Anon,Test,Self,2000,V1,VIP\n";
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"), seed));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    m_server.setSetting(QStringLiteral("loanPeriods/Postgraduate"), 45);
    // Renewals from the first day of a 30-day loan; a 45-day loan only in its last 30 days.
    m_server.setSetting(QStringLiteral("circulation/renewWithinDays"), 30);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    const WireClient admin = m_fx->client(1);
    QCOMPARE(m_fx->login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    for (const auto& reader : readers)
        QVERIFY(m_fx->createUser(admin, QLatin1String(reader.id), QStringLiteral("pw-") + reader.id, reader.level));
    logEveryoneIn();
}

void TestCirculation::logEveryoneIn() const
{
    QCOMPARE(m_fx->login(m_fx->client(1), QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    int address = 2;
    for (const auto& reader : readers) {
        const QString id = QLatin1String(reader.id);
        QCOMPARE(m_fx->login(m_fx->client(address++), id, QStringLiteral("pw-") + id), QStringLiteral("PASS"));
    }
}

void TestCirculation::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

WireClient::Reply TestCirculation::send(int address, const QStringList& request) const
{
    return m_fx->client(address).sendBytes(Wire::encodeFrame(request));
}

void TestCirculation::dueDatesByLevel_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("days");
    QTest::newRow("undergraduate: the default 30 days") << 2 << "ann"
                                                        << "B7" << 30;
    QTest::newRow("postgraduate: [loanPeriods] 45 days") << 5 << "pat"
                                                         << "B8" << 45;
    QTest::newRow("staff lend under the reader's period, not their own") << 1 << "pat"
                                                                         << "B9" << 45;
}

void TestCirculation::dueDatesByLevel()
{
    QFETCH(int, address);
    QFETCH(QString, reader);
    QFETCH(QString, number);
    QFETCH(int, days);
    QCOMPARE(send(address, borrow(number, reader)).word(), Reply::BorrowBookSuccessfully);
    QStringList loan;
    for (const QStringList& row : send(address, ask(Query::UserLoans, {reader})).frames) {
        QCOMPARE(row.size(), Reply::UserLoanRowSize);
        if (row[5] == number)
            loan = row;
    }
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QDateTime borrowed = QDateTime::fromString(loan.value(6), format);
    QVERIFY2(borrowed.isValid(), qPrintable(loan.join(QLatin1Char('|'))));
    QCOMPARE(QDateTime::fromString(loan.value(7), format), borrowed.addDays(days));
    QCOMPARE(loan.value(8), QStringLiteral("0"));
    QCOMPARE(loan.value(9), QStringLiteral("2")); // renewals left of the default two
    // The desk takes it back, so that the story below starts with no loans.
    QCOMPARE(send(1, ask(Query::CheckinBook, {number})).word(), Reply::ReturnBookSuccessfully);
}

void TestCirculation::circulationStory_data()
{
    // One story, told in order: each row is a request, sent from an address after the clock moved by
    // the given days, and the pattern its reply must match (frames on lines, fields joined by "|").
    QTest::addColumn<double>("clockDays");
    QTest::addColumn<int>("address");
    QTest::addColumn<QStringList>("request");
    QTest::addColumn<QString>("reply");
    const auto row = [](const char* name, double days, int address, const QStringList& request, const QString& reply) {
        QTest::newRow(name) << days << address << request << reply;
    };
    const QLatin1String hold = Query::PlaceHold, cancel = Query::CancelHold;
    const QString ok = QStringLiteral("^BORROW_BOOK_SUCCESSFULLY$");

    row("ann borrows B1", 0, 2, borrow("B1", "ann"), ok);
    row("ann borrows B3", 0, 2, borrow("B3", "ann"), ok);
    row("ann borrows B4", 0, 2, borrow("B4", "ann"), ok);
    row("bob borrows B5", 0, 3, borrow("B5", "bob"), ok);
    row("a reader cannot renew another's loan", 0, 3, ask(Query::RenewBook, {"B1", "bob"}), "^NOT_BORROWED_BY_USER$");
    row("nor for another account", 0, 3, ask(Query::RenewBook, {"B1", "ann"}), "^NOT_LOGGED_IN$");
    row("pat borrows B9 for 45 days", 0, 5, borrow("B9", "pat"), ok);
    row("a renewal too early says from when", 0, 5, ask(Query::RenewBook, {"B9", "pat"}),
        "^RENEW_TOO_EARLY\\|" + Date + "$");
    row("pat returns B9", 0, 5, giveBack("B9", "pat"), "^RETURN_BOOK_SUCCESSFULLY$");
    row("ann renews B1", 0, 2, ask(Query::RenewBook, {"B1", "ann"}), "^RENEW_BOOK_SUCCESSFULLY\\|" + Date + "$");
    row("staff renew B1 for ann", 0, 1, ask(Query::RenewBook, {"B1", "ann"}),
        "^RENEW_BOOK_SUCCESSFULLY\\|" + Date + "$");
    row("[circulation] maxRenewals reached", 0, 2, ask(Query::RenewBook, {"B1", "ann"}), "^RENEW_LIMIT_REACHED$");
    row("renewals counted in the loan list", 0, 2, ask(Query::UserLoans, {"ann"}),
        "^Circ 1\\|Anon\\|Test\\|Self\\|2000\\|B1\\|" + Date + "\\|" + Date
            + "\\|2\\|0\\n.*B3.*\\|0\\|2\\n.*B4.*\\|0\\|2$");
    row("no hold on a copy on the shelf", 0, 3, ask(hold, {"B2", "bob"}), "^BOOK_NOT_ON_LOAN$");
    row("no hold on one's own loan", 0, 2, ask(hold, {"B1", "ann"}), "^ALREADY_BORROWED_BY_USER$");
    row("no hold for an unconfirmed account", 0, 6, ask(hold, {"B1", "gus"}), "^ACCOUNT_UNCONFIRMED$");
    row("no hold above the reader's level", 0, 3, ask(hold, {"V1", "bob"}), "^PERMISSION_TOO_LOW$");
    row("bob holds B1", 0, 3, ask(hold, {"B1", "bob"}), "^PLACE_HOLD_SUCCESSFULLY$");
    row("one hold per reader per copy", 0, 3, ask(hold, {"B1", "bob"}), "^HOLD_EXISTS$");
    row("cid holds B1 behind bob", 0, 4, ask(hold, {"B1", "cid"}), "^PLACE_HOLD_SUCCESSFULLY$");
    row("bob is first and waits", 0, 3, ask(Query::UserHolds, {"bob"}), "^B1\\|Circ 1\\|1\\|排队中\\|$");
    row("cid is second", 0, 4, ask(Query::UserHolds, {"cid"}), "^B1\\|Circ 1\\|2\\|排队中\\|$");
    row("bob holds B4", 0, 3, ask(hold, {"B4", "bob"}), "^PLACE_HOLD_SUCCESSFULLY$");
    row("no renewal while a hold waits", 0, 2, ask(Query::RenewBook, {"B4", "ann"}), "^BOOK_ON_HOLD$");
    row("bob cancels the B4 hold", 0, 3, ask(cancel, {"B4", "bob"}), "^CANCEL_HOLD_SUCCESSFULLY$");
    row("a hold cancels once", 0, 3, ask(cancel, {"B4", "bob"}), "^NO_SUCH_HOLD$");
    row("staff list any reader's loans", 0, 1, ask(Query::UserBorrowBook, {"ann"}),
        "^Circ 1\\|.*\\n.*B3.*\\n.*B4\\|" + Date + "$");
    row("staff return any loan", 0, 1, giveBack("B4", "ann"), "^RETURN_BOOK_SUCCESSFULLY$");
    row("another reader cannot", 0, 3, giveBack("B3", "ann"), "^NOT_LOGGED_IN$");
    row("ann holds B5", 0, 2, ask(hold, {"B5", "ann"}), "^PLACE_HOLD_SUCCESSFULLY$");
    row("bob returns B5: kept for ann", 0, 3, giveBack("B5", "bob"), "^RETURN_BOOK_SUCCESSFULLY$");
    row("check-in is for staff", 0, 2, ask(Query::CheckinBook, {"B1"}), "^ADMIN_REQUIRED$");
    row("check-in of a copy on the shelf", 0, 1, ask(Query::CheckinBook, {"B2"}), "^BOOK_NOT_ON_LOAN$");
    row("check-in of an unknown number", 0, 1, ask(Query::CheckinBook, {"NOPE"}), "^NO_SUCH_BOOK$");
    row("desk checks B1 in: put aside for bob", 0, 1, ask(Query::CheckinBook, {"B1"}),
        "^RETURN_BOOK_SUCCESSFULLY\\|ann\\|ann name\\|0\\|bob\\|bob name$");
    row("the search shows it kept", 0, 7, search("B1"), "^Circ 1\\|.*\\|B1\\|预约保留\\|Undergraduate$");
    row("bob's hold is ready, with a deadline", 0, 3, ask(Query::UserHolds, {"bob"}),
        "^B1\\|Circ 1\\|1\\|预约保留\\|" + Date + "$");
    row("another reader is refused the kept copy", 0, 4, borrow("B1", "cid"), "^BOOK_ON_HOLD$");
    row("staff too, for another reader", 0, 1, borrow("B1", "cid"), "^BOOK_ON_HOLD$");
    row("a kept copy takes holds behind the queue", 0, 5, ask(hold, {"B1", "pat"}), "^PLACE_HOLD_SUCCESSFULLY$");
    row("pat is third", 0, 5, ask(Query::UserHolds, {"pat"}), "^B1\\|Circ 1\\|3\\|排队中\\|$");
    // Four days on, [circulation] holdDays (3) has passed: bob did not come.
    row("bob's pick-up expired: cid's turn", 4, 4, ask(Query::UserHolds, {"cid"}),
        "^B1\\|Circ 1\\|1\\|预约保留\\|" + Date + "$");
    row("bob's hold is gone", 0, 3, ask(Query::UserHolds, {"bob"}), "^$");
    row("bob is refused now", 0, 3, borrow("B1", "bob"), "^BOOK_ON_HOLD$");
    row("an unclaimed copy with no queue goes back to the shelf", 0, 7, search("B5"),
        "^Circ 5\\|.*\\|B5\\|空闲\\|Undergraduate$");
    row("the desk checks B1 out to cid", 0, 1, borrow("B1", "cid"), ok);
    row("pat waits for cid's return", 0, 5, ask(Query::UserHolds, {"pat"}), "^B1\\|Circ 1\\|1\\|排队中\\|$");
    row("the overdue list is for staff", 0, 2, ask(Query::OverdueLoans), "^$");
    row("nothing overdue yet", 0, 1, ask(Query::OverdueLoans), "^$");
    // Day 35 less an hour: ann's B3 (due day 30) is 5 days late, cid's B1 (day 4 + 30) 1 day.
    row("the overdue list, most overdue first", 31 - 1.0 / 24, 1, ask(Query::OverdueLoans),
        "^B3\\|Circ 3\\|ann\\|ann name\\|123\\|ann@example.org\\|" + Date
            + "\\|5\\n"
              "B1\\|Circ 1\\|cid\\|cid name\\|123\\|cid@example.org\\|"
            + Date + "\\|1$");
    row("a reader with an overdue loan cannot borrow", 0, 2, borrow("B2", "ann"), "^LOAN_OVERDUE$");
    row("nor can staff lend to that reader", 0, 1, borrow("B2", "ann"), "^LOAN_OVERDUE$");
    row("an overdue loan cannot be renewed", 0, 2, ask(Query::RenewBook, {"B3", "ann"}), "^LOAN_OVERDUE$");
    row("check-in tells the days overdue", 0, 1, ask(Query::CheckinBook, {"B3"}),
        "^RETURN_BOOK_SUCCESSFULLY\\|ann\\|ann name\\|5\\|\\|$");
    row("ann borrows again", 0, 2, borrow("B2", "ann"), ok);
    row("the audit trail of a copy, newest first", 0, 1, ask(Query::AuditLog, {"", "B1"}),
        "^" + Date + "\\|admin\\|127.0.0.1\\|BORROW_BOOK\\|cid\\|B1\\|due .*\\n" + Date
            + "\\|pat\\|127.0.0.5\\|PLACE_HOLD\\|pat\\|B1\\|\\n");
    row("the audit trail is for staff", 0, 2, ask(Query::AuditLog, {"ann", ""}), "^$");
}

void TestCirculation::circulationStory()
{
    QFETCH(double, clockDays);
    QFETCH(int, address);
    QFETCH(QStringList, request);
    QFETCH(QString, reply);
    if (clockDays > 0) {
        QVERIFY(m_server.advanceClock(qint64(clockDays * Day)));
        logEveryoneIn();
    }
    const WireClient::Reply answer = send(address, request);
    QVERIFY2(answer.endOfStream, qPrintable(answer.error));
    QStringList lines;
    for (const QStringList& frame : answer.frames)
        lines.append(frame.join(QLatin1Char('|')));
    const QString text = lines.join(QLatin1Char('\n'));
    QVERIFY2(QRegularExpression(reply).match(text).hasMatch(), qPrintable(QStringLiteral("got: ") + text));
}

// Every stored time comes from the one clock of the server, which the test server moves: the
// audit trail's too.
void TestCirculation::changesAreTimedByTheServerClock()
{
    const QStringList entry = send(1, ask(Query::AuditLog, {"ann", "B2"})).frames.value(0);
    QCOMPARE(entry.value(3), QStringLiteral("BORROW_BOOK"));
    const QDateTime at = QDateTime::fromString(entry.value(0), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY2(qAbs(at.secsTo(m_server.clockNow())) < 600, qPrintable(entry.join(QLatin1Char('|'))));
}

void TestCirculation::earlierLoansGetDueDatesOnUpgrade()
{
    // A loan from before due dates were kept (as the schema upgrade leaves it) falls due one period of
    // the borrower's level after it was made, as the settings give it when the server starts.
    QCOMPARE(send(5, borrow("B6", "pat")).word(), Reply::BorrowBookSuccessfully);
    QVERIFY(m_server.stop());
    {
        std::optional<PgTestDatabase> pg = m_server.usesPostgres() ? PgTestDatabase::fromEnvironment() : std::nullopt;
        QSqlDatabase sqlite;
        QSqlDatabase* db = nullptr;
        if (pg) {
            QCOMPARE(pg->open(), QString());
            db = &pg->connection();
        } else {
            sqlite = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("upgrade"));
            sqlite.setDatabaseName(m_server.filePath(QStringLiteral("library.db")));
            QVERIFY(sqlite.open());
            db = &sqlite;
        }
        QSqlQuery q(*db);
        const QString table = pg ? m_server.schema() + QStringLiteral(".loans") : QStringLiteral("loans");
        QVERIFY(
            q.exec(QStringLiteral("UPDATE ") + table + QStringLiteral(" SET due_at = '' WHERE book_number = 'B6'")));
        q.finish();
        sqlite.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("upgrade"));
    m_server.setSetting(QStringLiteral("loanPeriods/Postgraduate"), 10);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    QCOMPARE(m_fx->login(m_fx->client(1), QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    const QStringList loan = send(1, ask(Query::UserLoans, {"pat"})).frames.value(0);
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    QCOMPARE(loan.value(5), QStringLiteral("B6"));
    QCOMPARE(QDateTime::fromString(loan.value(7), format), QDateTime::fromString(loan.value(6), format).addDays(10));
}

QTEST_GUILESS_MAIN(TestCirculation)
#include "tst_circulation.moc"
