#include "serverfixture.h"

#include <thread>
#include <vector>

// Who may act as an account: the attacks of a shared desk PC, token sessions and their ends, the
// rules for administrators and the login throttle, against the real server.
class TestSessions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void sharedPcAfterAnotherLogin_data();
    void sharedPcAfterAnotherLogin();
    void tokenEnds_data();
    void tokenEnds();
    void tokenBoundAccountRefusesAddressRequests();
    void onlyTheSuperAdminMakesAdministrators_data();
    void onlyTheSuperAdminMakesAdministrators();
    void simultaneousGuessesAreCountedBeforeVerifying();
    void idleSessionsAndLatePasswordChangesEnd();

private:
    // Logs in with the word "SESSION"; the token, or the refusal word prefixed with "!".
    QString tokenLogin(const WireClient& c, const QString& id, const QString& password) const;
    // Changes the details (and the password, when one is given, with `current` as the current one).
    QString update(const WireClient& c, const QString& id, const QString& password, const QString& token = {},
                   const QString& current = {}) const;

    ServerProcess m_server{QStringLiteral(SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
    WireClient m_admin{0};
};

QString TestSessions::tokenLogin(const WireClient& c, const QString& id, const QString& password) const
{
    const WireClient::Reply reply =
        c.sendBytes(Wire::encodeFrame({QString(Query::UserLogin), id, password, QString(::Reply::Session)}));
    if (reply.word() != QLatin1String("PASS"))
        return QLatin1Char('!') + reply.word();
    const QStringList session = reply.frames.value(1);
    return session.value(0) == QLatin1String(::Reply::Session) && reply.frames.size() >= 2
        ? session.value(1)
        : QStringLiteral("!no token");
}

QString TestSessions::update(const WireClient& c, const QString& id, const QString& password, const QString& token,
                             const QString& current) const
{
    UserUpdateQuery q{id, password, id, QStringLiteral("1"), QStringLiteral("e@x.org"), QString()};
    q.currentPassword = current;
    return (token.isEmpty() ? c.send(q) : c.send(q, token)).word();
}

void TestSessions::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    m_server.setSetting(QStringLiteral("security/loginFailuresAllowed"), 5);
    m_server.setSetting(QStringLiteral("security/loginLockoutMs"), 600000);
    // 250 guesses at once from one address must all reach the throttle, past the per-address limit.
    m_server.setSetting(QStringLiteral("network/maxConnectionsPerAddress"), 1000);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    m_admin = m_fx->client(1);
    QCOMPARE(m_fx->login(m_admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    for (const char* id : {"alice", "bob", "carol", "dave", "erin", "frank", "grace"})
        QVERIFY(m_fx->createUser(m_admin, QLatin1String(id), QStringLiteral("pw-") + QLatin1String(id), Levels::Vip));
    for (const char* id : {"deputy", "chief1", "chief2"})
        QVERIFY(m_fx->createUser(m_admin, QLatin1String(id), QStringLiteral("pw-") + QLatin1String(id),
                                 Levels::Administrator));
}

void TestSessions::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

void TestSessions::sharedPcAfterAnotherLogin_data()
{
    QTest::addColumn<bool>("withToken");
    QTest::addColumn<bool>("logsOut");
    QTest::newRow("documented client, next reader logs in") << false << false;
    QTest::newRow("documented client, logout") << false << true;
    QTest::newRow("token client, logout") << true << true;
}

// Alice uses the desk PC and leaves; whoever sits down next cannot act as her with hand-made requests.
void TestSessions::sharedPcAfterAnotherLogin()
{
    QFETCH(bool, withToken);
    QFETCH(bool, logsOut);
    static int pc = 20;
    const WireClient desk = m_fx->client(++pc);
    const QString alice = QStringLiteral("alice");
    const QString token = withToken ? tokenLogin(desk, alice, QStringLiteral("pw-alice")) : QString();
    if (!withToken)
        QCOMPARE(m_fx->login(desk, alice, QStringLiteral("pw-alice")), QStringLiteral("PASS"));
    QVERIFY(!token.startsWith(QLatin1Char('!')));
    const QStringList book{QStringLiteral("t"),  {}, {}, {}, {}, QStringLiteral("NONE"), BookState::free(),
                           QStringLiteral("VIP")};
    // While she is logged in, her requests work (the book does not exist: the refusal is the book's).
    const auto borrow = [&](const QString& t) {
        const BorrowBookQuery q{BookRecord::from(book), alice};
        return (t.isEmpty() ? desk.send(q) : desk.send(q, t)).word();
    };
    QCOMPARE(borrow(token), QStringLiteral("NO_SUCH_BOOK"));
    if (logsOut) {
        const LogoutQuery logout{alice};
        QCOMPARE((token.isEmpty() ? desk.send(logout) : desk.send(logout, token)).word(),
                 QString(::Reply::LogoutSuccessfully));
    } else {
        QCOMPARE(m_fx->login(desk, QStringLiteral("bob"), QStringLiteral("pw-bob")), QStringLiteral("PASS"));
    }
    // The next person at the desk, with documented requests as Alice.
    QCOMPARE(borrow(QString()), QStringLiteral("NOT_LOGGED_IN"));
    QCOMPARE(desk.send(UserBorrowBookQuery{alice}).frames.size(), 0);
    QCOMPARE(update(desk, alice, QStringLiteral("taken-over")), QStringLiteral("NOT_LOGGED_IN"));
    QCOMPARE(m_fx->login(m_fx->client(99), alice, QStringLiteral("pw-alice")), QStringLiteral("PASS"));
    if (withToken)
        QCOMPARE(borrow(token), Wire::word(Refusal::SessionExpired));
}

void TestSessions::tokenEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("logout") << "logout";
    QTest::newRow("password changed from another PC") << "password";
    QTest::newRow("level changed") << "level";
    QTest::newRow("a token never issued") << "forged";
}

void TestSessions::tokenEnds()
{
    QFETCH(QString, how);
    const QString id = QStringLiteral("carol");
    const WireClient shared = m_fx->client(40);
    const WireClient home = m_fx->client(41);
    QString token = tokenLogin(shared, id, QStringLiteral("pw-carol"));
    QVERIFY(!token.startsWith(QLatin1Char('!')));
    QCOMPARE(shared.send(UserBorrowBookQuery{id}, token).word(), QString()); // rows: none, no refusal
    if (how == QLatin1String("logout")) {
        QCOMPARE(shared.send(LogoutQuery{id}, token).word(), QString(::Reply::LogoutSuccessfully));
    } else if (how == QLatin1String("password")) {
        const QString homeToken = tokenLogin(home, id, QStringLiteral("pw-carol"));
        QCOMPARE(update(home, id, QStringLiteral("pw-carol"), homeToken, QStringLiteral("pw-carol")),
                 QString(::Reply::UpdateSuccessfully));
        // The session that changed it goes on.
        QCOMPARE(home.send(UserBorrowBookQuery{id}, homeToken).word(), QString());
    } else if (how == QLatin1String("level")) {
        QCOMPARE(m_admin.send(DegradeUserQuery{{id, QStringLiteral("VIP")}}).word(),
                 QString(::Reply::DegradeUserSuccessfully));
        QCOMPARE(m_admin.send(EscalateUserQuery{{id, QStringLiteral("研究生")}}).word(),
                 QString(::Reply::EscalateUserSuccessfully));
    } else {
        token = QStringLiteral("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
    }
    // Word replies and row streams alike answer with the one refusal frame.
    QCOMPARE(shared.send(UserBorrowBookQuery{id}, token).frames,
             QList<QStringList>{{Wire::word(Refusal::SessionExpired)}});
    QCOMPARE(update(shared, id, QStringLiteral("new-password"), token), Wire::word(Refusal::SessionExpired));
    QCOMPARE(shared.send(BookQuery{}, token).frames, QList<QStringList>{{Wire::word(Refusal::SessionExpired)}});
}

void TestSessions::tokenBoundAccountRefusesAddressRequests()
{
    const QString id = QStringLiteral("dave");
    const WireClient oldPc = m_fx->client(50);
    const WireClient newPc = m_fx->client(51);
    QCOMPARE(m_fx->login(oldPc, id, QStringLiteral("pw-dave")), QStringLiteral("PASS"));
    QCOMPARE(update(oldPc, id, QString()), QString(::Reply::UpdateSuccessfully));
    const QString token = tokenLogin(newPc, id, QStringLiteral("pw-dave"));
    QVERIFY(!token.startsWith(QLatin1Char('!')));
    // Its latest login asked for a token: requests without it are refused from any address.
    QCOMPARE(update(oldPc, id, QString()), QStringLiteral("NOT_LOGGED_IN"));
    QCOMPARE(update(newPc, id, QString()), QStringLiteral("NOT_LOGGED_IN"));
    QCOMPARE(update(m_fx->client(52), id, QString(), token), QString(::Reply::UpdateSuccessfully));
}

void TestSessions::onlyTheSuperAdminMakesAdministrators_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("deputyWord");
    QTest::newRow("raise a VIP to Administrator") << "raise"
                                                  << "erin"
                                                  << "VIP"
                                                  << "SUPER_ADMIN_REQUIRED";
    QTest::newRow("lower an Administrator") << "lower"
                                            << "chief1"
                                            << "管理员"
                                            << "SUPER_ADMIN_REQUIRED";
    QTest::newRow("delete an Administrator") << "delete"
                                             << "chief2"
                                             << "管理员"
                                             << "SUPER_ADMIN_REQUIRED";
    QTest::newRow("lower a VIP") << "lower"
                                 << "frank"
                                 << "VIP"
                                 << "DEGRADE_USER_SUCCESSFULLY";
}

void TestSessions::onlyTheSuperAdminMakesAdministrators()
{
    QFETCH(QString, action);
    QFETCH(QString, target);
    QFETCH(QString, shown);
    QFETCH(QString, deputyWord);
    const WireClient deputy = m_fx->client(60);
    const QString token = tokenLogin(deputy, QStringLiteral("deputy"), QStringLiteral("pw-deputy"));
    const auto act = [&](const WireClient& c, const QString& t) {
        if (action == QLatin1String("raise"))
            return (t.isEmpty() ? c.send(EscalateUserQuery{{target, shown}})
                                : c.send(EscalateUserQuery{{target, shown}}, t))
                .word();
        if (action == QLatin1String("lower"))
            return (t.isEmpty() ? c.send(DegradeUserQuery{{target, shown}})
                                : c.send(DegradeUserQuery{{target, shown}}, t))
                .word();
        return (t.isEmpty() ? c.send(DeleteUserQuery{target}) : c.send(DeleteUserQuery{target}, t)).word();
    };
    const QStringList before = m_fx->userRow(m_admin, target);
    QCOMPARE(act(deputy, token), deputyWord);
    if (deputyWord.startsWith(QLatin1String("SUPER"))) {
        QCOMPARE(m_fx->userRow(m_admin, target), before);
        // The Super Admin may.
        QVERIFY(act(m_admin, QString()).endsWith(QLatin1String("_SUCCESSFULLY")));
    }
}

void TestSessions::simultaneousGuessesAreCountedBeforeVerifying()
{
    constexpr int Guesses = 250;
    std::vector<QString> words(Guesses);
    std::vector<std::thread> guessers;
    const WireClient attacker = m_fx->client(70);
    for (int i = 0; i < Guesses; ++i) {
        guessers.emplace_back([&, i] {
            words[size_t(i)] = m_fx->login(attacker, QStringLiteral("grace"), QStringLiteral("guess-%1").arg(i));
        });
    }
    for (std::thread& t : guessers)
        t.join();
    const auto verified = std::count(words.begin(), words.end(), QStringLiteral("WRONG_PASSWORD"));
    QVERIFY2(verified <= 5, qPrintable(QString::number(verified)));
    QCOMPARE(std::count(words.begin(), words.end(), QStringLiteral("TOO_MANY_ATTEMPTS")), Guesses - verified);
    // The right password is refused while the lock lasts; the real reader at another PC is not locked out.
    QCOMPARE(m_fx->login(attacker, QStringLiteral("grace"), QStringLiteral("pw-grace")),
             QStringLiteral("TOO_MANY_ATTEMPTS"));
    QCOMPARE(m_fx->login(m_fx->client(71), QStringLiteral("grace"), QStringLiteral("pw-grace")),
             QStringLiteral("PASS"));
}

void TestSessions::idleSessionsAndLatePasswordChangesEnd()
{
    // A server of its own whose limits run out within the test: sessions idle out after 1.2 s and,
    // without the current password (which the library allows here), a password may be changed only in
    // the first 0.6 s after a login; no address sessions at all.
    ServerProcess quick{QStringLiteral(SERVER_BINARY)};
    quick.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    quick.setSetting(QStringLiteral("security/sessionIdleMinutes"), 0.02);
    quick.setSetting(QStringLiteral("security/passwordChangeMinutes"), 0.01);
    quick.setSetting(QStringLiteral("security/addressSessions"), false);
    quick.setSetting(QStringLiteral("security/addressPasswordChange"), true);
    QVERIFY2(quick.start(), qPrintable(quick.errorText()));
    ServerFixture fx(quick);
    const WireClient pc = fx.client(1);
    const QString password = QString::fromLatin1(ServerFixture::AdminPassword);

    // Token-only: a documented login succeeds but authorises nothing.
    QCOMPARE(fx.login(pc, QStringLiteral("admin"), password), QStringLiteral("PASS"));
    QCOMPARE(pc.send(SearchUserQuery{QStringLiteral("admin")}).frames.size(), 0);

    QString token = tokenLogin(pc, QStringLiteral("admin"), password);
    QCOMPARE(pc.send(SearchUserQuery{QStringLiteral("admin")}, token).frames.size(), 1);
    QTest::qWait(800);
    QCOMPARE(update(pc, QStringLiteral("admin"), QStringLiteral("too-late"), token), QStringLiteral("LOGIN_AGAIN"));
    QTest::qWait(1500);
    QCOMPARE(pc.send(SearchUserQuery{QStringLiteral("admin")}, token).word(), Wire::word(Refusal::SessionExpired));
    QVERIFY(quick.stop());
}

QTEST_GUILESS_MAIN(TestSessions)
#include "tst_sessions.moc"
