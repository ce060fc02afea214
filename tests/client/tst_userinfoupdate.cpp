#include "userinfoupdatedialog.h"
#include "refusals.h"
#include "windowtesting.h"

#include <QTextEdit>

// Not the whole namespace: `account` below names this file's account record.
using WindowTesting::ClientFixture;
using WindowTesting::Exchange;
using WindowTesting::logIn;
using WindowTesting::newest;
using WindowTesting::press;
using WindowTesting::Recorders;
using WindowTesting::refusedBox;
using WindowTesting::writeRefusedAddress;

// Personal information update: the form filled from the account, the request, and the account
// record after the answer.
class TestUserInfoUpdate : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { tearDown(); }

    void formShowsTheAccount();
    void confirmedUpdate_data();
    void confirmedUpdate();
    void mismatchedPasswordsSendNothing();
    void refusedUpdateWarnsAndChangesNothing_data();
    void refusedUpdateWarnsAndChangesNothing();
    void editsAfterConfirmAreNotSent();
    void answerAfterLogout();
    void refusedConnectionWarns();

private:
    UserInfoUpdateDialog* openForm();
    static void fill(UserInfoUpdateDialog* form, const QString& password, const QString& repeated, const QString& name,
                     const QString& phone, const QString& email, const QString& info);
    static void submit(UserInfoUpdateDialog* form) { press(form, "submitButton"); }
};

// The account every test logs in with, as the login reply carries it.
static const UserInfo account = UserInfo::fromRecord(WindowTesting::account("u1", "u1 Name", "VIP"));

void TestUserInfoUpdate::init()
{
    setUp(HiddenWindow);
    // The login has a server of its own, so each test's server sees only that test's requests.
    Exchange login;
    QVERIFY(logIn(*window, login.server, login.boxes, account.id, account.permission));
    QCOMPARE(window->currentUser().password, account.password);
}

UserInfoUpdateDialog* TestUserInfoUpdate::openForm()
{
    window->findChild<QAction*>("actionInfo")->trigger();
    return newest<UserInfoUpdateDialog>(window.get());
}

void TestUserInfoUpdate::fill(UserInfoUpdateDialog* form, const QString& password, const QString& repeated,
                              const QString& name, const QString& phone, const QString& email, const QString& info)
{
    form->findChild<QLineEdit*>("newPasswordEdit")->setText(password);
    // A new password goes with the current one.
    form->findChild<QLineEdit*>("currentPasswordEdit")
        ->setText(password.isEmpty() ? QString() : QStringLiteral("old-pass"));
    form->findChild<QLineEdit*>("repeatPasswordEdit")->setText(repeated);
    form->findChild<QLineEdit*>("nameEdit")->setText(name);
    form->findChild<QLineEdit*>("phoneNumberEdit")->setText(phone);
    form->findChild<QLineEdit*>("emailEdit")->setText(email);
    form->findChild<QTextEdit*>("userInfoEdit")->setPlainText(info);
}

void TestUserInfoUpdate::formShowsTheAccount()
{
    UserInfoUpdateDialog* form = openForm();
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QCOMPARE(form->windowTitle(), QString("User Information"));
    QVERIFY(form->testAttribute(Qt::WA_ShowModal));
    QCOMPARE(form->findChild<QLineEdit*>("nameEdit")->text(), account.name);
    QCOMPARE(form->findChild<QLineEdit*>("phoneNumberEdit")->text(), account.phoneNumber);
    QCOMPARE(form->findChild<QLineEdit*>("emailEdit")->text(), account.email);
    QCOMPARE(form->findChild<QTextEdit*>("userInfoEdit")->toPlainText(), account.userInfo);
    for (const char* name : {"newPasswordEdit", "repeatPasswordEdit"}) {
        auto* edit = form->findChild<QLineEdit*>(name);
        QVERIFY2(edit->text().isEmpty(), name);
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
    }
}

void TestUserInfoUpdate::confirmedUpdate_data()
{
    QTest::addColumn<QString>("newPassword");
    QTest::addColumn<QString>("storedPassword");
    // The client keeps no password of its own: the record stays as the login gave it.
    QTest::newRow("empty new password keeps the old one") << "" << account.password;
    QTest::newRow("new password, sent with the current one") << "n3w-pass" << account.password;
}

