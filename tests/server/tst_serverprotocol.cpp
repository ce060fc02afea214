#include "serverfixture.h"

#include <QRegularExpression>

#include <atomic>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(BookQuery)
Q_DECLARE_METATYPE(AddBookQuery)

// Every request of the protocol against the real server program, over loopback.
class TestServerProtocol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void searchBooks_data();
    void searchBooks();
    void searchRowsCarryStateAndPermission();
    void emptySearchListsCatalogueInOrder();

    void login_data();
    void login();
    void repeatedFailuresLockTheAddressOut();

    void registration_data();
    void registration();
    void newAccountIsUnconfirmedUntilRaised();

    void levelChange_data();
    void levelChange();

    void adminRequestsNeedAnAdministrator_data();
    void adminRequestsNeedAnAdministrator();
    void latestLoginFromAnAddressDecides();
    void loweredAdministratorLosesTheRight();
    void searchUsers();

    void borrowRefusals_data();
    void borrowRefusals();
    void borrowListReturn();
    void borrowedBooksNeedALogin();
    void manyClientsRaceForOneCopy();

    void addBook_data();
    void addBook();
    void deleteBook();
    void deleteUser();
    void informationUpdate();

private:
    QString seedCatalogue() const;
    // The client at the address a reader of the fixture logged in from.
    WireClient as(const QString& id) const
    {
        static const QHash<QString, int> addresses{{QStringLiteral("reader"), 2},
                                                   {QStringLiteral("limited"), 4},
                                                   {QStringLiteral("vip"), 5},
                                                   {QStringLiteral("newcomer"), 6}};
        return m_fx->client(addresses.value(id, 7));
    }

    ServerProcess m_server{QStringLiteral(SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
    WireClient m_admin{0};
};

QString TestServerProtocol::seedCatalogue() const
{
    return QStringLiteral(
        "title,author,type,publisher,year,number,permission\n"
        "The Rust Programming Language,Steve Klabnik,Computing,No Starch Press,2018,B001,Undergraduate\n"
        "RUST in Action,Tim McNamara,Computing,Manning,2021,B002,Postgraduate\n"
        "三体,刘慈欣,科幻,重庆出版社,2008,C001,本科生\n"
        "三体,刘慈欣,科幻,重庆出版社,2008,C000,Undergraduate\n"
        "三体II：黑暗森林,刘慈欣,科幻,重庆出版社,2008年,C002,VIP\n"
        "活着,余华,小说,作家出版社,1993,C003,Undergraduate\n"
        "\"Design Patterns, Elements of Reusable Software\",\"Gamma, Helm\",Computing,Addison-Wesley,1994,B003,"
        "Administrator\n"
        "100% Coverage,Anon,Testing,Self,2020,B004,Undergraduate\n"
        "\"Quote \"\"Inside\"\"\",Anon,Testing,Self,abc,B005,\n"
        "Fixture Free One,Fixture,Fixture,Fixture,2000,F001,Undergraduate\n"
        "Fixture Free Two,Fixture,Fixture,Fixture,2000,F002,Undergraduate\n"
        "Fixture VIP,Fixture,Fixture,Fixture,2000,F003,VIP\n"
        "Fixture Lent,Fixture,Fixture,Fixture,2000,F004,Undergraduate\n"
        "Fixture Limit A,Fixture,Fixture,Fixture,2000,F005,Undergraduate\n"
        "Fixture Limit B,Fixture,Fixture,Fixture,2000,F006,Undergraduate\n"
        "Fixture Limit C,Fixture,Fixture,Fixture,2000,F007,Undergraduate\n"
        "Fixture Race,Fixture,Fixture,Fixture,2000,F008,Undergraduate\n"
        "Fixture Return,Fixture,Fixture,Fixture,2000,F009,Undergraduate\n"
        "Fixture Delete Lent,Fixture,Fixture,Fixture,2000,F010,Undergraduate\n"
        "Fixture Delete Free,Fixture,Fixture,Fixture,2000,F011,Undergraduate\n"
        "Fixture User Loan,Fixture,Fixture,Fixture,2000,F012,Undergraduate\n");
}

void TestServerProtocol::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"), seedCatalogue().toUtf8()));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    m_server.setSetting(QStringLiteral("loanLimits/Undergraduate"), 2);
    m_server.setSetting(QStringLiteral("security/loginFailuresAllowed"), 3);
    m_server.setSetting(QStringLiteral("security/loginLockoutMs"), 600000);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    m_admin = m_fx->client(1);
    QCOMPARE(m_fx->login(m_admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));

    // Readers used by several tests; each logs in from its own address (only the latest login from an
    // address counts).
    QVERIFY(m_fx->createUser(m_admin, QStringLiteral("reader"), QStringLiteral("pw-reader"), Levels::Undergraduate));
    QVERIFY(m_fx->createUser(m_admin, QStringLiteral("limited"), QStringLiteral("pw-limited"), Levels::Undergraduate));
    QVERIFY(m_fx->createUser(m_admin, QStringLiteral("vip"), QStringLiteral("pw-vip"), Levels::Vip));
    QVERIFY(m_fx->createUser(m_admin, QStringLiteral("newcomer"), QStringLiteral("pw-newcomer"), Levels::Guest));
    for (const char* id : {"reader", "limited", "vip", "newcomer"})
        QCOMPARE(m_fx->login(as(QLatin1String(id)), QLatin1String(id), QStringLiteral("pw-") + QLatin1String(id)),
                 QStringLiteral("PASS"));
}

