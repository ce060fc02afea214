#include "serverfixture.h"
#include "zebraserver.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

// Bringing a collection in and out, over the wire and through the server's commands: copies of one
// title added at once, ISBN search, holds on a title, MARC and CSV import and export (run beside the
// running server, on its database), readers with initial passwords.
class TestCollection : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void addCopies_data();
    void addCopies();
    void isbnFindsEveryCopy();
    void titleHold_data();
    void titleHold();
    void editBook_data();
    void editBook();
    void importCatalogue_data();
    void importCatalogue();
    void exportThenImportGivesTheSameCatalogue_data();
    void exportThenImportGivesTheSameCatalogue();
    void importReaders();

private:
    WireClient::Reply send(int address, const QStringList& request) const;
    // One step of a story: the request from the address, and the pattern its reply must match.
    void checkStep();
    // Runs `server ARGUMENTS` in the working directory of `server`; its exit code and output.
    std::pair<int, QString> command(const ServerProcess& server, const QStringList& arguments) const;
    // Every copy of the catalogue, one line per copy (its eight fields and state), in number order.
    QStringList catalogue(const ServerFixture& fx) const;
    bool writeFixture(const QString& name, const QByteArray& marcXml, const QStringList& options = {});

    ServerProcess m_server{QStringLiteral(SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
};

namespace {

QStringList ask(QLatin1String code, const QStringList& fields = {})
{
    return QStringList{QString(code)} + fields;
}
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
QStringList titleSearch(const QString& title)
{
    return QStringList{QString(Query::BookSearching)} + BookQuery{title, {}, {}, {}, {}, {}, {}}.fields();
}
QStringList edit(const QString& number, const QString& title, const QString& permission, const QString& isbn)
{
    return QStringList{QString(Query::EditBook)}
    + EditBookQuery{number, title, "刘慈欣", "科幻", "重庆出版社", "2008", permission, isbn}.fields();
}
QStringList copiesRequest(const QString& title, const QString& isbn, const QString& first, const QString& count)
{
    return QStringList{QString(Query::AddCopies)}
    + AddCopiesQuery{title,
                     QStringLiteral("Anon"),
                     QStringLiteral("Test"),
                     QStringLiteral("Self"),
                     QStringLiteral("2001"),
                     QStringLiteral("Undergraduate"),
                     isbn,
                     first,
                     count}
          .fields();
}

QString joined(const WireClient::Reply& reply)
{
    QStringList lines;
    for (const QStringList& frame : reply.frames)
        lines.append(frame.join(QLatin1Char('|')));
    return lines.join(QLatin1Char('\n'));
}

QByteArray collection(const QByteArray& records)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<collection xmlns=\"http://www.loc.gov/MARC21/slim\">\n"
        + records + "</collection>\n";
}

QByteArray datafield(const char* tag, const QList<std::pair<const char*, QByteArray>>& subfields)
{
    QByteArray field = QByteArray("<datafield tag=\"") + tag + "\" ind1=\" \" ind2=\" \">";
    for (const auto& [code, value] : subfields)
        field += QByteArray("<subfield code=\"") + code + "\">" + value + "</subfield>";
    return field + "</datafield>\n";
}

// A MARC 21 record with ISBD punctuation as catalogues write it, and holdings when given.
QByteArray marc21(const QByteArray& title, const QByteArray& isbn, const QList<QByteArray>& barcodes = {})
{
    QByteArray record = "<record><leader>00000nam a2200000 a 4500</leader>\n"
                        "<controlfield tag=\"008\">200101s1999    xx            000 0 eng d</controlfield>\n";
    if (!isbn.isEmpty())
        record += datafield("020", {{"a", isbn + " (pbk.)"}});
    record += datafield("100", {{"a", "Knuth, Donald E.,"}});
    record += datafield("245", {{"a", title + " :"}, {"b", "fundamental algorithms /"}, {"c", "Knuth."}});
    record += datafield("264", {{"a", "Reading :"}, {"b", "Addison-Wesley,"}, {"c", "c1997."}});
    record += datafield("082", {{"a", "005.1"}});
    for (const QByteArray& barcode : barcodes)
        record += datafield("952", {{"p", barcode}, {"y", "Postgraduate"}});
    return record + "</record>\n";
}

// A UNIMARC (CNMARC) record with its holdings in 995.
QByteArray unimarc(const QByteArray& title, const QByteArray& isbn, const QList<QByteArray>& barcodes = {})
{
    QByteArray record = "<record><leader>00000nam0 2200000   450 </leader>\n";
    record += datafield("010", {{"a", isbn}});
    record += datafield("200", {{"a", title}, {"f", "刘慈欣著"}});
    record += datafield("210", {{"a", "重庆"}, {"c", "重庆出版社"}, {"d", "2008"}});
    record += datafield("690", {{"a", "I247.5"}});
    record += datafield("700", {{"a", "刘慈欣"}});
    for (const QByteArray& barcode : barcodes)
        record += datafield("995", {{"f", barcode}});
    return record + "</record>\n";
}

// Each reader speaks from an address of its own: ann .2, bob .3, cid .4.
const char* const readers[] = {"ann", "bob", "cid"};

} // namespace

