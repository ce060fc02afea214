#include "dialogchip.h"
#include "windowtesting.h"

#include <QDialogButtonBox>

using namespace WindowTesting;

// The server address dialog: locked rows, the input mask, and the file written on Ok.
class TestDialogChIP : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(ShownWindow); }
    void cleanup() { tearDown(); }
    void opensWithoutFile();
    void lockToggles_data();
    void lockToggles();
    void savesOnOk_data();
    void savesOnOk();
    void cancelWritesNothing();
    void maskKeepsDigitsOnly_data();
    void maskKeepsDigitsOnly();
    void hostTheMaskCannotShowSurvivesOk_data();
    void hostTheMaskCannotShowSurvivesOk();
    void nextOperationUsesTheSavedAddress();

private:
    DialogChIP* open();
    void pressOk(DialogChIP* dialog);
};

DialogChIP* TestDialogChIP::open()
{
    widget<QAction>(window.get(), "actionChangeIP")->trigger();
    return newest<DialogChIP>(window.get());
}

void TestDialogChIP::pressOk(DialogChIP* dialog)
{
    widget<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
}

void TestDialogChIP::opensWithoutFile()
{
    QVERIFY(!QFile::exists("hostIP.txt"));
    DialogChIP* dialog = open();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Change IP And Port"));
    QVERIFY(dialog->testAttribute(Qt::WA_ShowModal));
    QCOMPARE(readFile("hostIP.txt"), QByteArray("127.0.0.1\n9999"));
    auto* ip = widget<QLineEdit>(dialog, "editIP");
    auto* port = widget<QLineEdit>(dialog, "editPort");
    QCOMPARE(ip->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(port->text(), QStringLiteral("9999"));
    QVERIFY(ip->inputMask().startsWith(QLatin1String("000.000.000.000")));
    QVERIFY(!ip->isEnabled());
    QVERIFY(!port->isEnabled());
    QCOMPARE(widget<QPushButton>(dialog, "button1")->text(), QStringLiteral("解"));
    QCOMPARE(widget<QPushButton>(dialog, "button2")->text(), QStringLiteral("解"));
}

void TestDialogChIP::lockToggles_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("otherEditor");
    QTest::newRow("host row") << "button1"
                              << "editIP"
                              << "editPort";
    QTest::newRow("port row") << "button2"
                              << "editPort"
                              << "editIP";
}

void TestDialogChIP::lockToggles()
{
    QFETCH(QString, button);
    QFETCH(QString, editor);
    QFETCH(QString, otherEditor);
    DialogChIP* dialog = open();
    auto* lock = widget<QPushButton>(dialog, button.toLatin1().constData());
    auto* edit = widget<QLineEdit>(dialog, editor.toLatin1().constData());
    auto* other = widget<QLineEdit>(dialog, otherEditor.toLatin1().constData());

    lock->click();
    QVERIFY(edit->isEnabled());
    QCOMPARE(lock->text(), QStringLiteral("锁"));
    QVERIFY(!other->isEnabled());
    lock->click();
    QVERIFY(!edit->isEnabled());
    QCOMPARE(lock->text(), QStringLiteral("解"));
    lock->click();
    QVERIFY(edit->isEnabled());
}

void TestDialogChIP::savesOnOk_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("typedHost"); // null: left alone
    QTest::addColumn<QString>("typedPort");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("nothing unlocked rewrites what is shown")
        << QByteArray("10.0.0.5\r\n4000\r\nextra") << QString() << QString() << QByteArray("10.0.0.5\n4000");
    QTest::newRow("new host and port") << QByteArray("10.0.0.5\n4000") << "192.168.1.20"
                                       << "8080" << QByteArray("192.168.1.20\n8080");
    QTest::newRow("empty port is saved as 9999")
        << QByteArray("10.0.0.5\n4000") << QString() << "" << QByteArray("10.0.0.5\n9999");
    QTest::newRow("port with a letter is saved as 9999")
        << QByteArray("10.0.0.5\n4000") << QString() << "80a" << QByteArray("10.0.0.5\n9999");
    QTest::newRow("port outside 1..65535 is saved as 9999")
        << QByteArray("10.0.0.5\n4000") << QString() << "70000" << QByteArray("10.0.0.5\n9999");
    QTest::newRow("short host groups") << QByteArray("10.0.0.5\n4000") << "1.2.3.4" << QString()
                                       << QByteArray("1.2.3.4\n4000");
}

