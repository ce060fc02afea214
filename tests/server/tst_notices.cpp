#include "serverfixture.h"
#include "smtprecorder.h"

#include <QJsonObject>
#include <QProcess>
#include <QSettings>

// Notices end to end: the test server (whose clock the test moves) scans and mails through a real SMTP
// server on loopback (aiosmtpd), and every message is parsed back with Python's email module. Each
// case has readers of its own, so that what the others are told does not count.
class TestNotices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void dueSoonOnceListingEveryBook();
    void overdueStepsThenNoMore();
    void holdReadyWithPickupDeadline();
    void smtpDownThenUpLosesNothingAndSendsNoStaleNotice();
    void lettersAndOptOut();
    void dryRunChangesNothing();
    void twoServersOnOnePostgresDatabase();

private:
    // A client at the reader's own address, logged in (a moved clock ends every session).
    WireClient as(const QString& id) const;
    WireClient::Reply send(const QString& id, const QStringList& request) const;
    void borrow(const QString& id, const QString& number) const;
    void moveDays(double days);
    QJsonArray mailTo(const QString& id) const { return m_smtp.messagesTo(id + QStringLiteral("@example.org")); }
    // The notice rows staff see, optionally of one state and one reader.
    QList<QStringList> noticeRows(const QString& state, const QString& id) const;
    // Long enough for a few scans and sending rounds (each second) to have run.
    static void letScansRun() { QTest::qWait(3500); }

    SmtpRecorder m_smtp;
    ServerProcess m_server{QStringLiteral(TEST_SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
    QHash<QString, int> m_address;
};

namespace {

constexpr qint64 Day = 24 * 3600;
const QString Library = QStringLiteral("星光图书馆 Starlight Library");
// Set, and never used: the test's mail server offers no login without TLS, and the user is empty.
constexpr const char* SmtpPassword = "Smtp-Secret-9";

QStringList ask(QLatin1String code, const QStringList& fields = {})
{
    return QStringList{QString(code)} + fields;
}

QString text(const QJsonValue& message, const char* field)
{
    return message.toObject().value(QLatin1String(field)).toString();
}

} // namespace

void TestNotices::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    if (const QString reason = SmtpRecorder::unavailableReason(); !reason.isEmpty())
        QFAIL(qPrintable(reason));
    QVERIFY(m_smtp.start());
    QByteArray seed = "title,author,type,publisher,year,number,permission\n";
    for (int i = 1; i <= 14; ++i)
        seed += "通知测试 Notice " + QByteArray::number(i) + ",Anon,Test,Self,2000,N" + QByteArray::number(i)
            + ",Undergraduate\n";
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"), seed));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    m_server.setSetting(QStringLiteral("notices/enabled"), true);
    m_server.setSetting(QStringLiteral("notices/smtpUrl"), m_smtp.url());
    m_server.setSetting(QStringLiteral("notices/allowPlainSmtp"), true);
    m_server.setSetting(QStringLiteral("notices/from"), QStringLiteral("desk@library.example.org"));
    m_server.setSetting(QStringLiteral("notices/libraryName"), Library);
    m_server.setSetting(QStringLiteral("notices/scanSeconds"), 1);
    m_server.setSetting(QStringLiteral("notices/smtpPassword"), QString::fromLatin1(SmtpPassword));
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    const WireClient admin = m_fx->client(1);
    QCOMPARE(m_fx->login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    int address = 2;
    for (const char* id : {"ann", "bob", "cid", "dan", "eve", "fay", "hal", "ivy", "jon"}) {
        QVERIFY(m_fx->createUser(admin, QLatin1String(id), QStringLiteral("pw-") + QLatin1String(id),
                                 Levels::Undergraduate));
        m_address.insert(QLatin1String(id), address++);
    }
    // A reader without an e-mail address, confirmed like the others.
    const UserRegisterQuery gil{QStringLiteral("gil"), QStringLiteral("pw-gil"), QStringLiteral("Gil"), {}, {}, {}, {}};
    QCOMPARE(m_fx->client(250).send(gil).word(), QStringLiteral("REGISTER_SUCCESSFULLY"));
    QCOMPARE(admin.send(EscalateUserQuery{{QStringLiteral("gil"), QStringLiteral("Guest")}}).word(),
             QString(Reply::EscalateUserSuccessfully));
    m_address.insert(QStringLiteral("gil"), address++);
    m_address.insert(QStringLiteral("admin"), 1);
}

void TestNotices::cleanupTestCase()
{
    QVERIFY(m_server.stop());
    // The SMTP password is never logged.
    QVERIFY(!m_server.output().join(QLatin1Char('\n')).contains(QLatin1String(SmtpPassword)));
}

WireClient TestNotices::as(const QString& id) const
{
    const WireClient c = m_fx->client(m_address.value(id));
    const QString password =
        id == QLatin1String("admin") ? QString::fromLatin1(ServerFixture::AdminPassword) : QStringLiteral("pw-") + id;
    [&] { QCOMPARE(m_fx->login(c, id, password), QStringLiteral("PASS")); }();
    return c;
}

WireClient::Reply TestNotices::send(const QString& id, const QStringList& request) const
{
    return as(id).sendBytes(Wire::encodeFrame(request));
}

void TestNotices::borrow(const QString& id, const QString& number) const
{
    const QStringList request = QStringList{QString(Query::BorrowBook)}
        + BookRecord{{}, {}, {}, {}, {}, number, {}, {}}.fields() + QStringList{id};
    QCOMPARE(send(id, request).word(), QString(Reply::BorrowBookSuccessfully));
}

void TestNotices::moveDays(double days)
{
    QVERIFY(m_server.advanceClock(qint64(days * Day)));
}

QList<QStringList> TestNotices::noticeRows(const QString& state, const QString& id) const
{
    QList<QStringList> rows;
    for (const QStringList& frame : send(QStringLiteral("admin"), ask(Query::Notices, {state, id})).frames) {
        if (const std::optional<QStringList> row = Reply::rowOf(frame, Reply::NoticeRowSize))
            rows.append(*row);
    }
    return rows;
}

void TestNotices::dueSoonOnceListingEveryBook()
{
    for (const char* number : {"N1", "N2", "N3", "N4"})
        borrow(QStringLiteral("ann"), QLatin1String(number));
    // Due in 30 days: nothing 4 days before, one e-mail for the four books 3 days before.
    moveDays(26);
    letScansRun();
    QCOMPARE(mailTo(QStringLiteral("ann")).size(), 0);
    moveDays(1.1);
    QTRY_COMPARE_WITH_TIMEOUT(mailTo(QStringLiteral("ann")).size(), 1, 20000);
    const QJsonValue mail = mailTo(QStringLiteral("ann")).first();
    QCOMPARE(text(mail, "contentType"), QStringLiteral("text/plain"));
    QCOMPARE(text(mail, "charset"), QStringLiteral("utf-8"));
    QCOMPARE(mail.toObject().value(QLatin1String("defects")).toInt(), 0);
    QCOMPARE(text(mail, "subject"), Library + QStringLiteral("：借阅图书即将到期 / Books due soon"));
    QVERIFY2(text(mail, "from").contains(Library), qPrintable(text(mail, "from")));
    const QString body = text(mail, "body");
    QVERIFY2(body.contains(QStringLiteral("ann name，您好")) && body.contains(QStringLiteral("Dear ann name,"))
                 && body.contains(QStringLiteral("您借阅的下列图书即将到期"))
                 && body.contains(QStringLiteral("The books below that you borrowed are due soon")),
             qPrintable(body));
    for (const char* number : {"N1", "N2", "N3", "N4"})
        QCOMPARE(body.count(QStringLiteral("通知测试 Notice %1 (%2)").arg(QLatin1String(number).mid(1), number)), 2);
    QVERIFY(!body.contains(QLatin1String("(N5)")));
    // The log names the message it sent.
    QVERIFY(m_server.waitForOutput(QStringLiteral("notice sent: DUE_SOON to ann (4 books), message id ")
                                   + text(mail, "messageId")));

    // More scans, then a restart: still the one e-mail.
    letScansRun();
    QVERIFY(m_server.stop());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    letScansRun();
    QCOMPARE(mailTo(QStringLiteral("ann")).size(), 1);
    QCOMPARE(noticeRows(QString(Notice::Sent), QStringLiteral("ann")).size(), 4);
}

void TestNotices::overdueStepsThenNoMore()
{
    borrow(QStringLiteral("bob"), QStringLiteral("N5"));
    // Past the due-soon window at once (none is sent for a loan already overdue), then day by day.
    const struct {
        double days; // since the loan was made
        int overdue; // overdue e-mails by then
    } steps[] = {{30.05, 0}, {31.1, 1}, {35, 1}, {38.1, 2}, {45.1, 3}, {52.1, 3}, {70, 3}};
    double at = 0;
    for (const auto& step : steps) {
        moveDays(step.days - at);
        at = step.days;
        if (step.overdue > 0)
            QTRY_COMPARE_WITH_TIMEOUT(mailTo(QStringLiteral("bob")).size(), step.overdue, 20000);
        letScansRun();
        QCOMPARE(mailTo(QStringLiteral("bob")).size(), step.overdue);
    }
    for (const QJsonValue& mail : mailTo(QStringLiteral("bob"))) {
        QCOMPARE(text(mail, "subject"), Library + QStringLiteral("：借阅图书已逾期 / Books overdue"));
        QVERIFY(text(mail, "body").contains(QStringLiteral("(N5)")));
    }
}

void TestNotices::holdReadyWithPickupDeadline()
{
    borrow(QStringLiteral("cid"), QStringLiteral("N6"));
    QCOMPARE(send(QStringLiteral("dan"), ask(Query::PlaceHold, {QStringLiteral("N6"), QStringLiteral("dan")})).word(),
             QString(Reply::PlaceHoldSuccessfully));
    letScansRun();
    QCOMPARE(mailTo(QStringLiteral("dan")).size(), 0);
    QCOMPARE(send(QStringLiteral("admin"), ask(Query::CheckinBook, {QStringLiteral("N6")})).word(),
             QString(Reply::ReturnBookSuccessfully));
    QTRY_COMPARE_WITH_TIMEOUT(mailTo(QStringLiteral("dan")).size(), 1, 20000);
    const QJsonValue mail = mailTo(QStringLiteral("dan")).first();
    QCOMPARE(text(mail, "subject"), Library + QStringLiteral("：您预约的图书可以取了 / Your reserved book is ready"));
    // The deadline as the reader's own holds list shows it, to the minute, in both languages.
    const QStringList hold =
        send(QStringLiteral("dan"), ask(Query::UserHolds, {QStringLiteral("dan")})).frames.value(0);
    const QString deadline = hold.value(4).left(16);
    QVERIFY(!deadline.isEmpty());
    const QString body = text(mail, "body");
    QVERIFY2(body.contains(QStringLiteral("请在 %1 之前到借阅台取书").arg(deadline))
                 && body.contains(QStringLiteral("collect them at the desk by %1").arg(deadline))
                 && body.contains(QStringLiteral("(N6)")),
             qPrintable(body));
    letScansRun();
    QCOMPARE(mailTo(QStringLiteral("dan")).size(), 1);
}

void TestNotices::smtpDownThenUpLosesNothingAndSendsNoStaleNotice()
{
    m_smtp.stop();
    borrow(QStringLiteral("eve"), QStringLiteral("N7"));
    borrow(QStringLiteral("fay"), QStringLiteral("N8"));
    moveDays(27.5);
    // Queued, tried, failing with the reason.
    QTRY_VERIFY_WITH_TIMEOUT(!noticeRows(QString(Notice::Queued), QStringLiteral("fay")).value(0).value(7).isEmpty(),
                             20000);
    QCOMPARE(noticeRows(QString(Notice::Queued), QStringLiteral("fay")).value(0).value(5),
             QStringLiteral("fay@example.org"));
    // A day later it shows as failed; staff may ask for it to be sent again.
    moveDays(1.05);
    QTRY_COMPARE_WITH_TIMEOUT(noticeRows(QString(Notice::Failed), QStringLiteral("fay")).size(), 1, 20000);
    const QString failed = noticeRows(QString(Notice::Failed), QStringLiteral("fay")).value(0).value(0);
    QCOMPARE(send(QStringLiteral("admin"), ask(Query::ResendNotice, {failed})).word(),
             QString(Reply::ResendNoticeSuccessfully));
    QCOMPARE(send(QStringLiteral("admin"), ask(Query::ResendNotice, {QStringLiteral("999999")})).word(),
             Wire::word(Refusal::NoSuchNotice));
    QCOMPARE(send(QStringLiteral("fay"), ask(Query::ResendNotice, {failed})).word(),
             Wire::word(Refusal::AdminRequired));
    // Eve brings her book back while the mail server is away: her reminder is no longer true.
    const QStringList giveBack = QStringList{QString(Query::ReturnBook)}
        + LoanRecord{{}, {}, {}, {}, {}, QStringLiteral("N7"), {}}.fields() + QStringList{QStringLiteral("eve")};
    QCOMPARE(send(QStringLiteral("eve"), giveBack).word(), QString(Reply::ReturnBookSuccessfully));

    QVERIFY(m_smtp.start());
    moveDays(0.05); // past the longest retry delay, an hour
    QTRY_COMPARE_WITH_TIMEOUT(mailTo(QStringLiteral("fay")).size(), 1, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(noticeRows(QString(Notice::Obsolete), QStringLiteral("eve")).size(), 1, 20000);
    letScansRun();
    QCOMPARE(mailTo(QStringLiteral("fay")).size(), 1);
    QCOMPARE(mailTo(QStringLiteral("eve")).size(), 0);
    QVERIFY(m_server.waitForOutput(QStringLiteral("notice obsolete: DUE_SOON to eve, N7")));
    QVERIFY(m_server.waitForOutput(QStringLiteral("notice failed: DUE_SOON to fay (1 books), attempt 1: ")));
}

void TestNotices::lettersAndOptOut()
{
    // Hal wants no due-soon reminders; overdue ones come all the same. Gil has no e-mail: letters.
    const QStringList off = ask(Query::NoticePreference, {QStringLiteral("hal"), QString(Notice::Off)});
    QCOMPARE(send(QStringLiteral("hal"), off).word(), QString(Reply::NoticePreferenceSuccessfully));
    QCOMPARE(send(QStringLiteral("ivy"), off).word(), Wire::word(Refusal::NotLoggedIn));
    QCOMPARE(send(QStringLiteral("hal"), ask(Query::NoticePreference, {QStringLiteral("hal"), {}})).frames.value(0),
             (QStringList{QString(Reply::NoticePreference), QString(Notice::Off)}));
    borrow(QStringLiteral("hal"), QStringLiteral("N9"));
    borrow(QStringLiteral("gil"), QStringLiteral("N10"));
    moveDays(27.5);
    QTRY_COMPARE_WITH_TIMEOUT(noticeRows(QString(Notice::Letter), QStringLiteral("gil")).size(), 1, 20000);
    const QStringList letter = noticeRows(QString(Notice::Letter), QStringLiteral("gil")).first();
    QCOMPARE(letter.value(2), QString(Notice::DueSoon));
    QCOMPARE(letter.value(4), QStringLiteral("Gil"));
    QCOMPARE(letter.value(5), QString());
    letScansRun();
    QCOMPARE(mailTo(QStringLiteral("hal")).size(), 0);
    QCOMPARE(noticeRows(QString(), QStringLiteral("hal")).size(), 0);
    QCOMPARE(
        send(QStringLiteral("admin"), ask(Query::MarkLettersPrinted, {letter.value(0) + QStringLiteral(",x,")})).word(),
        QString(Reply::MarkLettersPrintedSuccessfully));
    QCOMPARE(noticeRows(QString(Notice::Printed), QStringLiteral("gil")).size(), 1);
    QCOMPARE(noticeRows(QString(Notice::Letter), QStringLiteral("gil")).size(), 0);

    moveDays(4);
    QTRY_COMPARE_WITH_TIMEOUT(mailTo(QStringLiteral("hal")).size(), 1, 20000);
    QVERIFY(text(mailTo(QStringLiteral("hal")).first(), "subject").contains(QStringLiteral("Books overdue")));
}

void TestNotices::dryRunChangesNothing()
{
    // On a stopped server, so that no scan of its own runs: it reports, and queues nothing.
    borrow(QStringLiteral("ivy"), QStringLiteral("N11"));
    QVERIFY(m_server.stop());
    moveDays(27.5);
    QProcess dry;
    dry.setWorkingDirectory(m_server.workDir());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LIBRARY_TEST_CLOCK_FILE"), m_server.filePath(QStringLiteral("test-clock")));
    dry.setProcessEnvironment(environment);
    dry.start(QStringLiteral(TEST_SERVER_BINARY), {QStringLiteral("--notices-dry-run")});
    QVERIFY(dry.waitForFinished(60000));
    const QString output = QString::fromUtf8(dry.readAllStandardOutput());
    QCOMPARE(dry.exitCode(), 0);
    QVERIFY2(
        output.contains(QStringLiteral("would queue DUE_SOON for ivy <ivy@example.org>: 通知测试 Notice 11 (N11)")),
        qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("would send DUE_SOON to ivy <ivy@example.org> (1 books): ")),
             qPrintable(output));
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    QTRY_COMPARE_WITH_TIMEOUT(mailTo(QStringLiteral("ivy")).size(), 1, 20000);
}

void TestNotices::twoServersOnOnePostgresDatabase()
{
    if (!m_server.usesPostgres())
        QSKIP("several servers share a PostgreSQL database only");
    ServerProcess second{QStringLiteral(TEST_SERVER_BINARY)};
    second.shareDatabaseWith(m_server);
    for (const char* key : {"notices/enabled", "notices/smtpUrl", "notices/allowPlainSmtp", "notices/from",
                            "notices/libraryName", "notices/scanSeconds"}) {
        const QString k = QLatin1String(key);
        second.setSetting(k, QSettings(m_server.filePath(QStringLiteral("server.ini")), QSettings::IniFormat).value(k));
    }
    QVERIFY(second.advanceClock(QDateTime::currentDateTime().secsTo(m_server.clockNow())));
    QVERIFY2(second.start(), qPrintable(second.errorText()));
    borrow(QStringLiteral("jon"), QStringLiteral("N12"));
    borrow(QStringLiteral("jon"), QStringLiteral("N13"));
    // Both servers scan and send every second from the same moment on.
    QVERIFY(second.advanceClock(qint64(27.5 * Day)));
    moveDays(27.5);
    QTRY_COMPARE_WITH_TIMEOUT(mailTo(QStringLiteral("jon")).size(), 1, 20000);
    letScansRun();
    letScansRun();
    QCOMPARE(mailTo(QStringLiteral("jon")).size(), 1);
    QCOMPARE(noticeRows(QString(), QStringLiteral("jon")).size(), 2);
    QVERIFY(second.stop());
}

QTEST_GUILESS_MAIN(TestNotices)
#include "tst_notices.moc"