void TestCollection::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    if (const QString reason = ZebraServer::unavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    const WireClient admin = m_fx->client(1);
    QCOMPARE(m_fx->login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    int address = 2;
    for (const char* reader : readers) {
        const QString id = QLatin1String(reader);
        QVERIFY(m_fx->createUser(admin, id, QStringLiteral("pw-") + id, Levels::Undergraduate));
        QCOMPARE(m_fx->login(m_fx->client(address++), id, QStringLiteral("pw-") + id), QStringLiteral("PASS"));
    }
}

void TestCollection::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

WireClient::Reply TestCollection::send(int address, const QStringList& request) const
{
    return m_fx->client(address).sendBytes(Wire::encodeFrame(request));
}

std::pair<int, QString> TestCollection::command(const ServerProcess& server, const QStringList& arguments) const
{
    QProcess process;
    process.setWorkingDirectory(server.workDir());
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SERVER_BINARY), arguments);
    if (!process.waitForFinished(120000))
        return {-1, QStringLiteral("did not finish")};
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

QStringList TestCollection::catalogue(const ServerFixture& fx) const
{
    // Every copy: a search by year range covers them all (0 to 9999).
    const WireClient::Reply reply = fx.client(250).sendBytes(
        Wire::encodeFrame(QStringList{QString(Query::BookSearching)}
                          + BookQuery{{}, {}, {}, QStringLiteral("0"), QStringLiteral("9999"), {}, {}}.fields()));
    QStringList rows;
    for (const QStringList& frame : reply.frames)
        rows.append(frame.join(QLatin1Char('|')));
    std::sort(rows.begin(), rows.end(), [](const QString& a, const QString& b) {
        return a.section(QLatin1Char('|'), 5, 5) < b.section(QLatin1Char('|'), 5, 5);
    });
    return rows;
}

bool TestCollection::writeFixture(const QString& name, const QByteArray& marcXml, const QStringList& options)
{
    if (name.endsWith(QLatin1String(".xml")))
        return m_server.writeFile(name, marcXml);
    QString error;
    const QByteArray iso = ZebraServer::iso2709(marcXml, options, &error);
    if (iso.isEmpty())
        qWarning("%s", qPrintable(error));
    return !iso.isEmpty() && m_server.writeFile(name, iso);
}

void TestCollection::addCopies_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QStringList>("request");
    QTest::addColumn<QString>("reply");
    QTest::newRow("five copies count up keeping the width")
        << 1 << copiesRequest("Copies", "978-7-111-21382-6", "TB-0098", "5") << "ADD_BOOK_SUCCESSFULLY|TB-0098|TB-0102";
    QTest::newRow("a number without digits gets -1, -2")
        << 1 << copiesRequest("Plain", "", "PLAIN", "3") << "ADD_BOOK_SUCCESSFULLY|PLAIN|PLAIN-2";
    QTest::newRow("an ISBN-10 is taken as its ISBN-13")
        << 1 << copiesRequest("Ten", "0-306-40615-2", "TEN-1", "2") << "ADD_BOOK_SUCCESSFULLY|TEN-1|TEN-2";
    QTest::newRow("a wrong check digit") << 1 << copiesRequest("Bad", "978-7-111-21382-7", "BAD-1", "1") << "BAD_ISBN";
    QTest::newRow("not an ISBN at all") << 1 << copiesRequest("Bad", "12345", "BAD-1", "1") << "BAD_ISBN";
    QTest::newRow("no copies") << 1 << copiesRequest("Bad", "", "BAD-1", "0") << "BAD_COUNT";
    QTest::newRow("more than 500") << 1 << copiesRequest("Bad", "", "BAD-1", "501") << "BAD_COUNT";
    QTest::newRow("a count that is no number") << 1 << copiesRequest("Bad", "", "BAD-1", "two") << "BAD_COUNT";
    QTest::newRow("a taken number in the run: which, and nothing added")
        << 1 << copiesRequest("Again", "", "TB-0096", "5") << "BOOK_NUMBER_EXISTS|TB-0098";
    QTest::newRow("none of the refused run was stored") << 250 << search("TB-0096") << "";
    QTest::newRow("readers cannot add") << 2 << copiesRequest("Mine", "", "MINE-1", "1") << "ADMIN_REQUIRED";
    QTest::newRow("a copy knows how many its title has")
        << 250 << ask(Query::TitleCopies, {"TB-0100"}) << "TITLE_COPIES|9787111213826|5|5";
    QTest::newRow("a copy without an ISBN is its own title")
        << 250 << ask(Query::TitleCopies, {"PLAIN-1"}) << "TITLE_COPIES||1|1";
}

