#include "returnbookdialog.h"
#include "refusals.h"
#include "windowtesting.h"

#include <QSignalSpy>

using namespace WindowTesting;

// The borrowed-books dialog: the listing at construction and the return of the selected row.
class TestReturnBook : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(ServerAndBoxes | DialogParent); }
    void cleanup() { tearDown(); }
    void listing_data();
    void listing();
    void returnSendsTheRowAndRemovesIt();
    void otherReplyWordKeepsTheRow();
    void noCurrentRowSendsNothing();
    void secondPressMidExchangeIsIgnored();
    void returnEmptiesTheMainList();
    void refusedConnection();
    void dueDatesAndRenewal();

private:
    // A dialog for user "u1" whose listing, and the due dates that follow a listing of any rows, have
    // completed with the given rows.
    ReturnBookDialog* openWithRows(const QList<QStringList>& rows, const QList<QStringList>& dueRows = {});
    QTreeWidget* listOf(ReturnBookDialog* dialog) { return widget<QTreeWidget>(dialog, "bookList"); }
    static QStringList shownRow(QTreeWidget* list, int row) { return rowTexts(list, row, 7); }
};

// A row of the borrowed-books listing: the first six fields of book n, then the day it was lent.
static QStringList loan(int n)
{
    return bookRow(n).mid(0, 6) << "2024-03-0" + QString::number(n);
}

static UserInfo reader()
{
    return UserInfo::fromRecord(account("u1", "User One", "VIP"));
}

ReturnBookDialog* TestReturnBook::openWithRows(const QList<QStringList>& rows, const QList<QStringList>& dueRows)
{
    addOpenReply(*server, rows);
    if (!rows.isEmpty())
        addOpenReply(*server, dueRows);
    auto* dialog = new ReturnBookDialog(reader(), dialogParent.get());
    const int closed = server->closedCount() + (rows.isEmpty() ? 0 : 1);
    if (!QTest::qWaitFor([&] { return server->closedCount() > closed; }))
        qWarning() << "listing did not complete";
    return dialog;
}

void TestReturnBook::listing_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<int>("rows");

    QTest::newRow("no books on loan") << QList<QByteArray>{Wire::endOfStreamFrame()} << 0;
    QByteArray three;
    for (int i = 0; i < 3; ++i)
        three += frameOf(loan(i));
    QTest::newRow("three rows in one read") << QList<QByteArray>{three + Wire::endOfStreamFrame()} << 3;
    QList<QByteArray> split;
    for (int i = 0; i < 3; ++i) {
        const QByteArray frame = frameOf(loan(i));
        split << frame.left(1) << frame.mid(1, 7) << frame.mid(8);
    }
    split << Wire::endOfStreamFrame();
    QTest::newRow("every frame split across reads") << split << 3;
}

void TestReturnBook::listing()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(int, rows);
    server->addReply(chunks);
    QTest::ignoreMessage(QtDebugMsg, "Receive End");
    auto* dialog = new ReturnBookDialog(reader(), dialogParent.get());
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Book List"));
    QVERIFY(dialog->testAttribute(Qt::WA_ShowModal));
    // The listing, then the due dates of the loans, if any.
    QList<QStringList> requests{{"QUERY_USER_BORROW_BOOK", "u1"}};
    if (rows > 0)
        requests.append(QStringList{"QUERY_USER_LOANS", "u1"});
    QTRY_COMPARE(server->closedCount(), requests.size());
    QCOMPARE(server->requests(), requests);
    QTreeWidget* list = listOf(dialog);
    QCOMPARE(list->topLevelItemCount(), rows);
    for (int i = 0; i < rows; ++i)
        QCOMPARE(shownRow(list, i), loan(i));
    QVERIFY(boxes->seen().isEmpty());
}

