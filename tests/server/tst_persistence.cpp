#include "serverfixture.h"

#include <QFile>

// What the server keeps on disk: everything survives a restart, and no password is stored readable.
class TestPersistence : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void restartKeepsAccountsBooksAndLoans();
    void noPasswordInTheDatabaseFiles();
    void generatedAdministratorPasswordIsPrintedOnceAndMustBeChanged();
    void seedCatalogueReportsBadRowsAndImportsOnce();
    void unusableDatabaseEndsTheServer();
};

void TestPersistence::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
}

void TestPersistence::restartKeepsAccountsBooksAndLoans()
{
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    ServerFixture fx(server);
    WireClient admin = fx.client(1);
    QCOMPARE(fx.login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    QCOMPARE(admin
                 .send(AddBookQuery{QStringLiteral("围城"), QStringLiteral("钱钟书"), QStringLiteral("小说"),
                                    QStringLiteral("P-1"), QStringLiteral("1947"), QStringLiteral("晨光出版公司"),
                                    QStringLiteral("Undergraduate")})
                 .word(),
             Reply::AddBookSuccessfully);
    QVERIFY(fx.createUser(admin, QStringLiteral("keeper"), QStringLiteral("pw-keeper"), Levels::Postgraduate));
    WireClient keeper = fx.client(2);
    QCOMPARE(fx.login(keeper, QStringLiteral("keeper"), QStringLiteral("pw-keeper")), QStringLiteral("PASS"));
    QCOMPARE(keeper.send(BorrowBookQuery{BookRecord::from(fx.bookRow(QStringLiteral("P-1"))), QStringLiteral("keeper")})
                 .word(),
             Reply::BorrowBookSuccessfully);
    const QList<QStringList> loansBefore = keeper.send(UserBorrowBookQuery{QStringLiteral("keeper")}).frames;
    const QStringList userBefore = fx.userRow(admin, QStringLiteral("keeper"));
    QCOMPARE(loansBefore.size(), 1);

    QVERIFY(server.stop());
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    admin = fx.client(1);
    keeper = fx.client(2);

    QCOMPARE(fx.bookRow(QStringLiteral("P-1")).value(6), BookState::lentOut());
    // A server alone on SQLite keeps sessions in memory: after a restart everyone logs in again. Servers
    // sharing a PostgreSQL database keep them there, so a restart of one server logs nobody out.
    QCOMPARE(keeper.send(UserBorrowBookQuery{QStringLiteral("keeper")}).frames.size(), server.usesPostgres() ? 1 : 0);
    QCOMPARE(fx.login(keeper, QStringLiteral("keeper"), QStringLiteral("pw-keeper")), QStringLiteral("PASS"));
    QCOMPARE(keeper.send(UserBorrowBookQuery{QStringLiteral("keeper")}).frames, loansBefore);
    QCOMPARE(fx.login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    QCOMPARE(fx.userRow(admin, QStringLiteral("keeper")), userBefore);
    QCOMPARE(keeper.send(ReturnBookQuery{LoanRecord::from(loansBefore.first()), QStringLiteral("keeper")}).word(),
             Reply::ReturnBookSuccessfully);
    QVERIFY(server.stop());
}

void TestPersistence::noPasswordInTheDatabaseFiles()
{
    const QString adminPassword = QStringLiteral("Admin-Plain-7731");
    const QString first = QStringLiteral("Reader-Plain-4412");
    const QString second = QStringLiteral("Reader-Plain-9925");
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    server.setSetting(QStringLiteral("admin/initialPassword"), adminPassword);
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    ServerFixture fx(server);
    QCOMPARE(fx.registerUser(QStringLiteral("secretive"), first), QStringLiteral("REGISTER_SUCCESSFULLY"));
    WireClient c = fx.client(1);
    QCOMPARE(fx.loginWithToken(c, QStringLiteral("secretive"), first), QStringLiteral("PASS"));
    UserUpdateQuery change{QStringLiteral("secretive"), second, {}, {}, {}, {}};
    change.currentPassword = first;
    QCOMPARE(c.send(change).word(), Reply::UpdateSuccessfully);

    // Read what is stored while the server runs (the write-ahead log still holds the changes) and after.
    for (int pass = 0; pass < 2; ++pass) {
        const QByteArray bytes = server.storedBytes();
        QVERIFY(bytes.contains("$argon2id$"));
        for (const QString& password : {adminPassword, first, second}) {
            QVERIFY2(!bytes.contains(password.toUtf8()), qPrintable(password));
            const QByteArray utf16(reinterpret_cast<const char*>(password.utf16()), password.size() * 2);
            QVERIFY2(!bytes.contains(utf16), qPrintable(password));
        }
        if (pass == 0)
            QVERIFY(server.stop());
    }
    // Nor in the log.
    for (const QString& line : server.output()) {
        for (const QString& password : {first, second})
            QVERIFY2(!line.contains(password), qPrintable(line));
    }
}

void TestPersistence::generatedAdministratorPasswordIsPrintedOnceAndMustBeChanged()
{
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    server.setSetting(QStringLiteral("admin/id"), QStringLiteral("chief"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const QString password = server.generatedAdminPassword();
    QVERIFY(password.size() >= 12);
    ServerFixture fx(server);
    const WireClient::Reply reply = fx.client(1).send(LoginQuery{QStringLiteral("chief"), password});
    QCOMPARE(reply.word(), QStringLiteral("PASS"));
    QCOMPARE(Reply::accountAfterPass(reply.frames.first()).value_or(QStringList()).value(2),
             QStringLiteral("Super Admin"));
    QVERIFY(server.stop());

    const int linesBefore = int(server.output().size());
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    for (const QString& line : server.output().mid(linesBefore))
        QVERIFY2(!line.contains(QLatin1String("admin password")) && !line.contains(password), qPrintable(line));
    // A reader served from the same address before: what was learnt of the reader's password says
    // nothing of the next login there.
    const WireClient chief = fx.client(1);
    QCOMPARE(fx.registerUser(QStringLiteral("reader"), QStringLiteral("Reader-Pw-1")),
             QStringLiteral("REGISTER_SUCCESSFULLY"));
    QCOMPARE(fx.login(chief, QStringLiteral("reader"), QStringLiteral("Reader-Pw-1")), QStringLiteral("PASS"));
    QCOMPARE(chief.send(UserBorrowBookQuery{QStringLiteral("reader")}).word(), QString());
    QCOMPARE(fx.login(chief, QStringLiteral("chief"), password), QStringLiteral("PASS"));

    // The printed password serves for choosing another and for nothing else: an update that keeps it
    // is served, but lifts nothing.
    const QList<QByteArray> refused{
        Wire::encodeRequest(SearchUserQuery{QString()}),
        Wire::encodeRequest(AddBookQuery{QStringLiteral("T"), {}, {}, QStringLiteral("N-1"), {}, {}, {}}),
        Wire::encodeRequest(UserBorrowBookQuery{QStringLiteral("chief")})};
    QCOMPARE(chief.send(UserUpdateQuery{QStringLiteral("chief"), {}, QStringLiteral("Chief"), {}, {}, {}}).word(),
             Reply::UpdateSuccessfully);
    for (const QByteArray& request : refused)
        QCOMPARE(chief.sendBytes(request).word(), QStringLiteral("PASSWORD_CHANGE_REQUIRED"));
    // Our client: with a token and the current password.
    WireClient chiefClient = fx.client(1);
    QCOMPARE(fx.loginWithToken(chiefClient, QStringLiteral("chief"), password), QStringLiteral("PASS"));
    UserUpdateQuery choose{QStringLiteral("chief"), QStringLiteral("Chief-Chosen-1"), {}, {}, {}, {}};
    choose.currentPassword = password;
    QCOMPARE(chiefClient.send(choose).word(), Reply::UpdateSuccessfully);
    QCOMPARE(chiefClient.send(SearchUserQuery{QStringLiteral("chief")}).frames.size(), 1);
    QVERIFY(server.stop());
}

void TestPersistence::seedCatalogueReportsBadRowsAndImportsOnce()
{
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    QVERIFY(server.writeFile(QStringLiteral("seed.csv"),
                             "number,title,permission,author,type,publisher,year\n"
                             "S1,Good One,VIP,A,T,P,2001\n"
                             "S2,Missing fields\n"
                             ",No Number,VIP,A,T,P,2001\n"
                             "S3,Bad Level,Emperor,A,T,P,2001\n"
                             "S1,Duplicate,VIP,A,T,P,2001\n"
                             "S4,\"Two\nLines\",研究生,A,T,P,2001\n"
                             "S5,After,Undergraduate,A,T,P,2001\n"));
    server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    server.setSetting(QStringLiteral("admin/initialPassword"), QStringLiteral("pw"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QVERIFY(server.waitForOutput(QStringLiteral("imported 3 books")));
    const QString log = server.output().join(QLatin1Char('\n'));
    for (const char* expected : {"line 3:", "line 4:", "line 5: unknown permission", "line 6: book number S1"})
        QVERIFY2(log.contains(QLatin1String(expected)), expected);
    ServerFixture fx(server);
    QCOMPARE(fx.bookRow(QStringLiteral("S4")).value(0), QStringLiteral("Two\nLines"));
    QCOMPARE(fx.bookRow(QStringLiteral("S4")).value(7), QStringLiteral("Postgraduate"));
    QCOMPARE(fx.bookRow(QStringLiteral("S5")).value(0), QStringLiteral("After"));
    QVERIFY(server.stop());

    // The catalogue is no longer empty: the seed is not read again.
    const int linesBefore = int(server.output().size());
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    for (const QString& line : server.output().mid(linesBefore))
        QVERIFY2(!line.contains(QLatin1String("seed catalogue")), qPrintable(line));
    QCOMPARE(fx.client().send(BookQuery{}).frames.size(), 3);
    QVERIFY(server.stop());
}

void TestPersistence::unusableDatabaseEndsTheServer()
{
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    // A file in a directory that does not exist, or a PostgreSQL database that does not.
    const QString name =
        server.usesPostgres() ? QStringLiteral("no_such_library") : QStringLiteral("no-such-dir/library.db");
    server.setSetting(QStringLiteral("database/name"), name);
    QVERIFY(!server.start());
    QVERIFY(!server.isRunning());
    QVERIFY(server.exitCode() != 0);
    QStringList reasons;
    for (const QString& line : server.output()) {
        if (line.contains(QLatin1String("cannot open the database")))
            reasons.append(line);
    }
    QCOMPARE(reasons.size(), 1);
    QVERIFY2(reasons.first().contains(name), qPrintable(reasons.first()));
}

QTEST_GUILESS_MAIN(TestPersistence)
#include "tst_persistence.moc"
