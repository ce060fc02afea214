#include "mainwindow.h"
#include "messageboxwatcher.h"
#include "scriptedserver.h"
#include "tempworkdir.h"
#include "tracecatcher.h"
#include "userinfoupdatedialog.h"
#include "windowtesting.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

// Personal information update: the form filled from the account, the request, and the account
// record after the answer.
class TestUserInfoUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

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
    static void fill(UserInfoUpdateDialog* form, const QString& password, const QString& repeated,
                     const QString& name, const QString& phone, const QString& email, const QString& info);
    static void submit(UserInfoUpdateDialog* form);

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<MainWindow> window;
};

// The account every test logs in with, as the login reply carries it.
static const UserInfo account = UserInfo::fromRecord(WindowTesting::account("u1", "u1 Name", "VIP"));

void TestUserInfoUpdate::init()
{
    dir = std::make_unique<TempWorkDir>();
    window = std::make_unique<MainWindow>();
    ScriptedServer loginServer;
    loginServer.writeAddressFile();
    MessageBoxWatcher boxes;
    QVERIFY(WindowTesting::logIn(*window, loginServer, boxes, account.id, account.permission));
    QCOMPARE(window->currentUser().password, account.password);
}

void TestUserInfoUpdate::cleanup()
{
    window.reset();
    dir.reset();
}

UserInfoUpdateDialog* TestUserInfoUpdate::openForm()
{
    window->findChild<QAction*>("actionInfo")->trigger();
    const QList<UserInfoUpdateDialog*> forms = window->findChildren<UserInfoUpdateDialog*>();
    return forms.isEmpty() ? nullptr : forms.last();
}

void TestUserInfoUpdate::fill(UserInfoUpdateDialog* form, const QString& password, const QString& repeated,
                              const QString& name, const QString& phone, const QString& email, const QString& info)
{
    form->findChild<QLineEdit*>("newPasswordEdit")->setText(password);
    form->findChild<QLineEdit*>("repeatPasswordEdit")->setText(repeated);
    form->findChild<QLineEdit*>("nameEdit")->setText(name);
    form->findChild<QLineEdit*>("phoneNumberEdit")->setText(phone);
    form->findChild<QLineEdit*>("emailEdit")->setText(email);
    form->findChild<QTextEdit*>("userInfoEdit")->setPlainText(info);
}

void TestUserInfoUpdate::submit(UserInfoUpdateDialog* form)
{
    QTest::mouseClick(form->findChild<QPushButton*>("submitButton"), Qt::LeftButton);
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
    QTest::newRow("empty new password keeps the old one") << "" << account.password;
    QTest::newRow("new password is stored") << "n3w" << "n3w";
}

void TestUserInfoUpdate::confirmedUpdate()
{
    QFETCH(QString, newPassword);
    QFETCH(QString, storedPassword);
    ScriptedServer server;
    server.writeAddressFile();
    server.addFrames({{"UPDATE_SUCCESSFULLY"}});
    MessageBoxWatcher boxes;
    TraceCatcher traces;

    UserInfoUpdateDialog* form = openForm();
    fill(form, newPassword, newPassword, "Alice B", "13911111111", "ab@y.org", "新的说明\nline 2");
    submit(form);
    QTRY_COMPARE(traces.count("Receive End"), 1);

    // The user ID comes from the account; the confirmation is not sent.
    QCOMPARE(server.requests(), (QList<QStringList>{{"QUERY_USER_INFO_UPDATE", "u1", newPassword, "Alice B",
                                                     "13911111111", "ab@y.org", "新的说明\nline 2"}}));
    QCOMPARE(boxes.seen(), QStringList{"PASS|Update successfully!"});
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
    ScriptedServer server;
    server.writeAddressFile();
    server.addFrames({{"UPDATE_SUCCESSFULLY"}});
    MessageBoxWatcher boxes;

    UserInfoUpdateDialog* form = openForm();
    fill(form, "abc", "abd", "Alice", "1", "e", "i");
    submit(form);
    // Lower-case "passwords" and "Error!", unlike the registration form.
    QCOMPARE(boxes.seen(), QStringList{"Error!|passwords are not same!"});
    QVERIFY(form->isVisible());
    QCOMPARE(window->currentUser().password, account.password);

    // Mend it: the first and only request the server sees is this one.
    form->findChild<QLineEdit*>("repeatPasswordEdit")->setText("abc");
    submit(form);
    QTRY_COMPARE(server.requests().size(), 1);
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(server.requests().first().value(2), QString("abc"));
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
    ScriptedServer server;
    server.writeAddressFile();
    server.addFrames({{word}});
    MessageBoxWatcher boxes;
    TraceCatcher traces;

    UserInfoUpdateDialog* form = openForm();
    fill(form, "n3w", "n3w", "Mallory", "0", "m@z", "x");
    submit(form);
    QTRY_COMPARE(traces.count("Receive End"), 1);
    QCOMPARE(boxes.seen(), QStringList{"Error!|Update failed!"});
    QVERIFY(form->isVisible());
    const UserInfo& user = window->currentUser();
    QCOMPARE(user.password, account.password);
    QCOMPARE(user.name, account.name);
    QCOMPARE(user.email, account.email);
}

void TestUserInfoUpdate::editsAfterConfirmAreNotSent()
{
    ScriptedServer server;
    server.writeAddressFile();
    server.addFrames({{"UPDATE_SUCCESSFULLY"}});
    MessageBoxWatcher boxes;
    TraceCatcher traces;

    UserInfoUpdateDialog* form = openForm();
    fill(form, "", "", "Alice C", "1", "e", "i");
    submit(form);
    // Still connecting: the request is written later, but from what was captured on confirm.
    form->findChild<QLineEdit*>("nameEdit")->setText("changed later");
    QTRY_COMPARE(traces.count("Receive End"), 1);
    QCOMPARE(server.requests().first().value(3), QString("Alice C"));
    QCOMPARE(window->currentUser().name, QString("Alice C"));
}

void TestUserInfoUpdate::answerAfterLogout()
{
    ScriptedServer server;
    server.writeAddressFile();
    server.addFrames({{"UPDATE_SUCCESSFULLY"}});
    MessageBoxWatcher boxes;
    TraceCatcher traces;

    UserInfoUpdateDialog* form = openForm();
    fill(form, "n3w", "n3w", "Alice D", "1", "e", "i");
    submit(form);
    // The user logs out before the answer arrives.
    window->findChild<QAction*>("actionLogout")->trigger();

    QTRY_COMPARE(traces.count("Receive End"), 1);
    QCOMPARE(server.requests().first().value(1), account.id);
    QCOMPARE(boxes.seen(), QStringList{"PASS|Update successfully!"});
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
    WindowTesting::writeRefusedAddress();
    MessageBoxWatcher boxes;

    UserInfoUpdateDialog* form = openForm();
    fill(form, "", "", "Alice E", "1", "e", "i");
    submit(form);
    QTRY_COMPARE(boxes.seen(), QStringList{"Error!|Can not connect to server!!!"});
    QVERIFY(form->isVisible());
    QCOMPARE(window->currentUser().name, account.name);
}

QTEST_MAIN(TestUserInfoUpdate)
#include "tst_userinfoupdate.moc"
