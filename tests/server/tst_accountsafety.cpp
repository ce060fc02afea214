#include "serverfixture.h"

// What a hostile user on the library's network tried: taking over an account from a desk PC,
// locking a reader out, flooding registration, look-alike IDs, hoarding holds; against the test
// server, whose clock the tests move (sessions and the login throttle go by it too).
class TestAccountSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void passwordChangeNeedsTheCurrentPassword_data();
    void passwordChangeNeedsTheCurrentPassword();
    void detailsFollowTheAccountFieldRule_data();
    void detailsFollowTheAccountFieldRule();
    void anyLoginAtAPcEndsItsAddressLogin();
    void lookAlikeIdsAreRefused_data();
    void lookAlikeIdsAreRefused();
    void holdsPerReaderAreCapped();
    void guessesElsewhereDoNotLockTheOwnerOut();
    void sessionsAndThrottleGoByTheServerClock();
    void registrationFloodCannotCloseRegistration();
    void staffCorrectReaders_data();
    void staffCorrectReaders();

private:
    // Logs in as our client does (the word "SESSION", and a device token when given); the reply.
    WireClient::Reply ourLogin(const WireClient& c, const QString& id, const QString& password,
                               const QString& device = {}) const;
    static QString tokenOf(const WireClient::Reply& reply, const char* word);
    void restart();

    ServerProcess m_server{QStringLiteral(TEST_SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
};

namespace {
const QString Password = QStringLiteral("pw-123456");
}

void TestAccountSafety::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QByteArray seed = "title,author,type,publisher,year,number,permission\n";
    for (int i = 1; i <= 4; ++i)
        seed += "Safe " + QByteArray::number(i) + ",Anon,Test,Self,2000,S" + QByteArray::number(i) + ",Undergraduate\n";
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"), seed));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    m_server.setSetting(QStringLiteral("maxHolds/Undergraduate"), 2);
    m_server.setSetting(QStringLiteral("registration/perNetworkPerHour"), 40);
    m_server.setSetting(QStringLiteral("registration/maxUnconfirmed"), 30);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    const WireClient admin = m_fx->client(1);
    QCOMPARE(m_fx->login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    for (const char* id : {"ann", "bea", "cat", "dan", "eve", "fay"})
        QVERIFY(m_fx->createUser(admin, QLatin1String(id), Password, Levels::Undergraduate));
    for (const char* id : {"deputy", "second"})
        QVERIFY(m_fx->createUser(admin, QLatin1String(id), Password, Levels::Administrator));
}

void TestAccountSafety::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

WireClient::Reply TestAccountSafety::ourLogin(const WireClient& c, const QString& id, const QString& password,
                                              const QString& device) const
{
    LoginQuery query{id, password};
    query.sessionWord = QString(Reply::Session);
    query.deviceToken = device;
    return c.send(query);
}

QString TestAccountSafety::tokenOf(const WireClient::Reply& reply, const char* word)
{
    for (const QStringList& frame : reply.frames) {
        if (frame.value(0) == QLatin1String(word))
            return frame.value(1);
    }
    return QString();
}

void TestAccountSafety::restart()
{
    QVERIFY(m_server.stop());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    QCOMPARE(m_fx->login(m_fx->client(1), QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
}

void TestAccountSafety::passwordChangeNeedsTheCurrentPassword_data()
{
    QTest::addColumn<bool>("withToken");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("newPassword");
    QTest::addColumn<QString>("word");
    QTest::newRow("desk PC left logged in, no current password") << false << ""
                                                                 << "taken-over"
                                                                 << "CURRENT_PASSWORD_REQUIRED";
    QTest::newRow("a token alone") << true << ""
                                   << "taken-over"
                                   << "CURRENT_PASSWORD_REQUIRED";
    QTest::newRow("a wrong current password") << true << "guess-1"
                                              << "taken-over"
                                              << "WRONG_PASSWORD";
    QTest::newRow("the details alone, as documented") << false << ""
                                                      << ""
                                                      << "UPDATE_SUCCESSFULLY";
    QTest::newRow("the owner, with the current password") << true << Password << "pw-654321"
                                                          << "UPDATE_SUCCESSFULLY";
}

void TestAccountSafety::passwordChangeNeedsTheCurrentPassword()
{
    QFETCH(bool, withToken);
    QFETCH(QString, current);
    QFETCH(QString, newPassword);
    QFETCH(QString, word);
    static int pc = 10;
    WireClient desk = m_fx->client(++pc);
    const QString id = QStringLiteral("ann");
    if (withToken)
        desk.setToken(tokenOf(ourLogin(desk, id, Password), "SESSION"));
    else
        QCOMPARE(m_fx->login(desk, id, Password), QStringLiteral("PASS"));
    UserUpdateQuery update{id, newPassword, QStringLiteral("Ann"), QStringLiteral("123"), QStringLiteral("a@b.org"),
                           {}};
    update.currentPassword = current;
    QCOMPARE(desk.send(update).word(), word);
    // The password is still the one the owner knows unless the owner changed it.
    const QString now = word == QLatin1String("UPDATE_SUCCESSFULLY") && !newPassword.isEmpty() ? newPassword : Password;
    QCOMPARE(m_fx->login(m_fx->client(90), id, now), QStringLiteral("PASS"));
    if (now != Password) {
        WireClient back = m_fx->client(90);
        back.setToken(tokenOf(ourLogin(back, id, now), "SESSION"));
        update.newPassword = Password;
        update.currentPassword = now;
        QCOMPARE(back.send(update).word(), QStringLiteral("UPDATE_SUCCESSFULLY"));
    }
}

void TestAccountSafety::detailsFollowTheAccountFieldRule_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("newPassword");
    QTest::addColumn<QString>("word");
    QTest::newRow("control character in the name") << "Bea\x1b[2J"
                                                   << ""
                                                   << ""
                                                   << "INVALID_ACCOUNT_FIELD";
    QTest::newRow("5000-character name") << QString(5000, QLatin1Char('b')) << ""
                                         << ""
                                         << "INVALID_ACCOUNT_FIELD";
    QTest::newRow("formula for a spreadsheet as the e-mail") << "Bea"
                                                             << "=HYPERLINK(\"http://x\")"
                                                             << ""
                                                             << "INVALID_ACCOUNT_FIELD";
    QTest::newRow("one-character password") << "Bea"
                                            << ""
                                            << "x"
                                            << "INVALID_ACCOUNT_FIELD";
    QTest::newRow("plain details") << "Bea 贝"
                                   << "bea@example.org"
                                   << ""
                                   << "UPDATE_SUCCESSFULLY";
}

void TestAccountSafety::detailsFollowTheAccountFieldRule()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, newPassword);
    QFETCH(QString, word);
    WireClient pc = m_fx->client(30);
    pc.setToken(tokenOf(ourLogin(pc, QStringLiteral("bea"), Password), "SESSION"));
    UserUpdateQuery update{QStringLiteral("bea"), newPassword, name, QStringLiteral("123"), email, {}};
    update.currentPassword = Password;
    QCOMPARE(pc.send(update).word(), word);
}