void TestServerProtocol::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

void TestServerProtocol::searchBooks_data()
{
    QTest::addColumn<BookQuery>("query");
    QTest::addColumn<QStringList>("numbers");
    const auto q = [](const QString& title, const QString& author = {}, const QString& number = {},
                      const QString& from = {}, const QString& to = {}, const QString& type = {},
                      const QString& press = {}) { return BookQuery{title, author, number, from, to, type, press}; };
    const auto n = [](const char* list) {
        return QString::fromLatin1(list).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    QTest::newRow("title substring in any case") << q("rust") << n("B002 B001");
    QTest::newRow("surrounding spaces ignored") << q("  rust ") << n("B002 B001");
    QTest::newRow("two Chinese characters, same title by number") << q("三体") << n("C000 C001 C002");
    QTest::newRow("one character") << q("活") << n("C003");
    QTest::newRow("percent sign is literal, short text") << q("0%") << n("B004");
    QTest::newRow("percent sign is literal, long text") << q("100%") << n("B004");
    QTest::newRow("underscore is literal") << q("_") << n("");
    QTest::newRow("quotes in the text") << q("\"Inside\"") << n("B005");
    QTest::newRow("author") << q({}, "gamma") << n("B003");
    QTest::newRow("Chinese author") << q({}, "刘慈欣") << n("C000 C001 C002");
    QTest::newRow("number matches exactly") << q({}, {}, "B001") << n("B001");
    QTest::newRow("number prefix matches nothing") << q({}, {}, "B00") << n("");
    QTest::newRow("year range inclusive, 2008年 counts as 2008")
        << q({}, {}, {}, "2008", "2018") << n("B001 C000 C001 C002");
    QTest::newRow("lower year bound only") << q({}, {}, {}, "2020") << n("B004 B002");
    QTest::newRow("bound that is not a number is ignored") << q({}, {}, {}, "abc", "1993") << n("C003");
    QTest::newRow("both bounds ignored") << q({}, {}, {}, "x", "y", "Testing") << n("B004 B005");
    QTest::newRow("type") << q({}, {}, {}, {}, {}, "computing") << n("B003 B002 B001");
    QTest::newRow("publisher") << q({}, {}, {}, {}, {}, {}, "press") << n("B001");
    QTest::newRow("fields narrow together") << q("rust", {}, {}, {}, {}, {}, "manning") << n("B002");
    QTest::newRow("nothing matches") << q("zzzz") << n("");
}

void TestServerProtocol::searchBooks()
{
    QFETCH(BookQuery, query);
    QFETCH(QStringList, numbers);
    const WireClient::Reply reply = m_fx->client(9).send(query);
    QVERIFY2(reply.endOfStream, qPrintable(reply.error));
    QStringList found;
    for (const QStringList& row : reply.frames) {
        QCOMPARE(row.size(), Reply::BookRowSize);
        found.append(row.value(5));
    }
    QCOMPARE(found, numbers);
}

void TestServerProtocol::searchRowsCarryStateAndPermission()
{
    QCOMPARE(m_fx->bookRow(QStringLiteral("C001")),
             QStringList({QStringLiteral("三体"), QStringLiteral("刘慈欣"), QStringLiteral("科幻"),
                          QStringLiteral("重庆出版社"), QStringLiteral("2008"), QStringLiteral("C001"),
                          BookState::free(), QStringLiteral("Undergraduate")}));
    // A book imported with no permission can be borrowed by the lowest confirmed level.
    QCOMPARE(m_fx->bookRow(QStringLiteral("B005")).value(7), QStringLiteral("Undergraduate"));
    QCOMPARE(m_fx->bookRow(QStringLiteral("B005")).value(0), QStringLiteral("Quote \"Inside\""));
}

void TestServerProtocol::emptySearchListsCatalogueInOrder()
{
    const WireClient::Reply reply = m_fx->client(9).send(BookQuery{});
    QVERIFY(reply.endOfStream);
    QVERIFY(reply.frames.size() >= 21);
    for (qsizetype i = 1; i < reply.frames.size(); ++i) {
        const QStringList& a = reply.frames[i - 1];
        const QStringList& b = reply.frames[i];
        QVERIFY2(a[0] < b[0] || (a[0] == b[0] && a[5] < b[5]), qPrintable(a[5] + QLatin1String(" before ") + b[5]));
    }
}

void TestServerProtocol::login_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("address"); // one each, so that failures do not add up to a lockout
    QTest::newRow("unknown ID") << "nobody"
                                << "pw"
                                << "WRONG_ID" << 21;
    QTest::newRow("empty ID") << ""
                              << ""
                              << "WRONG_ID" << 22;
    QTest::newRow("ID differs in case") << "Reader"
                                        << "pw-reader"
                                        << "WRONG_ID" << 23;
    QTest::newRow("wrong password") << "reader"
                                    << "pw-wrong"
                                    << "WRONG_PASSWORD" << 24;
    QTest::newRow("password of another account") << "reader"
                                                 << "pw-vip"
                                                 << "WRONG_PASSWORD" << 25;
    QTest::newRow("right password") << "reader"
                                    << "pw-reader"
                                    << "PASS" << 26;
}

