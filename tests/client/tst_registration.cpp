#include "registerdialog.h"
#include "refusals.h"
#include "windowtesting.h"

#include <QTextEdit>

using namespace WindowTesting;

// Registration: the form, the request it sends and how the answer is reported.
class TestRegistration : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void clientChecksSendNothing_data();
    void clientChecksSendNothing();
    void init() { setUp(HiddenWindow); }
    void cleanup() { tearDown(); }

    void formIsModalWithHiddenPasswords();
    void requestCarriesTheFormInOrder_data();
    void requestCarriesTheFormInOrder();
    void mismatchedPasswordsSendNothing_data();
    void mismatchedPasswordsSendNothing();
    void reply_data();
    void reply();
    void replyGoesToTheSubmittedForm();
    void refusedConnectionWarns();
    void formTooLargeForAFrameIsRefused();
    void cancelHidesTheForm();

private:
    RegisterDialog* openForm();
    static void fill(RegisterDialog* form, const QStringList& texts);
    static void submit(RegisterDialog* form) { press(form, "submitButton"); }
};

// Editors in the order their texts are given to fill(): the request order, with the confirmation
// after the password.
static const char* const editorNames[] = {
    "idEdit", "passwordEdit", "repeatPasswordEdit", "nameEdit", "studentNumberEdit", "phoneNumberEdit", "emailEdit"};

RegisterDialog* TestRegistration::openForm()
{
    window->findChild<QAction*>("actionRegister")->trigger();
    return newest<RegisterDialog>(window.get());
}

void TestRegistration::fill(RegisterDialog* form, const QStringList& texts)
{
    for (int i = 0; i < 7; ++i)
        form->findChild<QLineEdit*>(editorNames[i])->setText(texts.value(i));
    form->findChild<QTextEdit*>("userInfoEdit")->setPlainText(texts.value(7));
}

void TestRegistration::formIsModalWithHiddenPasswords()
{
    RegisterDialog* form = openForm();
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QCOMPARE(form->windowTitle(), QString("Register"));
    QVERIFY(form->testAttribute(Qt::WA_ShowModal));
    QCOMPARE(form->findChild<QLineEdit*>("passwordEdit")->echoMode(), QLineEdit::Password);
    QCOMPARE(form->findChild<QLineEdit*>("repeatPasswordEdit")->echoMode(), QLineEdit::Password);
    QCOMPARE(form->findChild<QLineEdit*>("idEdit")->echoMode(), QLineEdit::Normal);
}

void TestRegistration::requestCarriesTheFormInOrder_data()
{
    QTest::addColumn<QStringList>("form");
    QTest::addColumn<QStringList>("request");
    QTest::newRow("every field") << QStringList{"alice",   "s3cret",      "s3cret",  "Alice",
                                                "2020001", "13800000000", "a@x.org", "reads a lot"}
                                 << QStringList{"QUERY_USER_REGISTER", "alice",   "s3cret",     "Alice", "2020001",
                                                "13800000000",         "a@x.org", "reads a lot"};
    QTest::newRow("multi-line personal information, Chinese name")
        << QStringList{"zs", "pw1234", "pw1234", "张三", "2020003", "139", "z@s.cn", "第一行\n第二行"}
        << QStringList{"QUERY_USER_REGISTER", "zs", "pw1234", "张三", "2020003", "139", "z@s.cn", "第一行\n第二行"};
}

void TestRegistration::requestCarriesTheFormInOrder()
{
    QFETCH(QStringList, form);
    QFETCH(QStringList, request);
    Exchange exchange;
    exchange.server.addFrames({{"REGISTER_SUCCESSFULLY"}});

    RegisterDialog* dialog = openForm();
    fill(dialog, form);
    submit(dialog);
    QTRY_COMPARE(exchange.server.requests().size(), 1);
    // Then one empty field: our client, which reads why a registration is refused.
    QCOMPARE(exchange.server.requests().first(), request + QStringList{QString()});
}

void TestRegistration::mismatchedPasswordsSendNothing_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("repeated");
    QTest::newRow("case differs") << "Secret"
                                  << "secret";
    QTest::newRow("trailing blank") << "secret"
                                    << "secret ";
    QTest::newRow("confirmation empty") << "secret"
                                        << "";
}

void TestRegistration::mismatchedPasswordsSendNothing()
{
    QFETCH(QString, password);
    QFETCH(QString, repeated);
    Exchange exchange;
    exchange.server.addFrames({{"REGISTER_SUCCESSFULLY"}});

    RegisterDialog* form = openForm();
    fill(form, {"carol", password, repeated, "Carol", "2020004", "", "", ""});
    submit(form);
    // The warning is shown before any connection is tried.
    QCOMPARE(exchange.boxes.seen(), QStringList{"Error|Passwords are not same!"});
    QVERIFY(form->isVisible());

    // Mend the confirmation and submit again: the server's first and only request is this one.
    form->findChild<QLineEdit*>("repeatPasswordEdit")->setText(password);
    submit(form);
    QTRY_COMPARE(exchange.server.requests().size(), 1);
    QCOMPARE(exchange.server.connectionCount(), 1);
    QCOMPARE(exchange.server.requests().first().value(2), password);
}

