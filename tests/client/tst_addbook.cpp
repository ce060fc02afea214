#include "addbookdialog.h"
#include "refusals.h"
#include "windowtesting.h"

#include <QComboBox>
#include <QSpinBox>
#include <QTreeWidget>

using namespace WindowTesting;

// The add-book dialog: what it sends, and what it does with the answer.
class TestAddBook : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(DialogParent); }
    void cleanup() { tearDown(); }

    void formStartsEmptyAtUndergraduate();
    void requestFieldsInFormOrder_data();
    void requestFieldsInFormOrder();
    void emptyFormStillSendsEveryField();
    void reply_data();
    void reply();
    void refusedConnectionWarnsAndKeepsInputs();
    void titleTooLargeForAFrameIsRefused();
    void openedFromTheAdministratorMenu();
    void lookupFillsTheFormAndCopiesGoTogether();

private:
    AddBookDialog* openDialog();
    void fill(AddBookDialog* dialog, const QStringList& texts);
};

static const char* const editNames[] = {"nameEdit", "authorEdit", "typeEdit", "numberEdit", "yearEdit", "pressEdit"};

AddBookDialog* TestAddBook::openDialog()
{
    return new AddBookDialog(dialogParent.get());
}

void TestAddBook::fill(AddBookDialog* dialog, const QStringList& texts)
{
    for (int i = 0; i < 6; ++i)
        dialog->findChild<QLineEdit*>(editNames[i])->setText(texts.value(i));
}

void TestAddBook::formStartsEmptyAtUndergraduate()
{
    AddBookDialog* dialog = openDialog();
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->testAttribute(Qt::WA_ShowModal));
    for (const char* name : editNames)
        QVERIFY2(dialog->findChild<QLineEdit*>(name)->text().isEmpty(), name);
    auto* limitBox = dialog->findChild<QComboBox*>("limitBox");
    QCOMPARE(limitBox->currentIndex(), 0);
    QStringList items;
    for (int i = 0; i < limitBox->count(); ++i)
        items << limitBox->itemText(i);
    QCOMPARE(items, (QStringList{"本科生", "研究生", "VIP", "管理员", "超级管理员"}));
}

void TestAddBook::requestFieldsInFormOrder_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("permission");
    QTest::newRow("undergraduate") << 0 << "Undergraduate";
    QTest::newRow("postgraduate") << 1 << "Postgraduate";
    QTest::newRow("vip") << 2 << "VIP";
    QTest::newRow("administrator") << 3 << "Administrator";
    QTest::newRow("super admin") << 4 << "Super Admin";
    QTest::newRow("nothing chosen") << -1 << QString();
}

void TestAddBook::requestFieldsInFormOrder()
{
    QFETCH(int, index);
    QFETCH(QString, permission);
    Exchange exchange;
    exchange.server.addFrames({{"ADD_BOOK_SUCCESSFULLY"}});

    AddBookDialog* dialog = openDialog();
    // Distinct texts in every editor: a swapped pair shows up at once.
    fill(dialog, {"Dream of the Red Chamber", "曹雪芹", "Novel", "B-0042", "1791", "人民文学出版社"});
    dialog->findChild<QComboBox*>("limitBox")->setCurrentIndex(index);
    press(dialog, "submitButton");

    QTRY_COMPARE(exchange.server.requests().size(), 1);
    // Book number before year and publisher: the form's order, not the book record's.
    QCOMPARE(exchange.server.requests().first(),
             (QStringList{"QUERY_ADD_BOOK", "Dream of the Red Chamber", "曹雪芹", "Novel", "B-0042", "1791",
                          "人民文学出版社", permission}));
    QTRY_COMPARE(exchange.boxes.seen(), QStringList{"PASS|Add books sucessfully!"});
}

void TestAddBook::emptyFormStillSendsEveryField()
{
    Exchange exchange;
    AddBookDialog* dialog = openDialog();
    press(dialog, "submitButton");
    QTRY_COMPARE(exchange.server.requests().size(), 1);
    QCOMPARE(exchange.server.requests().first(),
             (QStringList{"QUERY_ADD_BOOK", "", "", "", "", "", "", "Undergraduate"}));
}

void TestAddBook::reply_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QStringList>("expectedBoxes");
    QTest::addColumn<bool>("stillOpen");
    QTest::newRow("success") << "ADD_BOOK_SUCCESSFULLY" << QStringList{"PASS|Add books sucessfully!"} << false;
    // Any other word is a refusal, told in the shared table's words or, unknown, by name.
    for (const char* word :
         {"ADD_BOOK_FAIL", "add_book_successfully", "DELETE_BOOK_SUCCESSFULLY", "BOOK_NUMBER_EXISTS"})
        QTest::newRow(word) << word << QStringList{"Error!|" + Refusals::message(word)} << true;
}