void TestServerProtocol::login()
{
    QFETCH(QString, id);
    QFETCH(QString, password);
    QFETCH(QString, word);
    QFETCH(int, address);
    const WireClient::Reply reply = m_fx->client(address).send(LoginQuery{id, password});
    QVERIFY(reply.endOfStream);
    QCOMPARE(reply.frames.size(), 1);
    QCOMPARE(reply.word(), word);
    if (word == QLatin1String("PASS")) {
        // The record's password field is empty: neither what is stored nor the typed password travels.
        QCOMPARE(Reply::accountAfterPass(reply.frames.first()).value_or(QStringList()),
                 QStringList({QStringLiteral("reader"), QStringLiteral("reader name"), QStringLiteral("Undergraduate"),
                              QString(), QString(), QStringLiteral("123"), QStringLiteral("reader@example.org"),
                              QStringLiteral("about reader")}));
    }
}

void TestServerProtocol::repeatedFailuresLockTheAddressOut()
{
    const WireClient guesser = m_fx->client(40);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(m_fx->login(guesser, QStringLiteral("reader"), QStringLiteral("guess%1").arg(i)),
                 QStringLiteral("WRONG_PASSWORD"));
    // Locked out now, even with the right password.
    QCOMPARE(m_fx->login(guesser, QStringLiteral("reader"), QStringLiteral("pw-reader")),
             QStringLiteral("TOO_MANY_ATTEMPTS"));
    // Another address is not affected.
    QCOMPARE(m_fx->login(m_fx->client(41), QStringLiteral("reader"), QStringLiteral("pw-reader")),
             QStringLiteral("PASS"));
}

void TestServerProtocol::registration_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("studentNumber");
    QTest::addColumn<QString>("word");
    QTest::newRow("new account") << "fresh1"
                                 << "S-100"
                                 << "REGISTER_SUCCESSFULLY";
    QTest::newRow("second account without student number") << "fresh2"
                                                           << ""
                                                           << "REGISTER_SUCCESSFULLY";
    QTest::newRow("third account without student number") << "fresh3"
                                                          << ""
                                                          << "REGISTER_SUCCESSFULLY";
    QTest::newRow("existing ID") << "reader"
                                 << "S-101"
                                 << "REGISTER_FAIL";
    QTest::newRow("existing student number") << "fresh4"
                                             << "S-100"
                                             << "REGISTER_FAIL";
    QTest::newRow("empty ID") << ""
                              << "S-102"
                              << "REGISTER_FAIL";
    QTest::newRow("blank ID") << "   "
                              << "S-103"
                              << "REGISTER_FAIL";
    // Counted in characters, as the client's form counts them: 32 of them are 64 UTF-16 units here.
    QTest::newRow("32 characters outside the basic plane")
        << QString::fromUcs4(std::u32string(32, U'\U00020000').c_str(), 32) << ""
        << "REGISTER_SUCCESSFULLY";
    QTest::newRow("33 characters outside the basic plane")
        << QString::fromUcs4(std::u32string(33, U'\U00020001').c_str(), 33) << ""
        << "REGISTER_FAIL";
}

void TestServerProtocol::registration()
{
    QFETCH(QString, id);
    QFETCH(QString, studentNumber);
    QFETCH(QString, word);
    QCOMPARE(m_fx->registerUser(id, QStringLiteral("pw-123456"), studentNumber), word);
}

