#include "logindialog.h"
#include "refusals.h"
#include "userinfoupdatedialog.h"
#include "windowtesting.h"

#include <QMenu>

using namespace WindowTesting;

// Login and logout of the main window against a scripted server.
class TestLogin : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(ServerAndBoxes | ShownWindow); }
    void cleanup() { tearDown(); }
    void startsAsGuest();
    void requestFields_data();
    void requestFields();
    void replyWord_data();
    void replyWord();
    void adminMenuByLevel_data();
    void adminMenuByLevel();
    void logoutReturnsToGuest();
    void adminLogoutThenReaderKeepsMenuDisabled();
    void replyAndEndOfStreamInOneReadCloseTheConnection();
    void endOfStreamArrivingAloneIsRead();
    void passWithoutRecordIsNotALogin();
    void secondPressRestartsTheExchange();
    void refusedConnection();
    void generatedPasswordOpensTheFormAtOnce();

private:
    QAction* action(const char* name) { return widget<QAction>(window.get(), name); }
    QMenu* adminMenu() { return widget<QMenu>(window.get(), "menuAdmin"); }
};

void TestLogin::startsAsGuest()
{
    QCOMPARE(window->windowTitle(), QStringLiteral("Welcome!"));
    QCOMPARE(window->currentUser().permission, QStringLiteral("public"));
    QVERIFY(action("actionLogin")->isEnabled());
    QVERIFY(!action("actionInfo")->isEnabled());
    QVERIFY(!action("actionBorrowBook")->isEnabled());
    QVERIFY(!adminMenu()->isEnabled());

    action("actionLogin")->trigger();
    LoginDialog* dialog = newest<LoginDialog>(window.get());
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Login"));
    QCOMPARE(dialog->passwordEdit->echoMode(), QLineEdit::Password);
    QVERIFY(dialog->testAttribute(Qt::WA_ShowModal));
    dialog->cancelButton->click();
    QVERIFY(!dialog->isVisible());
}

void TestLogin::requestFields_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");
    QTest::newRow("plain") << "alice"
                           << "secret";
    QTest::newRow("both empty") << ""
                                << "";
    QTest::newRow("unicode and spaces") << "王 小明"
                                        << " p w ";
}

void TestLogin::requestFields()
{
    QFETCH(QString, id);
    QFETCH(QString, password);
    server->addFrames({{"WRONG_ID"}});
    pressLogin(*window, id, password);
    QTRY_COMPARE(server->requests().size(), 1);
    // The login asks for a session token.
    QCOMPARE(server->requests().first(), (QStringList{"QUERY_USER_LOGIN", id, password, "SESSION"}));
}

void TestLogin::replyWord_data()
{
    QTest::addColumn<QStringList>("reply");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("loggedIn");
    QTest::newRow("PASS") << (QStringList{"PASS"} + account("alice", "Alice Liddell", "VIP"))
                          << "PASS!|Login successfully!" << true;
    QTest::newRow("WRONG_ID") << QStringList{"WRONG_ID"} << "Error!|Wrong user name!" << false;
    QTest::newRow("WRONG_PASSWORD") << QStringList{"WRONG_PASSWORD"} << "Error!|Wrong password!" << false;
    QTest::newRow("empty word") << QStringList{""} << "Error!|Wrong password!" << false;
    QTest::newRow("lower-case pass") << QStringList{"pass"} << "Error!|Wrong password!" << false;
}