void TestDialogChIP::savesOnOk()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, typedHost);
    QFETCH(QString, typedPort);
    QFETCH(QByteArray, saved);
    writeFile("hostIP.txt", file);
    DialogChIP* dialog = open();
    auto* ip = widget<QLineEdit>(dialog, "editIP");
    auto* port = widget<QLineEdit>(dialog, "editPort");
    if (!typedHost.isNull()) {
        widget<QPushButton>(dialog, "button1")->click();
        ip->selectAll();
        QTest::keyClick(ip, Qt::Key_Backspace);
        ip->home(false);
        QTest::keyClicks(ip, typedHost);
    }
    if (!typedPort.isNull()) {
        widget<QPushButton>(dialog, "button2")->click();
        port->clear();
        QTest::keyClicks(port, typedPort);
    }
    pressOk(dialog);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(readFile("hostIP.txt"), saved);
}

void TestDialogChIP::cancelWritesNothing()
{
    writeFile("hostIP.txt", "10.0.0.5\n4000");
    DialogChIP* dialog = open();
    widget<QPushButton>(dialog, "button2")->click();
    widget<QLineEdit>(dialog, "editPort")->setText("1234");
    widget<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Cancel)->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(readFile("hostIP.txt"), QByteArray("10.0.0.5\n4000"));
}

void TestDialogChIP::maskKeepsDigitsOnly_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::newRow("letters are refused") << "ab1c2"
                                         << "12...";
    QTest::newRow("a full address") << "010020030040"
                                    << "010.020.030.040";
    QTest::newRow("a dot jumps to the next group") << "10.1.2.3"
                                                   << "10.1.2.3";
    QTest::newRow("a fourth digit runs into the next group") << "1234"
                                                             << "123.4..";
}

void TestDialogChIP::maskKeepsDigitsOnly()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    DialogChIP* dialog = open();
    auto* ip = widget<QLineEdit>(dialog, "editIP");
    widget<QPushButton>(dialog, "button1")->click();
    ip->clear();
    ip->home(false);
    QTest::keyClicks(ip, typed);
    QCOMPARE(ip->text(), text);
}

// A host name (or any host the mask cannot show) would come back from the masked editor mangled and
// be written over the file by Ok. It is shown unmasked and saved as it was.
void TestDialogChIP::hostTheMaskCannotShowSurvivesOk_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("host name") << "library.example.org";
    QTest::newRow("short address form") << "10.1";
    QTest::newRow("group of four digits") << "1234.0.0.1";
}

void TestDialogChIP::hostTheMaskCannotShowSurvivesOk()
{
    QFETCH(QString, host);
    writeFile("hostIP.txt", host.toUtf8() + "\n4000");
    DialogChIP* dialog = open();
    auto* ip = widget<QLineEdit>(dialog, "editIP");
    QCOMPARE(ip->text(), host);
    QVERIFY(ip->inputMask().isEmpty());
    pressOk(dialog);
    QCOMPARE(readFile("hostIP.txt"), host.toUtf8() + "\n4000");
}

// Every operation reads the file afresh: a search right after Ok goes to the new address.
void TestDialogChIP::nextOperationUsesTheSavedAddress()
{
    Exchange exchange;
    writeFile("hostIP.txt", "127.0.0.1\n1");
    DialogChIP* dialog = open();
    widget<QPushButton>(dialog, "button2")->click();
    widget<QLineEdit>(dialog, "editPort")->setText(QString::number(exchange.server.port()));
    pressOk(dialog);
    widget<QPushButton>(window.get(), "searchButton")->click();
    QTRY_COMPARE(exchange.boxes.seen(), QStringList{"Searching completed|Find 0 result"});
    QCOMPARE(exchange.server.requests().size(), 1);
}

QTEST_MAIN(TestDialogChIP)
#include "tst_dialogchip.moc"