void TestReturnBook::returnSendsTheRowAndRemovesIt()
{
    ReturnBookDialog* dialog = openWithRows({loan(0), loan(1), loan(2)});
    QSignalSpy returned(dialog, &ReturnBookDialog::returnBookSuccessfully);
    QTreeWidget* list = listOf(dialog);
    list->setCurrentItem(list->topLevelItem(1));
    addOpenReply(*server, {{"RETURN_BOOK_SUCCESSFULLY"}});
    widget<QPushButton>(dialog, "returnButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"PASS|Return the book successfully!!!"});
    QCOMPARE(server->requests().last(), QStringList{"QUERY_RETURN_BOOK"} + loan(1) + QStringList{"u1"});
    QCOMPARE(returned.size(), 1);
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(shownRow(list, 0), loan(0));
    QCOMPARE(shownRow(list, 1), loan(2));
    QVERIFY(dialog->isVisible());
    QTRY_COMPARE(server->closedCount(), 3);

    // Several books can be returned one after another.
    list->setCurrentItem(list->topLevelItem(0));
    server->addFrames({{"RETURN_BOOK_SUCCESSFULLY"}});
    widget<QPushButton>(dialog, "returnButton")->click();
    QTRY_COMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(shownRow(list, 0), loan(2));
    QCOMPARE(returned.size(), 2);
}

void TestReturnBook::otherReplyWordKeepsTheRow()
{
    ReturnBookDialog* dialog = openWithRows({loan(0)});
    QSignalSpy returned(dialog, &ReturnBookDialog::returnBookSuccessfully);
    QTreeWidget* list = listOf(dialog);
    list->setCurrentItem(list->topLevelItem(0));
    addOpenReply(*server, {{"RETURN_FAIL"}});
    widget<QPushButton>(dialog, "returnButton")->click();
    QTRY_COMPARE(server->closedCount(), 3);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(returned.size(), 0);
    QCOMPARE(boxes->seen(), QStringList{"Error!|" + QStringLiteral("服务器拒绝了请求（RETURN_FAIL）。")});
}

void TestReturnBook::noCurrentRowSendsNothing()
{
    ReturnBookDialog* dialog = openWithRows({loan(0)});
    widget<QPushButton>(dialog, "returnButton")->click();
    ReturnBookDialog* empty = openWithRows({});
    widget<QPushButton>(empty, "returnButton")->click();
    // A third listing, queued after both presses, is the first thing the server sees after them.
    openWithRows({});
    QCOMPARE(server->connectionCount(), 4);
    for (const QStringList& request : server->requests())
        QVERIFY(request.first() == QLatin1String("QUERY_USER_BORROW_BOOK")
                || request.first() == QLatin1String("QUERY_USER_LOANS"));
}

// A second press while a return is out is ignored, even on another row: aborting the first could
// leave a book returned on the server whose row stays in the list.
void TestReturnBook::secondPressMidExchangeIsIgnored()
{
    ReturnBookDialog* dialog = openWithRows({loan(0), loan(1)});
    QTreeWidget* list = listOf(dialog);
    server->addReply({frameOf({"RETURN_BOOK_SUCCESSFULLY"})}, false); // no end of stream yet
    list->setCurrentItem(list->topLevelItem(0));
    widget<QPushButton>(dialog, "returnButton")->click();
    QTRY_COMPARE(boxes->boxes().size(), 1);
    list->setCurrentItem(list->topLevelItem(0)); // now loan(1)
    widget<QPushButton>(dialog, "returnButton")->click();
    openWithRows({}); // a later connection: the press above has been handled by now
    QCOMPARE(server->connectionCount(), 4);
    QCOMPARE(server->requests().at(2), QStringList{"QUERY_RETURN_BOOK"} + loan(0) + QStringList{"u1"});
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(shownRow(list, 0), loan(1));
}

void TestReturnBook::returnEmptiesTheMainList()
{
    MainWindow mainWindow;
    mainWindow.show();
    QVERIFY(logIn(mainWindow, *server, *boxes, "u1", "VIP"));
    boxes->clear();
    auto* bookList = widget<QTreeWidget>(&mainWindow, "bookList");
    for (int i = 0; i < 3; ++i)
        bookList->addTopLevelItem(new QTreeWidgetItem(QStringList{"row " + QString::number(i)}));

    addOpenReply(*server, {loan(0), loan(1)});
    addOpenReply(*server, {});
    widget<QAction>(&mainWindow, "actionBorrowBook")->trigger();
    ReturnBookDialog* dialog = newest<ReturnBookDialog>(&mainWindow);
    QVERIFY(dialog);
    QTreeWidget* list = listOf(dialog);
    QTRY_COMPARE(list->topLevelItemCount(), 2);
    QTRY_COMPARE(server->requests().last(), (QStringList{"QUERY_USER_LOANS", "u1"}));

    list->setCurrentItem(list->topLevelItem(1));
    server->addFrames({{"RETURN_BOOK_SUCCESSFULLY"}});
    widget<QPushButton>(dialog, "returnButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"PASS|Return the book successfully!!!"});
    QTRY_COMPARE(bookList->topLevelItemCount(), 0);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(shownRow(list, 0), loan(0));
}

void TestReturnBook::refusedConnection()
{
    ReturnBookDialog* dialog = openWithRows({loan(0)});
    writeRefusedAddress();
    QTreeWidget* list = listOf(dialog);
    list->setCurrentItem(list->topLevelItem(0));
    widget<QPushButton>(dialog, "returnButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{refusedBox});
    QCOMPARE(list->topLevelItemCount(), 1);

    // The listing reports a refused connection the same way.
    new ReturnBookDialog(reader(), dialogParent.get());
    QTRY_COMPARE(boxes->boxes().size(), 2);
    QCOMPARE(boxes->seen().last(), refusedBox);
}

// The due dates of the listed loans, red once passed (a server that does not know the request leaves
// the column empty); 续借 renews the selected loan and shows the new date, or the refusal.
void TestReturnBook::dueDatesAndRenewal()
{
    const auto due = [](int n, const QString& date) {
        return loan(n) << date << "0"
                       << "2";
    };
    ReturnBookDialog* dialog =
        openWithRows({loan(0), loan(1), loan(2)}, {due(0, "2000-01-01 10:00:00"), due(1, "2999-01-01 10:00:00")});
    QTreeWidget* list = listOf(dialog);
    // Whole, to the minute; with the renewals left.
    QTRY_COMPARE(list->topLevelItem(1)->text(7), QStringLiteral("2999-01-01 10:00"));
    QCOMPARE(list->topLevelItem(0)->text(7), QStringLiteral("2000-01-01 10:00"));
    QCOMPARE(list->topLevelItem(0)->text(8), QStringLiteral("2"));
    QCOMPARE(list->topLevelItem(0)->foreground(7).color(), QColor(Qt::red));
    QVERIFY(list->topLevelItem(1)->foreground(7).color() != QColor(Qt::red));
    QCOMPARE(list->topLevelItem(2)->text(7), QString());

    list->setCurrentItem(list->topLevelItem(0));
    addOpenReply(*server, {{"RENEW_BOOK_SUCCESSFULLY", "2999-02-01 10:00:00"}});
    widget<QPushButton>(dialog, "renewButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"PASS|续借成功，新的到期日期：2999-02-01 10:00"});
    QCOMPARE(server->requests().last(), (QStringList{"QUERY_RENEW_BOOK", loan(0).value(5), "u1"}));
    QCOMPARE(list->topLevelItem(0)->text(7), QStringLiteral("2999-02-01 10:00"));
    QCOMPARE(list->topLevelItem(0)->text(8), QStringLiteral("1"));
    QVERIFY(list->topLevelItem(0)->foreground(7).color() != QColor(Qt::red));

    addOpenReply(*server, {{"RENEW_LIMIT_REACHED"}});
    widget<QPushButton>(dialog, "renewButton")->click();
    QTRY_COMPARE(boxes->seen().size(), 2);
    QCOMPARE(boxes->seen().last(), QStringLiteral("Error!|这本书的续借次数已用完。"));
    QCOMPARE(list->topLevelItem(0)->text(7), QStringLiteral("2999-02-01 10:00"));
}

QTEST_MAIN(TestReturnBook)
#include "tst_returnbook.moc"