// Reader A logs in at a desk PC without a token and walks away; reader B logs in there with one.
void TestAccountSafety::anyLoginAtAPcEndsItsAddressLogin()
{
    const WireClient desk = m_fx->client(8);
    QCOMPARE(m_fx->login(desk, QStringLiteral("cat"), Password), QStringLiteral("PASS"));
    QCOMPARE(desk.send(UserBorrowBookQuery{QStringLiteral("cat")}).endOfStream, true);
    const WireClient::Reply other = ourLogin(desk, QStringLiteral("dan"), Password);
    QCOMPARE(other.word(), QStringLiteral("PASS"));
    // Cat's documented requests from that PC are refused now.
    const QStringList book{"t", {}, {}, {}, {}, "NONE", BookState::free(), "Undergraduate"};
    QCOMPARE(desk.send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("cat")}).word(),
             QStringLiteral("NOT_LOGGED_IN"));
    // And the login reply never carries the typed password back.
    QCOMPARE(other.frames.value(0).value(4), QString());
}

void TestAccountSafety::lookAlikeIdsAreRefused_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("reason");
    QTest::newRow("full-width") << QStringLiteral("ａｄｍｉｎ") << "ID_CONFUSABLE";
    QTest::newRow("Cyrillic a") << QStringLiteral("аdmin") << "ID_CONFUSABLE";
    QTest::newRow("another case") << QStringLiteral("Admin") << "ID_CONFUSABLE";
    QTest::newRow("an accent") << QStringLiteral("ádmin") << "ID_CONFUSABLE";
    QTest::newRow("rn for m") << QStringLiteral("adrnin") << "ID_CONFUSABLE";
    QTest::newRow("the same ID") << QStringLiteral("admin") << "ID_TAKEN";
    QTest::newRow("Chinese with Latin is how readers write") << QStringLiteral("张san") << "";
}