void TestLogin::replyWord()
{
    QFETCH(QStringList, reply);
    QFETCH(QString, box);
    QFETCH(bool, loggedIn);
    server->addFrames({reply});
    pressLogin(*window, "alice", "pw");
    LoginDialog* dialog = newest<LoginDialog>(window.get());
    QTRY_COMPARE(boxes->seen(), QStringList{box});

    QCOMPARE(dialog->isVisible(), !loggedIn);
    QCOMPARE(action("actionLogin")->isEnabled(), !loggedIn);
    QCOMPARE(action("actionInfo")->isEnabled(), loggedIn);
    QCOMPARE(action("actionBorrowBook")->isEnabled(), loggedIn);
    QVERIFY(!adminMenu()->isEnabled());
    if (loggedIn) {
        QCOMPARE(window->windowTitle(), QStringLiteral("Welcome Alice Liddell!"));
        QCOMPARE(window->currentUser().id, QStringLiteral("alice"));
        QCOMPARE(window->currentUser().userInfo, QStringLiteral("about me"));
    } else {
        QCOMPARE(window->windowTitle(), QStringLiteral("Welcome!"));
        QCOMPARE(window->currentUser().id, QStringLiteral("Guest"));
        // The form keeps its contents for another try.
        QCOMPARE(dialog->userNameEdit->text(), QStringLiteral("alice"));
    }
}

void TestLogin::adminMenuByLevel_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<bool>("admin");
    QTest::newRow("Super Admin") << "Super Admin" << true;
    QTest::newRow("Administrator") << "Administrator" << true;
    QTest::newRow("VIP") << "VIP" << false;
    QTest::newRow("Postgraduate") << "Postgraduate" << false;
    QTest::newRow("Undergraduate") << "Undergraduate" << false;
    QTest::newRow("Guest") << "Guest" << false;
    QTest::newRow("not a level") << "administrator" << false;
}

void TestLogin::adminMenuByLevel()
{
    QFETCH(QString, level);
    QFETCH(bool, admin);
    QVERIFY(logIn(*window, *server, *boxes, "u", level));
    QCOMPARE(adminMenu()->isEnabled(), admin);
    QVERIFY(action("actionInfo")->isEnabled());
    QVERIFY(action("actionBorrowBook")->isEnabled());
}

void TestLogin::logoutReturnsToGuest()
{
    QVERIFY(logIn(*window, *server, *boxes, "root", "Super Admin"));
    QVERIFY(adminMenu()->isEnabled());
    action("actionLogout")->trigger();
    QCOMPARE(window->windowTitle(), QStringLiteral("Welcome!"));
    QCOMPARE(window->currentUser().id, QStringLiteral("Guest"));
    QCOMPARE(window->currentUser().permission, QStringLiteral("public"));
    QVERIFY(action("actionLogin")->isEnabled());
    QVERIFY(!action("actionInfo")->isEnabled());
    QVERIFY(!action("actionBorrowBook")->isEnabled());
    QVERIFY(!adminMenu()->isEnabled());
    // Logout tells the server, once.
    QTRY_COMPARE(server->connectionCount(), 2);
    QCOMPARE(server->requests().last(), (QStringList{"QUERY_USER_LOGOUT", "root"}));

    // Logging out again as a guest changes nothing and sends nothing.
    action("actionLogout")->trigger();
    QTest::qWait(50);
    QCOMPARE(server->connectionCount(), 2);
    QCOMPARE(window->windowTitle(), QStringLiteral("Welcome!"));
    QVERIFY(action("actionLogin")->isEnabled());
}

void TestLogin::adminLogoutThenReaderKeepsMenuDisabled()
{
    QVERIFY(logIn(*window, *server, *boxes, "root", "Administrator"));
    // The windows that show readers' data close with the login: the next person at the PC sees none.
    for (const char* name : {"actionDesk", "actionOverdue", "actionAudit", "actionBorrowBook"})
        action(name)->trigger();
    const auto openDialogs = [&] {
        int open = 0;
        for (QDialog* dialog : window->findChildren<QDialog*>())
            open += dialog->isVisible() ? 1 : 0;
        return open;
    };
    QCOMPARE(openDialogs(), 4);
    QTRY_COMPARE(server->requests().size(), 4); // the login, then what three of the windows load
    action("actionLogout")->trigger();
    QTRY_COMPARE(openDialogs(), 0);
    QVERIFY(logIn(*window, *server, *boxes, "reader", "Postgraduate"));
    QVERIFY(!adminMenu()->isEnabled());
    QCOMPARE(window->windowTitle(), QStringLiteral("Welcome reader Name!"));
}