void TestServerProtocol::newAccountIsUnconfirmedUntilRaised()
{
    QCOMPARE(m_fx->registerUser(QStringLiteral("pending"), QStringLiteral("pw-pending"), QStringLiteral("S-200")),
             QStringLiteral("REGISTER_SUCCESSFULLY"));
    const auto unconfirmedIds = [this] {
        QStringList ids;
        for (const QStringList& row : m_admin.send(UnconfirmUserQuery{}).frames) {
            if (row.size() == Reply::UserRowSize && row[5] == QLatin1String("Guest"))
                ids.append(row[0]);
        }
        return ids;
    };
    QVERIFY(unconfirmedIds().contains(QStringLiteral("pending")));
    QCOMPARE(m_fx->userRow(m_admin, QStringLiteral("pending")),
             QStringList({QStringLiteral("pending"), QStringLiteral("pending name"), QStringLiteral("S-200"),
                          QStringLiteral("123"), QStringLiteral("pending@example.org"), QStringLiteral("Guest")}));
    QCOMPARE(m_admin.send(EscalateUserQuery{{QStringLiteral("pending"), QStringLiteral("Guest")}}).word(),
             Reply::EscalateUserSuccessfully);
    QVERIFY(!unconfirmedIds().contains(QStringLiteral("pending")));
    QCOMPARE(m_fx->userRow(m_admin, QStringLiteral("pending")).value(5), QStringLiteral("Undergraduate"));
}

void TestServerProtocol::levelChange_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("raise");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("after");
    const QString raised = Reply::EscalateUserSuccessfully;
    const QString lowered = Reply::DegradeUserSuccessfully;
    QTest::newRow("raise Guest") << 0 << "Guest" << true << raised << "Undergraduate";
    QTest::newRow("raise 本科生") << 1 << "本科生" << true << raised << "Postgraduate";
    QTest::newRow("raise 研究生") << 2 << "研究生" << true << raised << "VIP";
    QTest::newRow("raise VIP") << 3 << "VIP" << true << raised << "Administrator";
    QTest::newRow("raise 管理员 stays") << 4 << "管理员" << true << raised << "Administrator";
    QTest::newRow("lower 管理员") << 4 << "管理员" << false << lowered << "VIP";
    QTest::newRow("lower 本科生") << 1 << "本科生" << false << lowered << "Guest";
    QTest::newRow("lower Guest stays") << 0 << "Guest" << false << lowered << "Guest";
    QTest::newRow("stale row refused") << 1 << "研究生" << true << "STALE_LEVEL"
                                       << "Undergraduate";
    QTest::newRow("English name is not what the client shows") << 1 << "Undergraduate" << false << "STALE_LEVEL"
                                                               << "Undergraduate";
    QTest::newRow("unknown text refused") << 2 << "whatever" << false << "STALE_LEVEL"
                                          << "Postgraduate";
}

void TestServerProtocol::levelChange()
{
    QFETCH(int, stored);
    QFETCH(QString, shown);
    QFETCH(bool, raise);
    QFETCH(QString, word);
    QFETCH(QString, after);
    static int serial = 0;
    const QString id = QStringLiteral("level%1").arg(++serial);
    QVERIFY(m_fx->createUser(m_admin, id, QStringLiteral("pw-123456"), stored));
    const WireClient::Reply reply =
        raise ? m_admin.send(EscalateUserQuery{{id, shown}}) : m_admin.send(DegradeUserQuery{{id, shown}});
    QCOMPARE(reply.word(), word);
    QCOMPARE(m_fx->userRow(m_admin, id).value(5), after);
}

void TestServerProtocol::adminRequestsNeedAnAdministrator_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("loginAs");
    QTest::newRow("nobody logged in") << 50 << "";
    QTest::newRow("a reader logged in") << 51 << "reader";
    QTest::newRow("a VIP logged in") << 52 << "vip";
}

void TestServerProtocol::adminRequestsNeedAnAdministrator()
{
    QFETCH(int, address);
    QFETCH(QString, loginAs);
    const WireClient c = m_fx->client(address);
    if (!loginAs.isEmpty())
        QCOMPARE(m_fx->login(c, loginAs, QStringLiteral("pw-") + loginAs), QStringLiteral("PASS"));
    const QStringList book = m_fx->bookRow(QStringLiteral("F011"));
    QCOMPARE(c.send(DeleteUserQuery{QStringLiteral("newcomer")}).word(), QStringLiteral("ADMIN_REQUIRED"));
    QCOMPARE(c.send(EscalateUserQuery{{loginAs, QStringLiteral("VIP")}}).word(), QStringLiteral("ADMIN_REQUIRED"));
    QCOMPARE(c.send(DegradeUserQuery{{QStringLiteral("admin"), QStringLiteral("超级管理员")}}).word(),
             QStringLiteral("ADMIN_REQUIRED"));
    QCOMPARE(c.send(DeleteBookQuery{BookRecord::from(book)}).word(), QStringLiteral("ADMIN_REQUIRED"));
    QCOMPARE(
        c.send(AddBookQuery{QStringLiteral("X"), {}, {}, QStringLiteral("X-1"), {}, {}, QStringLiteral("VIP")}).word(),
        QStringLiteral("ADMIN_REQUIRED"));
    // Listings answer with no rows at all.
    const WireClient::Reply users = c.send(SearchUserQuery{QString()});
    QVERIFY(users.endOfStream);
    QCOMPARE(users.frames.size(), 0);
    const WireClient::Reply unconfirmed = c.send(UnconfirmUserQuery{});
    QVERIFY(unconfirmed.endOfStream);
    QCOMPARE(unconfirmed.frames.size(), 0);
    // Nothing changed.
    QCOMPARE(m_fx->bookRow(QStringLiteral("F011")), book);
    QCOMPARE(m_fx->userRow(m_admin, QStringLiteral("newcomer")).value(5), QStringLiteral("Guest"));
    QCOMPARE(m_fx->bookRow(QStringLiteral("X-1")), QStringList());
}