void TestAccountSafety::lookAlikeIdsAreRefused()
{
    QFETCH(QString, id);
    QFETCH(QString, reason);
    // With an empty token field, as our client registers: the reason comes as a second string.
    const UserRegisterQuery query{id, Password, QStringLiteral("X"), {}, {}, {}, {}};
    const WireClient::Reply reply = m_fx->client(60).send(query, QString());
    if (reason.isEmpty()) {
        QCOMPARE(reply.word(), QStringLiteral("REGISTER_SUCCESSFULLY"));
        return;
    }
    QCOMPARE(reply.frames.value(0), (QStringList{QStringLiteral("REGISTER_FAIL"), reason}));
    // A documented client gets the documented word alone.
    QCOMPARE(m_fx->client(60).send(query).frames.value(0), QStringList{QStringLiteral("REGISTER_FAIL")});
}

void TestAccountSafety::holdsPerReaderAreCapped()
{
    // Eve borrows every copy; Dan may hold two of them ([maxHolds] Undergraduate=2), not the third.
    WireClient eve = m_fx->client(40);
    eve.setToken(tokenOf(ourLogin(eve, QStringLiteral("eve"), Password), "SESSION"));
    WireClient dan = m_fx->client(41);
    dan.setToken(tokenOf(ourLogin(dan, QStringLiteral("dan"), Password), "SESSION"));
    const QStringList words{QStringLiteral("PLACE_HOLD_SUCCESSFULLY"), QStringLiteral("PLACE_HOLD_SUCCESSFULLY"),
                            QStringLiteral("HOLD_LIMIT_REACHED")};
    for (int i = 1; i <= 3; ++i) {
        const QString number = QStringLiteral("S%1").arg(i);
        const QStringList book{"t", {}, {}, {}, {}, number, BookState::free(), "Undergraduate"};
        QCOMPARE(eve.send(BorrowBookQuery{BookRecord::from(book), QStringLiteral("eve")}).word(),
                 QStringLiteral("BORROW_BOOK_SUCCESSFULLY"));
        QCOMPARE(dan.send(PlaceHoldQuery{{number, QStringLiteral("dan")}}).word(), words.at(i - 1));
    }
}

// Twenty wrong logins from twenty addresses lock the account for every PC it never used; the owner's
// own PC, with the device token of an earlier login, still gets in, and a correct login clears the lock.
void TestAccountSafety::guessesElsewhereDoNotLockTheOwnerOut()
{
    const QString id = QStringLiteral("cat");
    const WireClient home = m_fx->client(50);
    const QString device = tokenOf(ourLogin(home, id, Password), "DEVICE");
    QVERIFY(!device.isEmpty());
    for (int i = 0; i < 20; ++i)
        QCOMPARE(m_fx->login(m_fx->client(100 + i), id, QStringLiteral("guess")), QStringLiteral("WRONG_PASSWORD"));
    QCOMPARE(m_fx->login(m_fx->client(130), id, Password), QStringLiteral("TOO_MANY_ATTEMPTS_FOR_ACCOUNT"));
    // A forged device token, or another account's, is no exemption.
    QCOMPARE(ourLogin(m_fx->client(131), id, Password, device + QLatin1Char('x')).word(),
             QStringLiteral("TOO_MANY_ATTEMPTS_FOR_ACCOUNT"));
    QCOMPARE(ourLogin(m_fx->client(131), QStringLiteral("eve"), Password, device).word(), QStringLiteral("PASS"));
    const WireClient::Reply owner = ourLogin(home, id, Password, device);
    QCOMPARE(owner.word(), QStringLiteral("PASS"));
    QCOMPARE(tokenOf(owner, "DEVICE"), device);
    // The owner's login cleared the account's lock.
    QCOMPARE(m_fx->login(m_fx->client(130), id, Password), QStringLiteral("PASS"));
}

