#include "serverfixture.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>

// Knowing the collection over the wire, on the test server whose clock the test moves: a scripted year
// of loans, returns, renewals and late returns gives the counts of every report, and the same counts
// after the privacy prune has removed who borrowed what; a stocktake meets every kind of finding; a
// copy marked lost cannot be borrowed or reserved until it is found again.
class TestStatistics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void aYearOfLoans();
    void reports_data();
    void reports();
    void reportsAfterThePrune_data() { reports_data(); }
    void reportsAfterThePrune();
    void stocktake_data();
    void stocktake();

private:
    WireClient::Reply send(int address, const QStringList& request) const;
    void logEveryoneIn() const;
    QString localMonth() const { return m_server.clockNow().toString(QStringLiteral("yyyy-MM")); }
    // The reply as text: frames on lines, fields joined by "|".
    static QString text(const WireClient::Reply& reply);

    ServerProcess m_server{QStringLiteral(TEST_SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
    QString m_addedOn, m_firstDay, m_lastDay;

    // What the year should have counted, by month and by group.
    struct Counts {
        qint64 loans = 0, returns = 0, renewals = 0, late = 0;
    };
    QMap<QString, Counts> m_months;
    QMap<QString, qint64> m_loansByLevel, m_loansByType;
    QMap<QString, QSet<QString>> m_readersByLevel, m_readersByType; // "month reader"
    QMap<QString, qint64> m_scienceByLevel;
    QMap<QString, QSet<QString>> m_scienceReadersByLevel;
};

namespace {

constexpr qint64 Day = 24 * 3600;

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
QStringList ask(QLatin1String code, const QStringList& fields = {})
{
    return QStringList{QString(code)} + fields;
}

// The readers, each logging in from an address of its own (the administrator is .1).
const struct {
    const char* id;
    int level;
    int address;
} readers[] = {{"ann", Levels::Undergraduate, 2}, {"bob", Levels::Undergraduate, 3}, {"pat", Levels::Postgraduate, 4}};

int addressOf(const QString& reader)
{
    for (const auto& r : readers) {
        if (reader == QLatin1String(r.id))
            return r.address;
    }
    return 1;
}

// The seed catalogue, in number order: two copies of one title, copies never borrowed, and a shelf of
// copies numbered K for the stocktake.
const char* const catalogue = "title,author,type,publisher,year,number,permission\n"
                              "Red Sea,Lin,Fiction,P,2001,F1,Undergraduate\n"
                              "Red Sea,Lin,Fiction,P,2001,F2,Undergraduate\n"
                              "Blue Hill,Wu,Fiction,P,2002,F3,Undergraduate\n"
                              "Kite,Kay,Kids,P,2003,K1,Undergraduate\n"
                              "Kettle,Kay,Kids,P,2003,K2,Undergraduate\n"
                              "Kernel,Kay,Kids,P,2003,K3,Undergraduate\n"
                              "Keel,Kay,Kids,P,2003,K4,Undergraduate\n"
                              "Dust,Nobody,Fiction,P,2004,N1,Undergraduate\n"
                              "Void,Nobody,Science,P,2004,N2,Undergraduate\n"
                              "Atoms,Bohr,Science,P,2005,S1,Undergraduate\n"
                              "Stars,Hale,Science,P,2005,S2,Undergraduate\n";

QString typeOf(const QString& number)
{
    return number.startsWith(QLatin1Char('F')) ? QStringLiteral("Fiction") : QStringLiteral("Science");
}

enum class Act { Borrow, Renew, Return, Checkin };

// The year, day by day from a local noon: loans of 30 days, so a return after day 30 of its loan
// (renewals give 30 days from the renewal) is late, as `late` says.
const struct {
    int day;
    Act act;
    const char* reader;
    const char* number;
    bool late;
} year[] = {
    {0, Act::Borrow, "ann", "F1", false},   {0, Act::Borrow, "ann", "F3", false},
    {0, Act::Borrow, "bob", "S1", false},   {0, Act::Borrow, "pat", "F2", false},
    {10, Act::Renew, "ann", "F1", false},   {20, Act::Return, "ann", "F1", false},
    {20, Act::Return, "ann", "F3", false},  {20, Act::Checkin, "bob", "S1", false},
    {45, Act::Return, "pat", "F2", true},   {60, Act::Borrow, "ann", "F1", false},
    {60, Act::Borrow, "bob", "F3", false},  {60, Act::Borrow, "bob", "S2", false},
    {75, Act::Renew, "bob", "S2", false},   {100, Act::Return, "ann", "F1", true},
    {100, Act::Checkin, "bob", "F3", true}, {100, Act::Return, "bob", "S2", false},
    {200, Act::Borrow, "pat", "S2", false}, {200, Act::Borrow, "pat", "F1", false},
    {210, Act::Renew, "pat", "S2", false},  {220, Act::Return, "pat", "S2", false},
    {220, Act::Return, "pat", "F1", false}, {300, Act::Borrow, "ann", "S1", false},
    {310, Act::Return, "ann", "S1", false}, {330, Act::Borrow, "ann", "F2", false},
};

QString levelOf(const QString& reader)
{
    for (const auto& r : readers) {
        if (reader == QLatin1String(r.id))
            return Levels::englishName(r.level);
    }
    return {};
}

} // namespace

void TestStatistics::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"), catalogue));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    m_server.setSetting(QStringLiteral("loanPeriods/Undergraduate"), 30);
    m_server.setSetting(QStringLiteral("loanPeriods/Postgraduate"), 30);
    m_server.setSetting(QStringLiteral("circulation/renewWithinDays"), 30);
    m_server.setSetting(QStringLiteral("circulation/blockWhenOverdue"), false);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_addedOn = m_server.clockNow().date().toString(Qt::ISODate);
    m_fx = std::make_unique<ServerFixture>(m_server);
    const WireClient admin = m_fx->client(1);
    QCOMPARE(m_fx->login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    for (const auto& reader : readers)
        QVERIFY(m_fx->createUser(admin, QLatin1String(reader.id), QStringLiteral("pw-") + reader.id, reader.level));
}

void TestStatistics::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

WireClient::Reply TestStatistics::send(int address, const QStringList& request) const
{
    return m_fx->client(address).sendBytes(Wire::encodeFrame(request));
}

QString TestStatistics::text(const WireClient::Reply& reply)
{
    QStringList lines;
    for (const QStringList& frame : reply.frames)
        lines.append(frame.join(QLatin1Char('|')));
    return lines.join(QLatin1Char('\n'));
}

void TestStatistics::logEveryoneIn() const
{
    QCOMPARE(m_fx->login(m_fx->client(1), QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    for (const auto& reader : readers) {
        const QString id = QLatin1String(reader.id);
        QCOMPARE(m_fx->login(m_fx->client(reader.address), id, QStringLiteral("pw-") + id), QStringLiteral("PASS"));
    }
}

void TestStatistics::aYearOfLoans()
{
    // From the next local noon, so that no step of whole days crosses midnight.
    const QDateTime now = m_server.clockNow();
    QDateTime noon(now.date(), QTime(12, 0));
    if (noon <= now)
        noon = noon.addDays(1);
    QVERIFY(m_server.advanceClock(now.secsTo(noon)));
    m_firstDay = m_server.clockNow().date().toString(Qt::ISODate);
    int today = 0;
    logEveryoneIn();
    for (const auto& step : year) {
        if (step.day > today) {
            QVERIFY(m_server.advanceClock((step.day - today) * Day));
            today = step.day;
            logEveryoneIn();
        }
        const QString reader = QLatin1String(step.reader), number = QLatin1String(step.number);
        const QString month = localMonth(), level = levelOf(reader), type = typeOf(number);
        Counts& counts = m_months[month];
        QString expected;
        WireClient::Reply reply;
        switch (step.act) {
        case Act::Borrow:
            reply = send(addressOf(reader), borrow(number, reader));
            expected = Reply::BorrowBookSuccessfully;
            ++counts.loans;
            ++m_loansByLevel[level];
            ++m_loansByType[type];
            m_readersByLevel[level].insert(month + reader);
            m_readersByType[type].insert(month + reader);
            if (type == QLatin1String("Science")) {
                ++m_scienceByLevel[level];
                m_scienceReadersByLevel[level].insert(month + reader);
            }
            break;
        case Act::Renew:
            reply = send(addressOf(reader), ask(Query::RenewBook, {number, reader}));
            expected = Reply::RenewBookSuccessfully;
            ++counts.renewals;
            break;
        case Act::Return:
        case Act::Checkin:
            reply = step.act == Act::Return ? send(addressOf(reader), giveBack(number, reader))
                                            : send(1, ask(Query::CheckinBook, {number}));
            expected = Reply::ReturnBookSuccessfully;
            ++counts.returns;
            counts.late += step.late ? 1 : 0;
            break;
        }
        QVERIFY2(reply.word() == expected,
                 qPrintable(QStringLiteral("day %1 %2 %3: %4").arg(step.day).arg(reader, number, text(reply))));
        if (step.act == Act::Checkin) // the desk says how late it was
            QCOMPARE(reply.frames.value(0).value(3) != QLatin1String("0"), step.late);
    }
    m_lastDay = m_server.clockNow().date().toString(Qt::ISODate);
}

void TestStatistics::reports_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QStringList>("request");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* name, int address, const QStringList& fields, const QString& expected) {
        QTest::newRow(name) << address << ask(Query::Statistics, fields) << expected;
    };
    // Every month of the year, as the script counted it, zeros where nothing happened.
    QStringList months, rates;
    const QDate firstDay = QDate::fromString(m_firstDay, Qt::ISODate);
    for (QDate m(firstDay.year(), firstDay.month(), 1); m.toString(QStringLiteral("yyyy-MM")) <= m_lastDay.left(7);
         m = m.addMonths(1)) {
        const QString key = m.toString(QStringLiteral("yyyy-MM"));
        const Counts c = m_months.value(key);
        months.append(
            QStringLiteral("%1|%2|%3|%4|%5").arg(key).arg(c.loans).arg(c.returns).arg(c.renewals).arg(c.late));
        rates.append(QStringLiteral("%1|%2|%3|%4")
                         .arg(key)
                         .arg(c.returns)
                         .arg(c.late)
                         .arg(c.returns ? double(c.late) / double(c.returns) : 0.0, 0, 'f', 3));
    }
    const auto group = [](const QMap<QString, qint64>& loans, const QMap<QString, QSet<QString>>& readersOf) {
        QList<std::pair<qint64, QString>> sorted;
        for (auto it = loans.cbegin(); it != loans.cend(); ++it)
            sorted.append({-it.value(), it.key()});
        std::sort(sorted.begin(), sorted.end());
        QStringList lines;
        for (const auto& [negative, name] : sorted)
            lines.append(QStringLiteral("%1|%2|%3").arg(name).arg(-negative).arg(readersOf.value(name).size()));
        return lines.join(QLatin1Char('\n'));
    };
    const QString first = m_firstDay, last = m_lastDay;
    row("loans by month", 1, {"loans_by_month", first, last, "", ""}, months.join(QLatin1Char('\n')));
    row("the overdue rate", 1, {"overdue_rate", first, last, "", ""}, rates.join(QLatin1Char('\n')));
    row("by level", 1, {"by_level", "", "", "", ""}, group(m_loansByLevel, m_readersByLevel));
    row("by type", 1, {"by_type", first, last, "", ""}, group(m_loansByType, m_readersByType));
    row("by level, of one type", 1, {"by_level", "", "", "", "Science"},
        group(m_scienceByLevel, m_scienceReadersByLevel));
    row("top titles, copies of a title together", 1, {"top_titles", "", "", "", ""},
        "Red Sea|Lin||5|2\nAtoms|Bohr||2|1\nBlue Hill|Wu||2|1\nStars|Hale||2|1");
    row("top titles of a level", 1, {"top_titles", "", "", "Postgraduate", ""}, "Red Sea|Lin||2|2\nStars|Hale||1|1");
    row("top titles of a type", 1, {"top_titles", "", "", "", "Science"}, "Atoms|Bohr||2|1\nStars|Hale||2|1");
    const QString added = QLatin1Char('|') + m_addedOn;
    row("never borrowed, oldest first", 1, {"never_borrowed", "", "", "", ""},
        QStringList{"K1|Kite|Kids", "K2|Kettle|Kids", "K3|Kernel|Kids", "K4|Keel|Kids", "N1|Dust|Fiction",
                    "N2|Void|Science"}
                .join(added + QLatin1Char('\n'))
            + added);
    row("never borrowed of a type", 1, {"never_borrowed", "", "", "", "Science"}, "N2|Void|Science" + added);
    const QString later = QDate::fromString(first, Qt::ISODate).addDays(200).toString(Qt::ISODate);
    const QString laterEnd = QDate::fromString(first, Qt::ISODate).addDays(230).toString(Qt::ISODate);
    row("not borrowed within a period, given the wrong way round", 1,
        {"never_borrowed", laterEnd, later, "", "Fiction"},
        "F2|Red Sea|Fiction" + added + "\nF3|Blue Hill|Fiction" + added + "\nN1|Dust|Fiction" + added);
    row("an empty period", 1, {"by_type", "1990-01-01", "1990-12-31", "", ""}, "");
    row("reports are for staff", 2, {"by_type", "", "", "", ""}, "ADMIN_REQUIRED");
    row("an unknown report", 1, {"best_readers", "", "", "", ""}, "UNKNOWN_REPORT");
    row("a date that is none", 1, {"by_type", "2024-02-30", "", "", ""}, "BAD_PERIOD");
    row("a period of centuries", 1, {"loans_by_month", "1000-01-01", "2999-01-01", "", ""}, "BAD_PERIOD");
    row("an unknown level", 1, {"by_type", "", "", "Professor", ""}, "UNKNOWN_PERMISSION");
}

void TestStatistics::reports()
{
    QFETCH(int, address);
    QFETCH(QStringList, request);
    QFETCH(QString, expected);
    const WireClient::Reply reply = send(address, request);
    QVERIFY2(reply.endOfStream, qPrintable(reply.error));
    QCOMPARE(text(reply), expected);
}

void TestStatistics::reportsAfterThePrune()
{
    // Once: the server starts again keeping 30 days of loan history, and prunes the rest at its start.
    static bool pruned = false;
    if (!pruned) {
        pruned = true;
        QVERIFY(m_server.stop());
        m_server.setSetting(QStringLiteral("privacy/loanHistoryDays"), 30);
        QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
        QVERIFY(m_server.waitForOutput(QStringLiteral("privacy: removed")));
        logEveryoneIn();
        QVERIFY(text(send(1, ask(Query::AuditLog, {"bob", ""}))).indexOf(QLatin1String("BORROW_BOOK")) < 0);
    }
    reports();
}

void TestStatistics::stocktake_data()
{
    // One stocktake of the shelf numbered K, told in order: each row a request from an address and
    // the pattern its reply must match.
    QTest::addColumn<int>("address");
    QTest::addColumn<QStringList>("request");
    QTest::addColumn<QString>("reply");
    const auto row = [](const char* name, int address, const QStringList& request, const QString& reply) {
        QTest::newRow(name) << address << request << reply;
    };
    const auto scan = [](const char* number) { return ask(Query::InventoryScan, {"1", number}); };
    const QString date = QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
    row("ann has K2", 2, borrow("K2", "ann"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("bob has K4", 3, borrow("K4", "bob"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("stocktakes are for staff", 2, ask(Query::InventoryStart, {"K shelf", "", "K"}), "^ADMIN_REQUIRED$");
    row("the K shelf", 1, ask(Query::InventoryStart, {"K shelf", "", "K"}), "^INVENTORY_STARTED\\|1$");
    row("a copy where it belongs", 1, scan("K1"), "^INVENTORY_SCANNED\\|Kite\\|OK$");
    row("scanned twice", 1, scan("K1"), "^INVENTORY_SCANNED\\|Kite\\|DUPLICATE$");
    row("back without a check-in", 1, scan("K2"), "^INVENTORY_SCANNED\\|Kettle\\|ON_LOAN$");
    row("a copy of another shelf", 1, scan("F3"), "^INVENTORY_SCANNED\\|Blue Hill\\|ELSEWHERE$");
    row("a number no copy has", 1, scan("ZZ9"), "^INVENTORY_SCANNED\\|\\|UNKNOWN$");
    row("no such stocktake", 1, ask(Query::InventoryScan, {"99", "K1"}), "^NO_SUCH_INVENTORY$");
    row("the report: what needs staff", 1, ask(Query::InventoryReport, {"1"}),
        "^F3\\|Blue Hill\\|空闲\\|" + date + "\\|elsewhere\\nK2\\|Kettle\\|已借出\\|" + date
            + "\\|on_loan_scanned\\nZZ9\\|\\|\\|\\|unknown\\nK3\\|Kernel\\|空闲\\|\\|missing$");
    row("the stocktakes, with their scans", 1, ask(Query::InventoryList), "^1\\|K shelf\\|\\|K\\|" + date + "\\|4$");
    row("a copy on loan is not lost", 1, ask(Query::MarkLost, {"K3,K2"}), "^BOOK_ON_LOAN\\|K2$");
    row("nor did that mark K3", 7, ask(Query::BookSearching, {"", "", "K3", "", "", "", ""}), "\\|K3\\|空闲\\|");
    row("the missing copy marked lost", 1, ask(Query::MarkLost, {" K3 , K3"}), "^MARK_LOST_SUCCESSFULLY\\|1$");
    row("the search shows it lost", 7, ask(Query::BookSearching, {"", "", "K3", "", "", "", ""}), "\\|K3\\|丢失\\|");
    row("a lost copy cannot be borrowed", 2, borrow("K3", "ann"), "^BOOK_LOST$");
    row("nor reserved", 3, ask(Query::PlaceHold, {"K3", "bob"}), "^BOOK_LOST$");
    row("the report shows it lost", 1, ask(Query::InventoryReport, {"1"}), "\\nK3\\|Kernel\\|丢失\\|\\|missing$");
    row("only a lost copy is found", 1, ask(Query::MarkFound, {"K1"}), "^BOOK_NOT_LOST\\|K1$");
    row("scanned after all: it is back", 1, scan("K3"), "^INVENTORY_SCANNED\\|Kernel\\|OK$");
    row("on the shelf again", 7, ask(Query::BookSearching, {"", "", "K3", "", "", "", ""}), "\\|K3\\|空闲\\|");
    row("lost once more", 1, ask(Query::MarkLost, {"K3"}), "^MARK_LOST_SUCCESSFULLY\\|1$");
    row("and found at the desk", 1, ask(Query::MarkFound, {"K3"}), "^MARK_FOUND_SUCCESSFULLY\\|1$");
    row("borrowed again", 2, borrow("K3", "ann"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("marking is audited", 1, ask(Query::AuditLog, {"", "K3"}),
        "\\|MARK_FOUND\\|\\|K3\\|Kernel\\n.*\\|MARK_LOST\\|");
    row("an unknown number is refused", 1, ask(Query::MarkLost, {"K1,NOPE"}), "^NO_SUCH_BOOK\\|NOPE$");
}

void TestStatistics::stocktake()
{
    QFETCH(int, address);
    QFETCH(QStringList, request);
    QFETCH(QString, reply);
    const WireClient::Reply answer = send(address, request);
    QVERIFY2(answer.endOfStream, qPrintable(answer.error));
    const QString got = text(answer);
    QVERIFY2(QRegularExpression(reply).match(got).hasMatch(), qPrintable(QStringLiteral("got: ") + got));
}

QTEST_GUILESS_MAIN(TestStatistics)
#include "tst_statistics.moc"