void TestServerProtocol::latestLoginFromAnAddressDecides()
{
    const WireClient shared = m_fx->client(60);
    QCOMPARE(m_fx->login(shared, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    QVERIFY(shared.send(SearchUserQuery{QStringLiteral("reader")}).frames.size() >= 1);
    QCOMPARE(m_fx->login(shared, QStringLiteral("reader"), QStringLiteral("pw-reader")), QStringLiteral("PASS"));
    QCOMPARE(shared.send(SearchUserQuery{QStringLiteral("reader")}).frames.size(), 0);
}

void TestServerProtocol::loweredAdministratorLosesTheRight()
{
    QVERIFY(m_fx->createUser(m_admin, QStringLiteral("deputy"), QStringLiteral("pw-deputy"), Levels::Administrator));
    const WireClient deputy = m_fx->client(61);
    QCOMPARE(m_fx->login(deputy, QStringLiteral("deputy"), QStringLiteral("pw-deputy")), QStringLiteral("PASS"));
    QVERIFY(deputy.send(SearchUserQuery{QStringLiteral("deputy")}).frames.size() == 1);
    QCOMPARE(m_admin.send(DegradeUserQuery{{QStringLiteral("deputy"), QStringLiteral("管理员")}}).word(),
             Reply::DegradeUserSuccessfully);
    QCOMPARE(deputy.send(SearchUserQuery{QStringLiteral("deputy")}).frames.size(), 0);
    QCOMPARE(deputy.send(DeleteUserQuery{QStringLiteral("newcomer")}).word(), QStringLiteral("ADMIN_REQUIRED"));
}

void TestServerProtocol::searchUsers()
{
    const WireClient::Reply byName = m_admin.send(SearchUserQuery{QStringLiteral("READER NAME")});
    QCOMPARE(byName.frames.size(), 1);
    QCOMPARE(byName.frames.first().value(0), QStringLiteral("reader"));
    const WireClient::Reply all = m_admin.send(SearchUserQuery{QString()});
    QStringList ids;
    for (const QStringList& row : all.frames)
        ids.append(row.value(0));
    QVERIFY(ids.contains(QStringLiteral("admin")));
    QVERIFY(ids.contains(QStringLiteral("vip")));
    QStringList sorted = ids;
    sorted.sort();
    QCOMPARE(ids, sorted);
    // LIKE wildcards in the text are literal.
    QCOMPARE(m_admin.send(SearchUserQuery{QStringLiteral("%")}).frames.size(), 0);
}

void TestServerProtocol::borrowRefusals_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("word");
    QTest::newRow("not logged in from this address") << "reader" << 70 << "F001"
                                                     << "NOT_LOGGED_IN";
    QTest::newRow("no such book") << "reader" << 2 << "NOPE"
                                  << "NO_SUCH_BOOK";
    QTest::newRow("unconfirmed account") << "newcomer" << 2 << "F001"
                                         << "ACCOUNT_UNCONFIRMED";
    QTest::newRow("level below the book's permission") << "reader" << 2 << "F003"
                                                       << "PERMISSION_TOO_LOW";
    QTest::newRow("administrator book for a VIP") << "vip" << 2 << "B003"
                                                  << "PERMISSION_TOO_LOW";
    QTest::newRow("copy already lent") << "vip" << 2 << "F004"
                                       << "BOOK_ALREADY_LENT";
    QTest::newRow("loan limit of the level reached") << "limited" << 2 << "F007"
                                                     << "BORROW_LIMIT_REACHED";
    QTest::newRow("VIP may borrow a VIP book") << "vip" << 2 << "F003"
                                               << "BORROW_BOOK_SUCCESSFULLY";
}

void TestServerProtocol::borrowRefusals()
{
    QFETCH(QString, user);
    QFETCH(int, address);
    QFETCH(QString, number);
    QFETCH(QString, word);
    if (m_fx->bookRow(QStringLiteral("F004")).value(6) == BookState::free()) {
        // Shared set-up: F004 lent to the reader, the limited account at its limit of two.
        QCOMPARE(as(QStringLiteral("reader"))
                     .send(BorrowBookQuery{BookRecord::from(m_fx->bookRow(QStringLiteral("F004"))),
                                           QStringLiteral("reader")})
                     .word(),
                 Reply::BorrowBookSuccessfully);
        for (const char* n : {"F005", "F006"})
            QCOMPARE(
                as(QStringLiteral("limited"))
                    .send(BorrowBookQuery{BookRecord::from(m_fx->bookRow(QLatin1String(n))), QStringLiteral("limited")})
                    .word(),
                Reply::BorrowBookSuccessfully);
    }
    const QStringList before = m_fx->bookRow(number);
    QStringList book = before;
    if (book.isEmpty())
        book = QStringList{
            QStringLiteral("T"), {}, {}, {}, {}, number, BookState::free(), QStringLiteral("Undergraduate")};
    // Address 2 stands for the user's own.
    QCOMPARE(
        (address == 2 ? as(user) : m_fx->client(address)).send(BorrowBookQuery{BookRecord::from(book), user}).word(),
        word);
    if (word != Reply::BorrowBookSuccessfully)
        QCOMPARE(m_fx->bookRow(number), before);
    else
        QCOMPARE(m_fx->bookRow(number).value(6), BookState::lentOut());
}

void TestServerProtocol::borrowListReturn()
{
    const QStringList book = m_fx->bookRow(QStringLiteral("F009"));
    QCOMPARE(
        as(QStringLiteral("reader")).send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("reader")}).word(),
        Reply::BorrowBookSuccessfully);
    QCOMPARE(m_fx->bookRow(QStringLiteral("F009")).value(6), BookState::lentOut());

    QStringList loaned;
    const WireClient::Reply list = as(QStringLiteral("reader")).send(UserBorrowBookQuery{QStringLiteral("reader")});
    for (const QStringList& row : list.frames) {
        QCOMPARE(row.size(), Reply::BorrowedBookRowSize);
        if (row[5] == QLatin1String("F009"))
            loaned = row;
    }
    QCOMPARE(loaned.mid(0, 6), book.mid(0, 6));
    QVERIFY2(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(loaned[6]).hasMatch(),
        qPrintable(loaned[6]));

    // Only the borrower, logged in from this address, returns it.
    QCOMPARE(as(QStringLiteral("vip")).send(ReturnBookQuery{LoanRecord::from(loaned), QStringLiteral("vip")}).word(),
             QStringLiteral("NOT_BORROWED_BY_USER"));
    QCOMPARE(m_fx->client(71).send(ReturnBookQuery{LoanRecord::from(loaned), QStringLiteral("reader")}).word(),
             QStringLiteral("NOT_LOGGED_IN"));
    QCOMPARE(
        as(QStringLiteral("reader")).send(ReturnBookQuery{LoanRecord::from(loaned), QStringLiteral("reader")}).word(),
        Reply::ReturnBookSuccessfully);
    QCOMPARE(
        as(QStringLiteral("reader")).send(ReturnBookQuery{LoanRecord::from(loaned), QStringLiteral("reader")}).word(),
        QStringLiteral("NOT_BORROWED_BY_USER"));
    QCOMPARE(m_fx->bookRow(QStringLiteral("F009")).value(6), BookState::free());
    for (const QStringList& row :
         as(QStringLiteral("reader")).send(UserBorrowBookQuery{QStringLiteral("reader")}).frames)
        QVERIFY(row.value(5) != QLatin1String("F009"));
}