void TestAccountSafety::sessionsAndThrottleGoByTheServerClock()
{
    // A lock that ends by the server's clock, and a correct login after it that does not double it.
    const QString id = QStringLiteral("dan");
    for (int i = 0; i < 5; ++i)
        m_fx->login(m_fx->client(140), id, QStringLiteral("guess"));
    QCOMPARE(m_fx->login(m_fx->client(140), id, Password), QStringLiteral("TOO_MANY_ATTEMPTS"));
    WireClient tokenPc = m_fx->client(141);
    tokenPc.setToken(tokenOf(ourLogin(tokenPc, QStringLiteral("eve"), Password), "SESSION"));
    const WireClient addressPc = m_fx->client(142);
    QCOMPARE(m_fx->login(addressPc, QStringLiteral("bea"), Password), QStringLiteral("PASS"));
    QVERIFY(m_server.advanceClock(11 * 60));
    QCOMPARE(m_fx->login(m_fx->client(140), id, Password), QStringLiteral("PASS"));
    QCOMPARE(m_fx->login(m_fx->client(140), id, QStringLiteral("guess")), QStringLiteral("WRONG_PASSWORD"));
    // Eleven minutes on: an address session (10) has ended, a token session (30) has not.
    QCOMPARE(addressPc.send(UserBorrowBookQuery{QStringLiteral("bea")}).frames.size(), 0);
    QCOMPARE(tokenPc.send(UserLoansQuery{QStringLiteral("eve")}).frames.size(), 3);
    QVERIFY(m_server.advanceClock(31 * 60));
    QCOMPARE(tokenPc.send(UserLoansQuery{QStringLiteral("eve")}).word(), QStringLiteral("SESSION_EXPIRED"));
}