void TestAddBook::reply()
{
    QFETCH(QString, word);
    QFETCH(QStringList, expectedBoxes);
    QFETCH(bool, stillOpen);
    Exchange exchange;
    exchange.server.addFrames({{word}});

    AddBookDialog* dialog = openDialog();
    fill(dialog, {"t", "a", "y", "n", "1999", "p"});
    press(dialog, "submitButton");
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.boxes.seen(), expectedBoxes);
    QCOMPARE(dialog->isVisible(), stillOpen);
    // The inputs stay for another try.
    QCOMPARE(dialog->findChild<QLineEdit*>("numberEdit")->text(), QString("n"));
}

void TestAddBook::refusedConnectionWarnsAndKeepsInputs()
{
    writeRefusedAddress();
    Recorders watch;

    AddBookDialog* dialog = openDialog();
    fill(dialog, {"t", "a", "y", "n", "1999", "p"});
    press(dialog, "submitButton");
    QTRY_COMPARE(watch.boxes.seen(), QStringList{refusedBox});
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->findChild<QLineEdit*>("nameEdit")->text(), QString("t"));
}

void TestAddBook::titleTooLargeForAFrameIsRefused()
{
    Exchange exchange;

    AddBookDialog* dialog = openDialog();
    fill(dialog, {QString(33000, QLatin1Char('t')), "a", "y", "n", "1999", "p"});
    press(dialog, "submitButton");
    QTRY_COMPARE(exchange.boxes.seen(), QStringList{"Error!|Request too large to send!"});
    QVERIFY(dialog->isVisible());
    QCOMPARE(exchange.server.requests().size(), 0);
}

void TestAddBook::openedFromTheAdministratorMenu()
{
    MainWindow mainWindow;
    mainWindow.findChild<QAction*>("actionAddBook")->trigger();
    const QList<AddBookDialog*> dialogs = mainWindow.findChildren<AddBookDialog*>();
    QCOMPARE(dialogs.size(), 1);
    QVERIFY(dialogs.first()->isVisible());
}

void TestAddBook::lookupFillsTheFormAndCopiesGoTogether()
{
    Exchange exchange;
    exchange.server.addFrames({{"红楼梦", "曹雪芹", "I242.4", "人民文学出版社", "2008", "9787020002207", "lib-a"},
                               {"红楼梦 (校注本)", "曹雪芹", "I242.4", "中华书局", "2014", "9787101100000", "lib-b"}});
    exchange.server.addFrames({{"ADD_BOOK_SUCCESSFULLY", "HL-01", "HL-03"}});

    AddBookDialog* dialog = openDialog();
    auto* isbnEdit = dialog->findChild<QLineEdit*>("isbnEdit");
    isbnEdit->setText("978-7-02-000220-7");
    // Enter in the ISBN field (a scanner's) looks up; it does not submit.
    QTest::keyClick(isbnEdit, Qt::Key_Return);
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.server.requests().first(), (QStringList{"QUERY_CATALOGUE_LOOKUP", "978-7-02-000220-7"}));
    QCOMPARE(dialog->findChild<QLineEdit*>("nameEdit")->text(), QString("红楼梦"));
    QCOMPARE(dialog->findChild<QLineEdit*>("pressEdit")->text(), QString("人民文学出版社"));
    QCOMPARE(isbnEdit->text(), QString("9787020002207"));
    // Several records: the pick list shows, and another choice fills the form again.
    auto* list = dialog->findChild<QTreeWidget*>("lookupList");
    QVERIFY(list->isVisible());
    list->setCurrentItem(list->topLevelItem(1));
    QCOMPARE(dialog->findChild<QLineEdit*>("yearEdit")->text(), QString("2014"));

    dialog->findChild<QLineEdit*>("pressEdit")->setText("中华书局（修订）"); // still editable
    dialog->findChild<QLineEdit*>("numberEdit")->setText("HL-01");
    dialog->findChild<QSpinBox*>("copiesBox")->setValue(3);
    press(dialog, "submitButton");
    QTRY_COMPARE(exchange.server.requests().size(), 2);
    QCOMPARE(exchange.server.requests().at(1),
             (QStringList{"QUERY_ADD_COPIES", "红楼梦 (校注本)", "曹雪芹", "I242.4", "中华书局（修订）", "2014",
                          "Undergraduate", "9787101100000", "HL-01", "3"}));
    QTRY_COMPARE(exchange.boxes.seen(), QStringList{"PASS|Add books sucessfully!\nHL-01 … HL-03"});
}

QTEST_MAIN(TestAddBook)
#include "tst_addbook.moc"