void TestServerProtocol::borrowedBooksNeedALogin()
{
    const WireClient::Reply reply = m_fx->client(72).send(UserBorrowBookQuery{QStringLiteral("reader")});
    QVERIFY(reply.endOfStream);
    QCOMPARE(reply.frames.size(), 0);
}

void TestServerProtocol::manyClientsRaceForOneCopy()
{
    constexpr int Clients = 16;
    // Each racer at a PC of its own.
    const auto racer = [this](int i) { return m_fx->client(100 + i); };
    for (int i = 0; i < Clients; ++i) {
        const QString id = QStringLiteral("racer%1").arg(i);
        QVERIFY(m_fx->createUser(m_admin, id, QStringLiteral("pw-123456"), Levels::Undergraduate));
        QCOMPARE(m_fx->login(racer(i), id, QStringLiteral("pw-123456")), QStringLiteral("PASS"));
    }
    const QStringList book = m_fx->bookRow(QStringLiteral("F008"));
    QStringList words(Clients);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < Clients; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < Clients) { }
            words[i] = racer(i).send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("racer%1").arg(i)}).word();
        });
    }
    for (std::thread& t : threads)
        t.join();
    QCOMPARE(words.count(Reply::BorrowBookSuccessfully), 1);
    QCOMPARE(words.count(QStringLiteral("BOOK_ALREADY_LENT")), Clients - 1);
    // Exactly one loan exists, held by the winner.
    const int winner = int(words.indexOf(Reply::BorrowBookSuccessfully));
    int loans = 0;
    for (int i = 0; i < Clients; ++i) {
        for (const QStringList& row : racer(i).send(UserBorrowBookQuery{QStringLiteral("racer%1").arg(i)}).frames) {
            if (row.value(5) == QLatin1String("F008")) {
                ++loans;
                QCOMPARE(i, winner);
            }
        }
    }
    QCOMPARE(loans, 1);
}