// 60 junk registrations from one /24 stop at the network's limit and close nothing for good: staff
// see how many wait, delete the network's at once, and unconfirmed accounts expire.
void TestAccountSafety::registrationFloodCannotCloseRegistration()
{
    int taken = 0;
    for (int i = 0; i < 60; ++i) {
        const UserRegisterQuery junk{QStringLiteral("junk%1x").arg(i), Password, {}, {}, {}, {}, {}};
        const WireClient::Reply reply = m_fx->client(150 + i % 50).send(junk, QString());
        if (reply.word() == QLatin1String("REGISTER_SUCCESSFULLY"))
            ++taken;
        else
            QVERIFY2(reply.frames.value(0).value(1) == QLatin1String("REGISTRATION_CLOSED")
                         || reply.frames.value(0).value(1) == QLatin1String("TOO_MANY_REGISTRATIONS"),
                     qPrintable(reply.frames.value(0).join(QLatin1Char('|'))));
    }
    QVERIFY(taken > 0 && taken <= 30);
    const WireClient admin = m_fx->client(1);
    QCOMPARE(m_fx->login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    const WireClient::Reply state = admin.send(RegistrationStateQuery{});
    QCOMPARE(state.frames.value(0).mid(0, 1), QStringList{QStringLiteral("REGISTRATION_STATE")});
    QVERIFY(state.frames.value(0).value(1).toInt() >= taken);
    QCOMPARE(state.frames.value(0).value(2), QStringLiteral("30"));
    // Each unconfirmed account shows where it registered from.
    const WireClient::Reply waiting = admin.send(UserDetailsQuery{{}, QStringLiteral("unconfirmed")});
    QVERIFY(!waiting.frames.isEmpty());
    QVERIFY(waiting.frames.first().value(7).startsWith(QLatin1String("127.0.0.")));
    QCOMPARE(admin.send(DeleteUnconfirmedQuery{QStringLiteral("not a network")}).word(), QStringLiteral("BAD_NETWORK"));
    const WireClient::Reply deleted = admin.send(DeleteUnconfirmedQuery{QStringLiteral("127.0.0.0/24")});
    QCOMPARE(deleted.frames.value(0).value(0), QStringLiteral("DELETE_UNCONFIRMED_SUCCESSFULLY"));
    QVERIFY(deleted.frames.value(0).value(1).toInt() >= taken);

    // Registration is open again; an account nobody confirms is gone after [registration] unconfirmedDays.
    QCOMPARE(m_fx->registerUser(QStringLiteral("late1"), Password), QStringLiteral("REGISTER_SUCCESSFULLY"));
    QVERIFY(m_server.advanceClock(15 * 24 * 3600));
    restart();
    QCOMPARE(m_fx->userRow(m_fx->client(1), QStringLiteral("late1")), QStringList());
    QCOMPARE(m_fx->userRow(m_fx->client(1), QStringLiteral("ann")).value(0), QStringLiteral("ann"));
}

// Staff correct a reader's details and give a reader who forgot the password a one-time one; an
// Administrator cannot do either to another Administrator or the Super Admin.
void TestAccountSafety::staffCorrectReaders_data()
{
    QTest::addColumn<QString>("staff");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("editWord");
    QTest::addColumn<QString>("resetWord");
    QTest::newRow("an Administrator, a reader") << "deputy"
                                                << "fay"
                                                << "EDIT_USER_SUCCESSFULLY"
                                                << "RESET_PASSWORD_SUCCESSFULLY";
    QTest::newRow("an Administrator, another Administrator") << "deputy"
                                                             << "second"
                                                             << "SUPER_ADMIN_REQUIRED"
                                                             << "SUPER_ADMIN_REQUIRED";
    QTest::newRow("an Administrator, the Super Admin") << "deputy"
                                                       << "admin"
                                                       << "SUPER_ADMIN_REQUIRED"
                                                       << "SUPER_ADMIN_REQUIRED";
    QTest::newRow("the Super Admin, an Administrator") << "admin"
                                                       << "second"
                                                       << "EDIT_USER_SUCCESSFULLY"
                                                       << "RESET_PASSWORD_SUCCESSFULLY";
    QTest::newRow("a reader") << "ann"
                              << "fay"
                              << "ADMIN_REQUIRED"
                              << "ADMIN_REQUIRED";
    QTest::newRow("nobody of that name") << "admin"
                                         << "nobody"
                                         << "NO_SUCH_USER"
                                         << "NO_SUCH_USER";
}

void TestAccountSafety::staffCorrectReaders()
{
    QFETCH(QString, staff);
    QFETCH(QString, reader);
    QFETCH(QString, editWord);
    QFETCH(QString, resetWord);
    WireClient desk = m_fx->client(200);
    const QString staffPassword =
        staff == QLatin1String("admin") ? QString::fromLatin1(ServerFixture::AdminPassword) : Password;
    desk.setToken(tokenOf(ourLogin(desk, staff, staffPassword), "SESSION"));
    WireClient readerPc = m_fx->client(201);
    if (reader != QLatin1String("nobody") && reader != QLatin1String("admin"))
        readerPc.setToken(tokenOf(ourLogin(readerPc, reader, Password), "SESSION"));

    QCOMPARE(desk.send(EditUserQuery{reader, QStringLiteral("Corrected Name"), QStringLiteral("S-") + reader,
                                     QStringLiteral("555"), QStringLiteral("fixed@example.org"), QStringLiteral("n")})
                 .word(),
             editWord);
    QCOMPARE(desk.send(EditUserQuery{reader, QStringLiteral("Bad\x1b"), {}, {}, {}, {}}).word(),
             QStringLiteral("INVALID_ACCOUNT_FIELD"));
    const WireClient::Reply reset = desk.send(ResetPasswordQuery{reader});
    QCOMPARE(reset.word(), resetWord);
    if (resetWord != QLatin1String("RESET_PASSWORD_SUCCESSFULLY"))
        return;
    QCOMPARE(m_fx->userRow(desk, reader).value(1), QStringLiteral("Corrected Name"));
    // The reader's sessions ended; the one-time password works for choosing a new one, nothing else.
    const QString oneTime = reset.frames.value(0).value(1);
    QVERIFY(oneTime.size() >= 12);
    QCOMPARE(readerPc.send(UserLoansQuery{reader}).word(), QStringLiteral("SESSION_EXPIRED"));
    QCOMPARE(m_fx->login(m_fx->client(202), reader, Password), QStringLiteral("WRONG_PASSWORD"));
    WireClient fresh = m_fx->client(203);
    fresh.setToken(tokenOf(ourLogin(fresh, reader, oneTime), "SESSION"));
    QCOMPARE(fresh.send(UserLoansQuery{reader}).word(), QStringLiteral("PASSWORD_CHANGE_REQUIRED"));
    UserUpdateQuery choose{reader, Password, QStringLiteral("Corrected Name"), {}, {}, {}};
    choose.currentPassword = oneTime;
    QCOMPARE(fresh.send(choose).word(), QStringLiteral("UPDATE_SUCCESSFULLY"));
    QCOMPARE(fresh.send(UserLoansQuery{reader}).word(), QString());
}

QTEST_GUILESS_MAIN(TestAccountSafety)
#include "tst_accountsafety.moc"