void TestUserInfoUpdate::confirmedUpdate()
{
    QFETCH(QString, newPassword);
    QFETCH(QString, storedPassword);
    Exchange exchange;
    exchange.server.addFrames({{"UPDATE_SUCCESSFULLY"}});

    UserInfoUpdateDialog* form = openForm();
    fill(form, newPassword, newPassword, "Alice B", "13911111111", "ab@y.org", "新的说明\nline 2");
    submit(form);
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);

    // The user ID comes from the account; the confirmation is not sent; the current password follows
    // a new one as one more field, before the token.
    QStringList request{"QUERY_USER_INFO_UPDATE", "u1", newPassword, "Alice B", "13911111111", "ab@y.org",
                        "新的说明\nline 2"};
    if (!newPassword.isEmpty())
        request << "old-pass"
                << ""; // then the token field, empty: this login got none
    QCOMPARE(exchange.server.requests(), QList<QStringList>{request});
    QCOMPARE(exchange.boxes.seen(), QStringList{"PASS|Update successfully!"});
    QVERIFY(!form->isVisible());
    const UserInfo& user = window->currentUser();
    QCOMPARE(user.password, storedPassword);
    QCOMPARE(user.name, QString("Alice B"));
    QCOMPARE(user.phoneNumber, QString("13911111111"));
    QCOMPARE(user.email, QString("ab@y.org"));
    QCOMPARE(user.userInfo, QString("新的说明\nline 2"));
    // Not editable here.
    QCOMPARE(user.id, account.id);
    QCOMPARE(user.studentNumber, account.studentNumber);
    QCOMPARE(user.permission, account.permission);

    // The next form shows the stored values.
    UserInfoUpdateDialog* next = openForm();
    QCOMPARE(next->findChild<QLineEdit*>("nameEdit")->text(), QString("Alice B"));
}

void TestUserInfoUpdate::mismatchedPasswordsSendNothing()
{
    Exchange exchange;
    exchange.server.addFrames({{"UPDATE_SUCCESSFULLY"}});

    UserInfoUpdateDialog* form = openForm();
    fill(form, "abcdef", "abcdeg", "Alice", "1", "e@x.org", "i");
    submit(form);
    // Lower-case "passwords" and "Error!", unlike the registration form.
    QCOMPARE(exchange.boxes.seen(), QStringList{"Error!|passwords are not same!"});
    QVERIFY(form->isVisible());
    QCOMPARE(window->currentUser().password, account.password);

    // Mend it: the first and only update the server sees is this one.
    form->findChild<QLineEdit*>("repeatPasswordEdit")->setText("abcdef");
    submit(form);
    QTRY_COMPARE(exchange.server.requests().size(), 1);
    QCOMPARE(exchange.server.connectionCount(), 1);
    QCOMPARE(exchange.server.requests().first().value(2), QString("abcdef"));
}

void TestUserInfoUpdate::refusedUpdateWarnsAndChangesNothing_data()
{
    QTest::addColumn<QString>("word");
    QTest::newRow("refusal word") << "UPDATE_FAIL";
    QTest::newRow("success word in lower case") << "update_successfully";
}

void TestUserInfoUpdate::refusedUpdateWarnsAndChangesNothing()
{
    QFETCH(QString, word);
    Exchange exchange;
    exchange.server.addFrames({{word}});

    UserInfoUpdateDialog* form = openForm();
    fill(form, "n3w-pass", "n3w-pass", "Mallory", "0", "m@z.org", "x");
    submit(form);
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.boxes.seen(), QStringList{"Error!|" + Refusals::message(word)});
    QVERIFY(form->isVisible());
    const UserInfo& user = window->currentUser();
    QCOMPARE(user.password, account.password);
    QCOMPARE(user.name, account.name);
    QCOMPARE(user.email, account.email);
}

void TestUserInfoUpdate::editsAfterConfirmAreNotSent()
{
    Exchange exchange;
    exchange.server.addFrames({{"UPDATE_SUCCESSFULLY"}});

    UserInfoUpdateDialog* form = openForm();
    fill(form, "", "", "Alice C", "1", "e@x.org", "i");
    submit(form);
    // Still connecting: the request is written later, but from what was captured on confirm.
    form->findChild<QLineEdit*>("nameEdit")->setText("changed later");
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.server.requests().first().value(3), QString("Alice C"));
    QCOMPARE(window->currentUser().name, QString("Alice C"));
}

void TestUserInfoUpdate::answerAfterLogout()
{
    Exchange exchange;
    exchange.server.addFrames({{"UPDATE_SUCCESSFULLY"}});

    UserInfoUpdateDialog* form = openForm();
    fill(form, "n3w-pass", "n3w-pass", "Alice D", "1", "e@x.org", "i");
    submit(form);
    // The user logs out before the answer arrives.
    window->findChild<QAction*>("actionLogout")->trigger();

    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.server.requests().first().value(1), account.id);
    QCOMPARE(exchange.boxes.seen(), QStringList{"PASS|Update successfully!"});
    // The account's changes are not copied into the guest record.
    const UserInfo guest = UserInfo::guest();
    const UserInfo& user = window->currentUser();
    QCOMPARE(user.id, guest.id);
    QCOMPARE(user.name, guest.name);
    QCOMPARE(user.password, guest.password);
    QCOMPARE(user.email, guest.email);
}

void TestUserInfoUpdate::refusedConnectionWarns()
{
    writeRefusedAddress();
    Recorders watch;

    UserInfoUpdateDialog* form = openForm();
    fill(form, "", "", "Alice E", "1", "e@x.org", "i");
    submit(form);
    QTRY_COMPARE(watch.boxes.seen(), QStringList{refusedBox});
    QVERIFY(form->isVisible());
    QCOMPARE(window->currentUser().name, account.name);
}

QTEST_MAIN(TestUserInfoUpdate)
#include "tst_userinfoupdate.moc"