void TestServerProtocol::addBook_data()
{
    QTest::addColumn<AddBookQuery>("query");
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("storedPermission");
    const auto q = [](const QString& title, const QString& number, const QString& permission) {
        return AddBookQuery{title,     QStringLiteral("Author"), QStringLiteral("Type"),
                            number,    QStringLiteral("1999"),   QStringLiteral("Press"),
                            permission};
    };
    QTest::newRow("new book") << q("Added One", "A-1", "VIP") << "ADD_BOOK_SUCCESSFULLY"
                              << "VIP";
    QTest::newRow("no permission chosen") << q("Added Two", "A-2", QString()) << "ADD_BOOK_SUCCESSFULLY"
                                          << "Undergraduate";
    QTest::newRow("no title") << q("", "A-3", "VIP") << "MISSING_TITLE_OR_NUMBER"
                              << "";
    QTest::newRow("blank number") << q("Added Four", "  ", "VIP") << "MISSING_TITLE_OR_NUMBER"
                                  << "";
    QTest::newRow("existing number") << q("Another", "B001", "VIP") << "BOOK_NUMBER_EXISTS"
                                     << "Undergraduate";
    QTest::newRow("unknown permission") << q("Added Five", "A-5", "Emperor") << "UNKNOWN_PERMISSION"
                                        << "";
    // The request fits in its frame exactly, but the result row, with the state and the default
    // permission in place of the null one, would not.
    QTest::newRow("too long for a result frame")
        << q(QString(32715, QLatin1Char('x')), "A-6", QString()) << "RECORD_TOO_LONG"
        << "";
}

void TestServerProtocol::addBook()
{
    QFETCH(AddBookQuery, query);
    QFETCH(QString, word);
    QFETCH(QString, storedPermission);
    QVERIFY(!Wire::encodeRequest(query).isEmpty());
    QCOMPARE(m_admin.send(query).word(), word);
    if (query.number.trimmed().isEmpty())
        return;
    const QStringList row = m_fx->bookRow(query.number.trimmed());
    QCOMPARE(row.value(7), storedPermission);
    if (word == Reply::AddBookSuccessfully) {
        QCOMPARE(row.mid(0, 7),
                 QStringList({query.title, query.author, query.type, query.press, query.year, query.number,
                              BookState::free()}));
    }
}

void TestServerProtocol::deleteBook()
{
    const QStringList lent = m_fx->bookRow(QStringLiteral("F010"));
    QCOMPARE(as(QStringLiteral("vip")).send(BorrowBookQuery{BookRecord::from(lent), QStringLiteral("vip")}).word(),
             Reply::BorrowBookSuccessfully);
    QCOMPARE(m_admin.send(DeleteBookQuery{BookRecord::from(m_fx->bookRow(QStringLiteral("F010")))}).word(),
             QStringLiteral("BOOK_ON_LOAN"));
    QVERIFY(!m_fx->bookRow(QStringLiteral("F010")).isEmpty());

    QStringList missing = lent;
    missing[5] = QStringLiteral("NOPE");
    QCOMPARE(m_admin.send(DeleteBookQuery{BookRecord::from(missing)}).word(), QStringLiteral("NO_SUCH_BOOK"));

    QCOMPARE(m_admin.send(DeleteBookQuery{BookRecord::from(m_fx->bookRow(QStringLiteral("F011")))}).word(),
             Reply::DeleteBookSuccessfully);
    QCOMPARE(m_fx->bookRow(QStringLiteral("F011")), QStringList());
    // The substring index follows the deletion.
    QCOMPARE(m_fx->client(9).send(BookQuery{QStringLiteral("Delete Free"), {}, {}, {}, {}, {}, {}}).frames.size(), 0);
}