// What the server would refuse is caught before a connection is made, with the reason.
void TestRegistration::clientChecksSendNothing_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("sent");
    QTest::newRow("empty ID") << ""
                              << "secret" << false;
    QTest::newRow("ID of 33 characters") << QString(33, QLatin1Char('a')) << "secret" << false;
    QTest::newRow("ID of 32 Chinese characters") << QString(32, QChar(0x5F20)) << "secret" << true;
    QTest::newRow("leading space") << " carol"
                                   << "secret" << false;
    QTest::newRow("trailing space") << "carol "
                                    << "secret" << false;
    QTest::newRow("inner space") << "ca rol"
                                 << "secret" << true;
    QTest::newRow("control character") << "ca\trol"
                                       << "secret" << false;
    QTest::newRow("empty password") << "carol"
                                    << "" << false;
    QTest::newRow("5-character password") << "carol"
                                          << "12345" << false;
    QTest::newRow("6-character password") << "carol"
                                          << "123456" << true;
}

void TestRegistration::clientChecksSendNothing()
{
    QFETCH(QString, id);
    QFETCH(QString, password);
    QFETCH(bool, sent);
    Exchange exchange;
    exchange.server.addFrames({{"REGISTER_SUCCESSFULLY"}});
    RegisterDialog* form = openForm();
    fill(form, {id, password, password, "Carol", "2020004", "", "", ""});
    submit(form);
    if (sent) {
        QTRY_COMPARE(exchange.server.requests().size(), 1);
        return;
    }
    QCOMPARE(exchange.boxes.boxes().size(), 1);
    QCOMPARE(exchange.boxes.boxes().first().title, QStringLiteral("Error"));
    QTest::qWait(50);
    QCOMPARE(exchange.server.connectionCount(), 0);
}

void TestRegistration::reply_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("stillOpen");
    QTest::newRow("refused") << "REGISTER_FAIL"
                             << "Error|ID or student number existed." << true;
    // Success also says that the library must confirm the account before it can borrow.
    const QString success = QStringLiteral("PASS|Register sucessfully!\n账号需经图书馆确认后才能借书。");
    QTest::newRow("server's success word") << "REGISTER_SUCCESSFULLY" << success << false;
    QTest::newRow("any other word is success") << "WHATEVER" << success << false;
    QTest::newRow("refusal word in lower case is not a refusal") << "register_fail" << success << false;
    QTest::newRow("a known refusal is not a success") << "RECORD_TOO_LONG"
                                                      << "Error!|" + QStringLiteral("填写的内容过长。") << true;
}

void TestRegistration::reply()
{
    QFETCH(QString, word);
    QFETCH(QString, box);
    QFETCH(bool, stillOpen);
    Exchange exchange;
    exchange.server.addFrames({{word}});

    RegisterDialog* form = openForm();
    fill(form, {"dave", "pw1234", "pw1234", "Dave", "2020005", "", "", ""});
    submit(form);
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.boxes.seen(), QStringList{box});
    QCOMPARE(form->isVisible(), stillOpen);
    if (stillOpen) // the form keeps its contents for another try
        QCOMPARE(form->findChild<QLineEdit*>("idEdit")->text(), QString("dave"));
}

void TestRegistration::replyGoesToTheSubmittedForm()
{
    Exchange exchange;
    exchange.server.addFrames({{"REGISTER_SUCCESSFULLY"}});

    // Submit, close the form and open a fresh one before the answer arrives.
    RegisterDialog* first = openForm();
    fill(first, {"erin", "pw1234", "pw1234", "Erin", "2020006", "", "", ""});
    submit(first);
    press(first, "cancelButton");
    RegisterDialog* second = openForm();
    QVERIFY(second != first);
    fill(second, {"frank", "", "", "", "", "", "", ""});

    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.server.requests().first().value(1), QString("erin"));
    QCOMPARE(exchange.boxes.seen(), QStringList{"PASS|Register sucessfully!\n账号需经图书馆确认后才能借书。"});
    // The form being filled in is not closed by the other form's answer.
    QVERIFY(second->isVisible());
    QVERIFY(!first->isVisible());
}

void TestRegistration::refusedConnectionWarns()
{
    writeRefusedAddress();
    Recorders watch;

    RegisterDialog* form = openForm();
    fill(form, {"gina", "pw1234", "pw1234", "", "", "", "", ""});
    submit(form);
    QTRY_COMPARE(watch.boxes.seen(), QStringList{refusedBox});
    QVERIFY(form->isVisible());
}

void TestRegistration::formTooLargeForAFrameIsRefused()
{
    Exchange exchange;

    RegisterDialog* form = openForm();
    // 40000 characters would be 80000 bytes on the wire, more than one frame holds; the notes' limit
    // refuses them first, in words.
    fill(form, {"hal", "pw1234", "pw1234", "Hal", "1", "", "", QString(40000, QLatin1Char('x'))});
    submit(form);
    QTRY_COMPARE(exchange.boxes.seen(), QStringList{"Error|备注最多 500 个字符。"});
    QVERIFY(form->isVisible());
    QCOMPARE(exchange.server.requests().size(), 0);
}

void TestRegistration::cancelHidesTheForm()
{
    RegisterDialog* form = openForm();
    press(form, "cancelButton");
    QVERIFY(!form->isVisible());
    // Hidden, not destroyed: it stays a child of the main window.
    QCOMPARE(window->findChildren<RegisterDialog*>().size(), 1);
}

QTEST_MAIN(TestRegistration)
#include "tst_registration.moc"