void TestCollection::addCopies()
{
    QFETCH(int, address);
    QFETCH(QStringList, request);
    QFETCH(QString, reply);
    const WireClient::Reply answer = send(address, request);
    QVERIFY2(answer.endOfStream, qPrintable(answer.error));
    QCOMPARE(joined(answer), reply);
}

void TestCollection::isbnFindsEveryCopy()
{
    // The ISBN-10 of the "Ten" copies, as typed with hyphens; and a copy numbered with an ISBN's text.
    QCOMPARE(send(1, copiesRequest("Numbered so", "", "0306406152", "1")).word(), Reply::AddBookSuccessfully);
    const WireClient::Reply reply = send(250, search("0-306-40615-2"));
    QStringList numbers;
    for (const QStringList& row : reply.frames)
        numbers.append(row.value(5));
    numbers.sort();
    QCOMPARE(numbers, QStringList({"0306406152", "TEN-1", "TEN-2"}));
    QCOMPARE(send(250, search("978 0 306 40615 7")).frames.size(), 2);
}

void TestCollection::titleHold_data()
{
    // One story in order: two copies of one ISBN lent, a hold on the first, the second back first.
    QTest::addColumn<int>("address");
    QTest::addColumn<QStringList>("request");
    QTest::addColumn<QString>("reply");
    const auto row = [](const char* name, int address, const QStringList& request, const char* reply) {
        QTest::newRow(name) << address << request << QString::fromUtf8(reply);
    };
    row("two copies of one title", 1, copiesRequest("Held", "9787020002207", "H-1", "2"),
        "^ADD_BOOK_SUCCESSFULLY\\|H-1\\|H-2$");
    row("ann borrows the first", 2, borrow("H-1", "ann"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("no hold while a copy is on the shelf: which one", 4, ask(Query::PlaceHold, {"H-1", "cid"}),
        "^BOOK_NOT_ON_LOAN\\|H-2$");
    row("bob borrows the second", 3, borrow("H-2", "bob"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("cid holds the title through the first copy", 4, ask(Query::PlaceHold, {"H-1", "cid"}),
        "^PLACE_HOLD_SUCCESSFULLY$");
    row("one hold per reader per title", 4, ask(Query::PlaceHold, {"H-2", "cid"}), "^HOLD_EXISTS$");
    row("cid waits, on the copy the hold was placed on", 4, ask(Query::UserHolds, {"cid"}),
        "^H-1\\|Held\\|1\\|排队中\\|$");
    row("the second copy comes back first", 3, giveBack("H-2", "bob"), "^RETURN_BOOK_SUCCESSFULLY$");
    row("it is kept for cid", 4, ask(Query::UserHolds, {"cid"}), "^H-2\\|Held\\|1\\|预约保留\\|.+$");
    row("the search shows it kept", 250, search("H-2"), "^Held\\|.*\\|H-2\\|预约保留\\|Undergraduate$");
    row("bob cannot take it back", 3, borrow("H-2", "bob"), "^BOOK_ON_HOLD$");
    row("the first copy back goes to the shelf", 2, giveBack("H-1", "ann"), "^RETURN_BOOK_SUCCESSFULLY$");
    row("and is free for others", 3, borrow("H-1", "bob"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("cid collects the kept copy", 4, borrow("H-2", "cid"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("the hold is done", 4, ask(Query::UserHolds, {"cid"}), "^$");
    row("ann holds the title, both copies out", 2, ask(Query::PlaceHold, {"H-2", "ann"}), "^PLACE_HOLD_SUCCESSFULLY$");
    row("a third copy comes in", 1, copiesRequest("Held", "9787020002207", "H-3", "1"),
        "^ADD_BOOK_SUCCESSFULLY\\|H-3\\|H-3$");
    row("ann borrows it", 2, borrow("H-3", "ann"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("and waits for the title no more", 2, ask(Query::UserHolds, {"ann"}), "^$");
    row("so the next copy back is free", 3, giveBack("H-1", "bob"), "^RETURN_BOOK_SUCCESSFULLY$");
    row("for anybody", 250, search("H-1"), "^Held\\|.*\\|H-1\\|空闲\\|Undergraduate$");
    // A reader's place counts the readers waiting on every copy, not those a copy is kept for.
    row("a title of two copies", 1, copiesRequest("Queue", "9780000000002", "Q-1", "2"),
        "^ADD_BOOK_SUCCESSFULLY\\|Q-1\\|Q-2$");
    row("ann borrows one", 2, borrow("Q-1", "ann"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("bob the other", 3, borrow("Q-2", "bob"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("the admin holds the title first", 1, ask(Query::PlaceHold, {"Q-2", "admin"}), "^PLACE_HOLD_SUCCESSFULLY$");
    row("then cid", 4, ask(Query::PlaceHold, {"Q-1", "cid"}), "^PLACE_HOLD_SUCCESSFULLY$");
    row("cid is second", 4, ask(Query::UserHolds, {"cid"}), "^Q-1\\|Queue\\|2\\|排队中\\|$");
    row("bob's copy comes back", 3, giveBack("Q-2", "bob"), "^RETURN_BOOK_SUCCESSFULLY$");
    row("kept for the admin", 1, ask(Query::UserHolds, {"admin"}), "^Q-2\\|Queue\\|1\\|预约保留\\|.+$");
    row("cid is next", 4, ask(Query::UserHolds, {"cid"}), "^Q-1\\|Queue\\|1\\|排队中\\|$");
    // Both copies back on the shelf for the export below.
    row("cid gives up", 4, ask(Query::CancelHold, {"Q-1", "cid"}), "^CANCEL_HOLD_SUCCESSFULLY$");
    row("so does the admin", 1, ask(Query::CancelHold, {"Q-2", "admin"}), "^CANCEL_HOLD_SUCCESSFULLY$");
    row("ann's copy comes back", 2, giveBack("Q-1", "ann"), "^RETURN_BOOK_SUCCESSFULLY$");
}

void TestCollection::titleHold()
{
    checkStep();
}

void TestCollection::editBook_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QStringList>("request");
    QTest::addColumn<QString>("reply");
    const auto row = [](const char* name, int address, const QStringList& request, const char* reply) {
        QTest::newRow(name) << address << request << QString::fromUtf8(reply);
    };
    row("a copy catalogued wrongly", 1, copiesRequest("Misspelt Titel", "", "E-1", "1"),
        "^ADD_BOOK_SUCCESSFULLY\\|E-1\\|E-1$");
    row("readers cannot correct it", 2, edit("E-1", "三体", "Postgraduate", ""), "^ADMIN_REQUIRED$");
    row("a number no copy has", 1, edit("NOPE-9", "三体", "Postgraduate", ""), "^NO_SUCH_BOOK$");
    row("a level that does not exist", 1, edit("E-1", "三体", "Dean", ""), "^UNKNOWN_PERMISSION$");
    row("a wrong check digit", 1, edit("E-1", "三体", "Postgraduate", "9787536692931"), "^BAD_ISBN$");
    row("no title", 1, edit("E-1", "  ", "Postgraduate", ""), "^MISSING_TITLE_OR_NUMBER$");
    row("nothing refused was stored", 250, search("E-1"), "^Misspelt Titel\\|Anon\\|Test\\|.*\\|Undergraduate$");
    row("corrected", 1, edit("E-1", "三体", "Postgraduate", "978-7-5366-9293-0"), "^EDIT_BOOK_SUCCESSFULLY$");
    row("found by the pinyin of the new title", 250, titleSearch("santi"),
        "^三体\\|刘慈欣\\|科幻\\|重庆出版社\\|2008\\|E-1\\|空闲\\|Postgraduate$");
    row("and by its initials", 250, titleSearch("st"), "E-1");
    row("not by the old one", 250, titleSearch("Titel"), "^$");
    row("found by the ISBN", 250, search("9787536692930"), "^三体\\|.*\\|E-1\\|");
    row("the title now counts it", 250, ask(Query::TitleCopies, {"E-1"}), "^TITLE_COPIES\\|9787536692930\\|1\\|1$");
    row("the trail has old and new", 1, ask(Query::AuditLog, {"", "E-1"}),
        "EDIT_BOOK\\|.*title: Misspelt Titel -> 三体; author: Anon -> 刘慈欣.*permission: Undergraduate -> "
        "Postgraduate; ISBN:  -> 9787536692930");
    row("the ISBN cleared, the level lowered", 1, edit("E-1", "三体", "Undergraduate", ""), "^EDIT_BOOK_SUCCESSFULLY$");
    row("no longer found by it", 250, search("9787536692930"), "^$");
    row("lent", 3, borrow("E-1", "bob"), "^BORROW_BOOK_SUCCESSFULLY$");
    row("a lent copy is corrected too", 1, edit("E-1", "三体（第一部）", "Undergraduate", ""),
        "^EDIT_BOOK_SUCCESSFULLY$");
    row("and stays lent", 250, search("E-1"), "^三体（第一部）\\|.*\\|E-1\\|已借出\\|Undergraduate$");
    row("back on the shelf", 3, giveBack("E-1", "bob"), "^RETURN_BOOK_SUCCESSFULLY$");
    const char* const counted = "(^|\\n)三体（第一部）\\|刘慈欣\\|\\|1\\|1(\\n|$)";
    row("the most borrowed titles count the loan under the corrected title", 1,
        ask(Query::Statistics, {"top_titles", "", "", "", ""}), counted);
    row("and so do those of a level", 1, ask(Query::Statistics, {"top_titles", "", "", "Undergraduate", ""}), counted);
}

void TestCollection::editBook()
{
    checkStep();
}

void TestCollection::checkStep()
{
    QFETCH(int, address);
    QFETCH(QStringList, request);
    QFETCH(QString, reply);
    const WireClient::Reply answer = send(address, request);
    QVERIFY2(answer.endOfStream, qPrintable(answer.error));
    QVERIFY2(QRegularExpression(reply).match(joined(answer)).hasMatch(),
             qPrintable(QStringLiteral("got: ") + joined(answer)));
}

void TestCollection::importCatalogue_data()
{
    // Files written by each row and imported beside the running server; the report's lines, and a
    // search that shows what the catalogue holds afterwards.
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("marcXml"); // empty: the file is CSV (in `csv`)
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("dump"); // yaz-marcdump's options for the ISO 2709 file
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("report");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("found");

    const QByteArray twoRecords = collection(marc21("The art of computer programming", "0201896834", {"KN-1", "KN-2"})
                                             + unimarc("三体", "9787536692930"));
    QTest::newRow("dry run: the report, nothing stored")
        << "dry.mrc" << twoRecords << QByteArray() << QStringList() << QStringList{"--dry-run", "--numbers", "IMP-"}
        << QStringList{"format: ISO 2709", "records read: 2", "copies added: 3", "refused: 0"} << "KN-1"
        << "";
    QTest::newRow("MARC 21 and UNIMARC in ISO 2709: holdings, and a number from --numbers")
        << "two.mrc" << twoRecords << QByteArray() << QStringList() << QStringList{"--numbers", "IMP-"}
        << QStringList{"records read: 2", "copies added: 3", "refused: 0"} << "KN-2"
        << "The art of computer programming : fundamental algorithms|Knuth, Donald E|005.1|Addison-Wesley|1997|KN-2|"
           "空闲|Postgraduate";
    QTest::newRow("UNIMARC: 200 $a, 700 $a, 210 $c $d, 690 $a")
        << "two.mrc" << QByteArray() << QByteArray() << QStringList() << QStringList() << QStringList() << "IMP-1"
        << "三体|刘慈欣|I247.5|重庆出版社|2008|IMP-1|空闲|Undergraduate";
    QTest::newRow("again: the numbers exist")
        << "two.mrc" << twoRecords << QByteArray() << QStringList() << QStringList{"--numbers", "IMP-"}
        << QStringList{"copies added: 1", "skipped, the book number exists: 2"} << ""
        << "";
    QByteArray marc8 = collection(marc21("Café society", "", {"M8-1"}));
    QTest::newRow("a MARC-8 record comes in as UTF-8")
        << "marc8.mrc" << marc8 << QByteArray() << QStringList{"-f", "utf-8", "-t", "marc8", "-l", "9=32"}
        << QStringList() << QStringList{"copies added: 1"} << "M8-1"
        << "Café society : fundamental algorithms|";
    const QByteArray broken = "<?xml version=\"1.0\"?>\n<collection xmlns=\"http://www.loc.gov/MARC21/slim\">\n"
        + marc21("Before", "", {"BR-1"}) + "<record><leader>x</leader><datafield tag=\"245\"><subfield code=\"a\">Cut"
        + "</record>\n" + marc21("After", "", {"BR-3"}) + unimarc("Bad ISBN", "9787536692931", {"BR-4"})
        + "<record><leader>00000nam a2200000 a 4500</leader>" + datafield("952", {{"p", "BR-5"}}) + "</record>\n"
        + "</collection>\n";
    QTest::newRow("MARCXML: a broken record in the middle costs that record only")
        << "broken.xml" << broken << QByteArray() << QStringList() << QStringList()
        << QStringList{"format: MARCXML",   "records read: 5",         "copies added: 2",
                       "refused: 3",        "record 2: broken record", "record 4: bad ISBN \"9787536692931\"",
                       "record 5: no title"}
        << "BR-3"
        << "After : fundamental algorithms|";
    QString error;
    const QByteArray brokenIso = ZebraServer::iso2709(collection(marc21("First", "", {"BI-1"})), {}, &error)
        + QByteArray("00099nam a2200025 a 4500\x1e"
                     "cut short\x1d")
        + ZebraServer::iso2709(collection(marc21("Third", "", {"BI-3"})), {}, &error);
    QTest::newRow("ISO 2709: a record whose length lies costs that record only")
        << "broken.mrc" << QByteArray() << brokenIso << QStringList() << QStringList()
        << QStringList{"records read: 3", "copies added: 2", "refused: 1", "record 2: broken record"} << "BI-3"
        << "Third : fundamental algorithms|";
    QTest::newRow("--update gives an existing copy the file's fields")
        << "update.xml" << collection(marc21("Updated", "9780201896831", {"BR-3"})) << QByteArray() << QStringList()
        << QStringList{"--update"} << QStringList{"copies added: 0", "updated: 1"} << "BR-3"
        << "Updated : fundamental algorithms|";
    QTest::newRow("CSV with isbn and copies")
        << "more.csv" << QByteArray()
        << QByteArray("title,author,type,publisher,year,number,permission,isbn,copies\n"
                      "Dune,Herbert,SF,Chilton,1965,DU-08,VIP,0-441-01359-7,3\n"
                      "Bad,Nobody,SF,None,1999,BD-1,,978-0-00-000000-1,1\n")
        << QStringList() << QStringList()
        << QStringList{"format: CSV", "records read: 2", "copies added: 3", "line 3: bad ISBN"} << "DU-10"
        << "Dune|Herbert|SF|Chilton|1965|DU-10|空闲|VIP";
}

void TestCollection::importCatalogue()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, marcXml);
    QFETCH(QByteArray, csv);
    QFETCH(QStringList, dump);
    QFETCH(QStringList, options);
    QFETCH(QStringList, report);
    QFETCH(QString, number);
    QFETCH(QString, found);
    if (!csv.isEmpty())
        QVERIFY(m_server.writeFile(file, csv));
    else if (!marcXml.isEmpty())
        QVERIFY(writeFixture(file, marcXml, dump));
    if (!report.isEmpty()) {
        const auto [exitCode, output] = command(m_server, QStringList{"--import", file} + options);
        QCOMPARE(exitCode, 0);
        for (const QString& line : report)
            QVERIFY2(output.contains(line), qPrintable(output));
    }
    if (number.isEmpty())
        return;
    const QString rows = joined(send(250, search(number)));
    if (found.isEmpty())
        QVERIFY2(rows.isEmpty(), qPrintable(rows));
    else
        QVERIFY2(rows.startsWith(found), qPrintable(rows));
}

void TestCollection::exportThenImportGivesTheSameCatalogue_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("ISO 2709") << "all.mrc";
    QTest::newRow("MARCXML") << "all.xml";
    QTest::newRow("CSV") << "all.csv";
}

void TestCollection::exportThenImportGivesTheSameCatalogue()
{
    QFETCH(QString, file);
    // The copies lent above are back, so that the states compare too.
    for (const char* number : {"H-2", "H-3"})
        send(1, ask(Query::CheckinBook, {QLatin1String(number)}));
    const auto [exitCode, output] = command(m_server, {"--export", file});
    QVERIFY2(exitCode == 0, qPrintable(output));
    ServerProcess empty{QStringLiteral(SERVER_BINARY)};
    QFile exported(m_server.filePath(file));
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QVERIFY(empty.writeFile(file, exported.readAll()));
    QVERIFY2(empty.start(), qPrintable(empty.errorText()));
    const auto [importCode, report] = command(empty, {"--import", file});
    QVERIFY2(importCode == 0 && report.contains(QStringLiteral("refused: 0")), qPrintable(report));
    const ServerFixture other(empty);
    const QStringList before = catalogue(*m_fx), after = catalogue(other);
    QVERIFY(before.size() > 10);
    QCOMPARE(after, before);
    QVERIFY(empty.stop());
}

void TestCollection::importReaders()
{
    QVERIFY(m_server.writeFile(QStringLiteral("readers.csv"),
                               "id,name,studentNumber,phone,email,level,notes\n"
                               "stu1,学生一,S001,123,stu1@example.org,,\n"
                               "stu2,学生二,S002,,,Postgraduate,\"notes, with a comma\"\n"
                               "boss,Boss,S003,,,Administrator,\n"
                               "ann,Ann Again,,,,,\n"
                               "bad,Bad,,,not-an-email,,\n"));
    const auto [dryCode, dry] = command(m_server, {"--import-readers", "readers.csv", "--dry-run"});
    QVERIFY2(dryCode == 0 && dry.contains(QStringLiteral("accounts added: 2")), qPrintable(dry));
    QVERIFY(!QFileInfo::exists(m_server.filePath(QStringLiteral("readers.csv.passwords.csv"))));
    QVERIFY(m_fx->userRow(m_fx->client(1), QStringLiteral("stu1")).isEmpty());

    const auto [code, output] = command(m_server, {"--import-readers", "readers.csv"});
    QCOMPARE(code, 0);
    for (const char* line : {"records read: 5", "accounts added: 2", "skipped, the ID exists: 1", "refused: 2",
                             "line 4: level \"Administrator\"", "line 6: "})
        QVERIFY2(output.contains(QLatin1String(line)), qPrintable(output));
    QFile passwords(m_server.filePath(QStringLiteral("readers.csv.passwords.csv")));
    QCOMPARE(passwords.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    QVERIFY(passwords.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = passwords.readAll().split('\n');
    QCOMPARE(lines.value(0), QByteArray("id,password"));
    QVERIFY(lines.value(1).startsWith("stu1,"));
    const QString password = QString::fromUtf8(lines.value(1).mid(5));

    // Confirmed at the file's level, and the initial password only lets the reader choose a new one.
    QCOMPARE(m_fx->userRow(m_fx->client(1), QStringLiteral("stu2")).value(5), QStringLiteral("Postgraduate"));
    QCOMPARE(m_fx->login(m_fx->client(20), QStringLiteral("stu1"), password), QStringLiteral("PASS"));
    QCOMPARE(send(20, borrow("KN-1", "stu1")).word(), Wire::word(Refusal::PasswordChangeRequired));

    const auto [updateCode, updated] = command(m_server, {"--import-readers", "readers.csv", "--update"});
    QVERIFY2(updateCode == 0 && updated.contains(QStringLiteral("updated: 3")), qPrintable(updated));
    QCOMPARE(m_fx->userRow(m_fx->client(1), QStringLiteral("ann")).value(1), QStringLiteral("Ann Again"));
    QCOMPARE(m_fx->userRow(m_fx->client(1), QStringLiteral("ann")).value(5), QStringLiteral("Undergraduate"));

    const auto [exportCode, exported] = command(m_server, {"--export-readers", "out.csv"});
    QVERIFY2(exportCode == 0, qPrintable(exported));
    QFile out(m_server.filePath(QStringLiteral("out.csv")));
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QByteArray text = out.readAll();
    QVERIFY(text.startsWith("id,name,studentNumber,phone,email,level,notes\n"));
    QVERIFY(text.contains("stu2,学生二,S002,,,Postgraduate,\"notes, with a comma\"\n"));
    QVERIFY(!text.contains("argon2"));
}

QTEST_GUILESS_MAIN(TestCollection)
#include "tst_collection.moc"