void TestServerProtocol::deleteUser()
{
    QCOMPARE(m_admin.send(DeleteUserQuery{QStringLiteral("admin")}).word(), QStringLiteral("SUPER_ADMIN_PROTECTED"));
    QCOMPARE(m_admin.send(DeleteUserQuery{QStringLiteral("nobody")}).word(), QStringLiteral("NO_SUCH_USER"));

    QVERIFY(m_fx->createUser(m_admin, QStringLiteral("leaver"), QStringLiteral("pw-leaver"), Levels::Undergraduate));
    const WireClient leaver = m_fx->client(80);
    QCOMPARE(m_fx->login(leaver, QStringLiteral("leaver"), QStringLiteral("pw-leaver")), QStringLiteral("PASS"));
    const QStringList book = m_fx->bookRow(QStringLiteral("F012"));
    QCOMPARE(leaver.send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("leaver")}).word(),
             Reply::BorrowBookSuccessfully);
    QCOMPARE(m_admin.send(DeleteUserQuery{QStringLiteral("leaver")}).word(), QStringLiteral("USER_HAS_LOANS"));

    const QStringList loan = leaver.send(UserBorrowBookQuery{QStringLiteral("leaver")}).frames.value(0);
    QCOMPARE(leaver.send(ReturnBookQuery{LoanRecord::from(loan), QStringLiteral("leaver")}).word(),
             Reply::ReturnBookSuccessfully);
    QCOMPARE(m_admin.send(DeleteUserQuery{QStringLiteral("leaver")}).word(), Reply::DeleteUserSuccessfully);
    QCOMPARE(m_fx->userRow(m_admin, QStringLiteral("leaver")), QStringList());
    QCOMPARE(m_fx->login(leaver, QStringLiteral("leaver"), QStringLiteral("pw-leaver")), QStringLiteral("WRONG_ID"));
    // The ID is free again, and the old session does not carry over to a new account of that name.
    QCOMPARE(m_fx->registerUser(QStringLiteral("leaver"), QStringLiteral("pw-other")),
             QStringLiteral("REGISTER_SUCCESSFULLY"));
    QCOMPARE(leaver.send(UserUpdateQuery{QStringLiteral("leaver"), {}, QStringLiteral("hijack"), {}, {}, {}}).word(),
             QStringLiteral("NOT_LOGGED_IN"));
}

void TestServerProtocol::informationUpdate()
{
    QVERIFY(m_fx->createUser(m_admin, QStringLiteral("mover"), QStringLiteral("pw-old"), Levels::Undergraduate));
    const WireClient mover = m_fx->client(90);
    const auto update = [&](const QString& password, const QString& name) {
        return mover.send(UserUpdateQuery{QStringLiteral("mover"), password, name, QStringLiteral("555"),
                                          QStringLiteral("new@example.org"), QStringLiteral("line one\nline two")});
    };
    QCOMPARE(update(QString(), QStringLiteral("Mover")).word(), QStringLiteral("NOT_LOGGED_IN"));
    QCOMPARE(m_fx->login(mover, QStringLiteral("mover"), QStringLiteral("pw-old")), QStringLiteral("PASS"));

    // An empty new password keeps the stored one.
    QCOMPARE(update(QString(), QStringLiteral("Mover One")).word(), Reply::UpdateSuccessfully);
    const WireClient::Reply again = mover.send(LoginQuery{QStringLiteral("mover"), QStringLiteral("pw-old")});
    QCOMPARE(again.word(), QStringLiteral("PASS"));
    QCOMPARE(Reply::accountAfterPass(again.frames.first()).value_or(QStringList()),
             QStringList({QStringLiteral("mover"), QStringLiteral("Mover One"), QStringLiteral("Undergraduate"),
                          QString(), QString(), QStringLiteral("555"), QStringLiteral("new@example.org"),
                          QStringLiteral("line one\nline two")}));

    // A new password needs the current one, which only our client sends (one more field).
    QCOMPARE(update(QStringLiteral("pw-new"), QStringLiteral("Mover Two")).word(),
             QStringLiteral("CURRENT_PASSWORD_REQUIRED"));
    WireClient ours = m_fx->client(90);
    QCOMPARE(m_fx->loginWithToken(ours, QStringLiteral("mover"), QStringLiteral("pw-old")), QStringLiteral("PASS"));
    UserUpdateQuery change{QStringLiteral("mover"), QStringLiteral("pw-new"), QStringLiteral("Mover Two"), {}, {}, {}};
    change.currentPassword = QStringLiteral("pw-old");
    QCOMPARE(ours.send(change).word(), Reply::UpdateSuccessfully);
    QCOMPARE(m_fx->login(mover, QStringLiteral("mover"), QStringLiteral("pw-old")), QStringLiteral("WRONG_PASSWORD"));
    QCOMPARE(m_fx->login(mover, QStringLiteral("mover"), QStringLiteral("pw-new")), QStringLiteral("PASS"));

    // Another account's information is not changed from here.
    QCOMPARE(mover.send(UserUpdateQuery{QStringLiteral("reader"), QStringLiteral("stolen"), {}, {}, {}, {}}).word(),
             QStringLiteral("NOT_LOGGED_IN"));
    QCOMPARE(m_fx->login(m_fx->client(91), QStringLiteral("reader"), QStringLiteral("pw-reader")),
             QStringLiteral("PASS"));
}

QTEST_GUILESS_MAIN(TestServerProtocol)
#include "tst_serverprotocol.moc"