// The reply word and the end-of-stream frame usually arrive together. Both are read: the connection
// closes with the reply instead of staying open until more bytes come.
void TestLogin::replyAndEndOfStreamInOneReadCloseTheConnection()
{
    addOpenReply(*server, {{"WRONG_ID"}});
    QTest::ignoreMessage(QtDebugMsg, "Recive End   65535");
    pressLogin(*window, "x", "y");
    QTRY_COMPARE(boxes->seen(), QStringList{"Error!|Wrong user name!"});
    QTRY_COMPARE(server->closedCount(), 1);
}

void TestLogin::endOfStreamArrivingAloneIsRead()
{
    server->addReply({frameOf(QStringList{"PASS"} + account("bob", "Bob", "VIP")), Wire::endOfStreamFrame()}, false);
    QTest::ignoreMessage(QtDebugMsg, "Recive End   65535");
    pressLogin(*window, "bob", "pw");
    QTRY_COMPARE(boxes->seen(), QStringList{"PASS!|Login successfully!"});
    QTRY_COMPARE(server->closedCount(), 1);
}

// "PASS" without the account record behind it must not log anybody in with an empty record.
void TestLogin::passWithoutRecordIsNotALogin()
{
    server->addFrames({{"PASS", "alice", "Alice"}});
    QTest::ignoreMessage(QtDebugMsg, "Login reply without an account record ignored");
    QTest::ignoreMessage(QtDebugMsg, "Recive End   65535");
    pressLogin(*window, "alice", "pw");
    QTRY_COMPARE(server->closedCount(), 1);
    QCOMPARE(window->currentUser().id, QStringLiteral("Guest"));
    QVERIFY(action("actionLogin")->isEnabled());
    QVERIFY(boxes->seen().isEmpty());
}

// A second press while the first exchange is open starts over with the current form: the first
// connection is dropped and only the second reply is acted on.
void TestLogin::secondPressRestartsTheExchange()
{
    server->addSilence();
    server->addFrames({QStringList{"PASS"} + account("carol", "Carol", "VIP")});
    pressLogin(*window, "first", "pw1");
    QTRY_COMPARE(server->requests().size(), 1);
    LoginDialog* dialog = newest<LoginDialog>(window.get());
    dialog->userNameEdit->setText("carol");
    dialog->passwordEdit->setText("pw2");
    dialog->loginButton->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"PASS!|Login successfully!"});
    QCOMPARE(server->requests().at(1), (QStringList{"QUERY_USER_LOGIN", "carol", "pw2", "SESSION"}));
    QCOMPARE(window->currentUser().id, QStringLiteral("carol"));
    // The silent first connection was closed by the client.
    QTRY_VERIFY(server->closedCount() >= 1);
}

// A login with a generated password says so at once and opens the form; no request is refused first.
void TestLogin::generatedPasswordOpensTheFormAtOnce()
{
    server->addFrames({QStringList{"PASS"} + account("alice", "Alice Liddell", "VIP"),
                       {"SESSION", "t0k"},
                       {"PASSWORD_CHANGE_REQUIRED"}});
    pressLogin(*window, "alice", "one-time");
    QTRY_COMPARE(boxes->seen(),
                 (QStringList{"PASS!|Login successfully!", "Error!|" + Refusals::message("PASSWORD_CHANGE_REQUIRED")}));
    QTRY_VERIFY(newest<UserInfoUpdateDialog>(window.get()) && newest<UserInfoUpdateDialog>(window.get())->isVisible());
    // Nothing but the login was asked (the form's read of the reminder choice is off the record).
    QCOMPARE(server->requests().size(), 1);
}

void TestLogin::refusedConnection()
{
    writeRefusedAddress();
    pressLogin(*window, "alice", "pw");
    QTRY_COMPARE(boxes->seen(), QStringList{refusedBox});
    QVERIFY(newest<LoginDialog>(window.get())->isVisible());
    QCOMPARE(window->currentUser().id, QStringLiteral("Guest"));

    // The next press tries again.
    newest<LoginDialog>(window.get())->loginButton->click();
    QTRY_COMPARE(boxes->boxes().size(), 2);
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
