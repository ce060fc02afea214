#include "bookdialog.h"
#include "logindialog.h"
#include "refusals.h"
#include "windowtesting.h"

using namespace WindowTesting;

// The book detail dialog opened from the main window's result list: borrow, delete, and what the
// main window does with the row afterwards.
class TestBookDialog : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { tearDown(); }
    void showsTheRow_data();
    void showsTheRow();
    void borrowChecks_data();
    void borrowChecks();
    void deleteButtonByLevel_data();
    void deleteButtonByLevel();
    void deleteRefusedWhileLent();
    void editCorrectsTheRow_data();
    void editCorrectsTheRow();
    void borrowMarksTheRow();
    void deleteRemovesTheRow();
    void otherReplyWordChangesNothing_data();
    void otherReplyWordChangesNothing();
    void rowGoneBeforeTheReply_data();
    void rowGoneBeforeTheReply();
    void secondPressMidExchangeIsIgnored();
    void refusedConnection();

private:
    // Puts rows into the result list as a search would and opens the dialog on one of them.
    BookDialog* openBook(int row);
    QStringList shownRow(int row) const { return rowTexts(list, row, 8); }

    QTreeWidget* list = nullptr;
};

void TestBookDialog::init()
{
    setUp(ServerAndBoxes | ShownWindow);
    list = widget<QTreeWidget>(window.get(), "bookList");
}

BookDialog* TestBookDialog::openBook(int row)
{
    emit list->itemDoubleClicked(list->topLevelItem(row), 0);
    return newest<BookDialog>(window.get());
}

void TestBookDialog::showsTheRow_data()
{
    QTest::addColumn<QString>("column7");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("limEdit");
    QTest::newRow("研究生") << "研究生"
                            << "Postgraduate"
                            << "研究生";
    QTest::newRow("超级管理员") << "超级管理员"
                                << "Super Admin"
                                << "超级管理员";
    QTest::newRow("VIP") << "VIP"
                         << "VIP"
                         << "VIP";
    QTest::newRow("Guest") << "Guest"
                           << "Guest"
                           << "Guest";
    QTest::newRow("not a level name") << "whatever"
                                      << "Guest"
                                      << "Guest";
}

void TestBookDialog::showsTheRow()
{
    QFETCH(QString, column7);
    QFETCH(QString, english);
    QFETCH(QString, limEdit);
    list->addTopLevelItem(new QTreeWidgetItem(bookRow(0, "空闲", column7)));
    BookDialog* dialog = openBook(0);
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Book"));
    QVERIFY(dialog->testAttribute(Qt::WA_ShowModal));
    const char* editors[] = {"nameEdit", "authorEdit", "typeEdit", "pressEdit", "yearEdit", "numberEdit", "stateEdit"};
    for (int i = 0; i < 7; ++i) {
        auto* edit = widget<QLineEdit>(dialog, editors[i]);
        QCOMPARE(edit->text(), list->topLevelItem(0)->text(i));
        QVERIFY(!edit->isEnabled());
    }
    QCOMPARE(widget<QLineEdit>(dialog, "limEdit")->text(), limEdit);
    QCOMPARE(dialog->bookInfo().permission, english);
    QVERIFY(widget<QPushButton>(dialog, "borrowButton")->isEnabled());
    widget<QPushButton>(dialog, "cancelButton")->click();
    QVERIFY(!dialog->isVisible());
}

// The level is tested before the state; only a press that passes both reaches the server.
void TestBookDialog::borrowChecks_data()
{
    QTest::addColumn<QString>("level"); // empty: stay a guest
    QTest::addColumn<QString>("permission");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("box");

    const QString noLevel = QStringLiteral("Error|您无权限借阅该书籍!!!");
    const QString logInFirst = QStringLiteral("Error|请先登录，再借阅书籍。");
    const QString onLoan = QStringLiteral("Error|该书处于在借状态，不能借阅!!!");
    const QString sent = QStringLiteral("PASS|Borrow the book successfully!");
    QTest::newRow("guest, lowest book") << ""
                                        << "本科生"
                                        << "空闲" << logInFirst;
    QTest::newRow("guest, book of unknown level") << ""
                                                  << "whatever"
                                                  << "空闲" << logInFirst;
    QTest::newRow("level too low and lent: level first") << "VIP"
                                                         << "管理员"
                                                         << "已借出" << noLevel;
    QTest::newRow("account level not a name") << "boss"
                                              << "whatever"
                                              << "空闲" << noLevel;
    QTest::newRow("level enough but lent") << "VIP"
                                           << "VIP"
                                           << "已借出" << onLoan;
    QTest::newRow("state other than free") << "Super Admin"
                                           << "本科生"
                                           << "repair" << onLoan;
    QTest::newRow("equal levels") << "VIP"
                                  << "VIP"
                                  << "空闲" << sent;
    QTest::newRow("higher level") << "Super Admin"
                                  << "管理员"
                                  << "空闲" << sent;
    QTest::newRow("unknown book level counts as Guest") << "Undergraduate"
                                                        << "whatever"
                                                        << "空闲" << sent;
}

void TestBookDialog::borrowChecks()
{
    QFETCH(QString, level);
    QFETCH(QString, permission);
    QFETCH(QString, state);
    QFETCH(QString, box);
    if (!level.isEmpty()) {
        QVERIFY(logIn(*window, *server, *boxes, "reader", level));
        boxes->clear();
    }
    const int connections = server->connectionCount();
    server->addFrames({{"BORROW_BOOK_SUCCESSFULLY"}});
    list->addTopLevelItem(new QTreeWidgetItem(bookRow(0, state, permission)));
    BookDialog* dialog = openBook(0);
    widget<QPushButton>(dialog, "borrowButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{box});
    const bool refused = box.startsWith(QLatin1String("Error"));
    QCOMPARE(server->connectionCount(), connections + (refused ? 0 : 1));
    // A guest is sent to the login form instead of being left on the book.
    const bool guest = level.isEmpty();
    QCOMPARE(dialog->isVisible(), refused && !guest);
    const QList<LoginDialog*> logins = window->findChildren<LoginDialog*>();
    QCOMPARE(!logins.isEmpty() && logins.last()->isVisible(), guest);
}

void TestBookDialog::deleteButtonByLevel_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("guest") << "" << false;
    QTest::newRow("VIP") << "VIP" << false;
    QTest::newRow("Administrator") << "Administrator" << true;
    QTest::newRow("Super Admin") << "Super Admin" << true;
}

void TestBookDialog::deleteButtonByLevel()
{
    QFETCH(QString, level);
    QFETCH(bool, enabled);
    if (!level.isEmpty())
        QVERIFY(logIn(*window, *server, *boxes, "someone", level));
    list->addTopLevelItem(new QTreeWidgetItem(bookRow(0, "空闲", "VIP")));
    QCOMPARE(widget<QPushButton>(openBook(0), "deleteButton")->isEnabled(), enabled);
}

void TestBookDialog::deleteRefusedWhileLent()
{
    QVERIFY(logIn(*window, *server, *boxes, "admin", "Administrator"));
    boxes->clear();
    list->addTopLevelItem(new QTreeWidgetItem(bookRow(0, "已借出", "VIP")));
    BookDialog* dialog = openBook(0);
    widget<QPushButton>(dialog, "deleteButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"Error|该书处于在借状态，不能删除!!"});
    QCOMPARE(server->connectionCount(), 1);
    QCOMPARE(list->topLevelItemCount(), 1);
    QVERIFY(dialog->isVisible());
}

void TestBookDialog::editCorrectsTheRow_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("row");
    QTest::newRow("stored: the dialog and the row show it")
        << "EDIT_BOOK_SUCCESSFULLY"
        << "PASS|Edit the book successfully!"
        << QStringList{"三体", "刘慈欣", "小说", "出版社", "2008", "B-0", "空闲", "研究生"};
    QTest::newRow("refused: nothing changes, the fields stay open")
        << "BAD_ISBN"
        << "Error!|" + Refusals::message("BAD_ISBN") << bookRow(0, "空闲", "VIP");
}

void TestBookDialog::editCorrectsTheRow()
{
    QFETCH(QString, reply);
    QFETCH(QString, box);
    QFETCH(QStringList, row);
    QVERIFY(logIn(*window, *server, *boxes, "admin", "Administrator"));
    boxes->clear();
    list->addTopLevelItem(new QTreeWidgetItem(bookRow(0, "空闲", "VIP")));
    BookDialog* dialog = openBook(0);
    auto* edit = widget<QPushButton>(dialog, "editButton");
    QVERIFY(edit->isVisible());
    edit->click();
    widget<QLineEdit>(dialog, "nameEdit")->setText("三体");
    widget<QLineEdit>(dialog, "authorEdit")->setText("刘慈欣");
    widget<QLineEdit>(dialog, "yearEdit")->setText("2008");
    widget<QLineEdit>(dialog, "isbnEdit")->setText("978-7-5366-9293-0");
    widget<QComboBox>(dialog, "limitBox")->setCurrentIndex(1);
    server->addFrames({{reply}});
    edit->click();
    QTRY_COMPARE(boxes->seen(), QStringList{box});
    // The number is the copy's key; the level travels as its English name.
    QCOMPARE(server->requests().last(),
             (QStringList{"QUERY_EDIT_BOOK", "B-0", "三体", "刘慈欣", "小说", "出版社", "2008", "Postgraduate",
                          "978-7-5366-9293-0"}));
    QCOMPARE(shownRow(0), row);
    QCOMPARE(widget<QLineEdit>(dialog, "nameEdit")->isEnabled(), reply != "EDIT_BOOK_SUCCESSFULLY");
}

void TestBookDialog::borrowMarksTheRow()
{
    QVERIFY(logIn(*window, *server, *boxes, "reader7", "Postgraduate"));
    boxes->clear();
    for (int i = 0; i < 3; ++i)
        list->addTopLevelItem(new QTreeWidgetItem(bookRow(i, "空闲", "研究生")));
    // The server leaves the connection open: the client reads to the end of the reply and closes it.
    addOpenReply(*server, {{"BORROW_BOOK_SUCCESSFULLY"}});
    QTest::ignoreMessage(QtDebugMsg, "Receive End");
    BookDialog* dialog = openBook(1);
    widget<QPushButton>(dialog, "borrowButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"PASS|Borrow the book successfully!"});

    QCOMPARE(server->requests().last(),
             (QStringList{"QUERY_BORROW_BOOK", "书名1", "作者1", "小说", "出版社", "1999", "B-1", "空闲",
                          "Postgraduate", "reader7"}));
    QTRY_VERIFY(!dialog->isVisible());
    QStringList expected = bookRow(1, "已借出", "研究生");
    QCOMPARE(shownRow(1), expected);
    QCOMPARE(shownRow(0), bookRow(0, "空闲", "研究生"));
    QCOMPARE(shownRow(2), bookRow(2, "空闲", "研究生"));
    QTRY_COMPARE(server->closedCount(), 2);

    // Another book in a new dialog borrows the same way.
    addOpenReply(*server, {{"BORROW_BOOK_SUCCESSFULLY"}});
    QTest::ignoreMessage(QtDebugMsg, "Receive End");
    widget<QPushButton>(openBook(2), "borrowButton")->click();
    QTRY_COMPARE(shownRow(2).at(6), QStringLiteral("已借出"));
    QTRY_COMPARE(server->closedCount(), 3);
}

void TestBookDialog::deleteRemovesTheRow()
{
    QVERIFY(logIn(*window, *server, *boxes, "admin", "Super Admin"));
    boxes->clear();
    for (int i = 0; i < 3; ++i)
        list->addTopLevelItem(new QTreeWidgetItem(bookRow(i, "空闲", "超级管理员")));
    addOpenReply(*server, {{"DELETE_BOOK_SUCCESSFULLY"}});
    QTest::ignoreMessage(QtDebugMsg, "Receive End");
    BookDialog* dialog = openBook(0);
    widget<QPushButton>(dialog, "deleteButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"PASS|Delete the book successfully!"});

    // The permission travels as the English name, not as the text shown in the row.
    QCOMPARE(
        server->requests().last(),
        (QStringList{"QUERY_DELETE_BOOK", "书名0", "作者0", "小说", "出版社", "1999", "B-0", "空闲", "Super Admin"}));
    QTRY_VERIFY(!dialog->isVisible());
    QCOMPARE(list->topLevelItemCount(), 2);
    QCOMPARE(shownRow(0), bookRow(1, "空闲", "超级管理员"));
    QCOMPARE(shownRow(1), bookRow(2, "空闲", "超级管理员"));
    QTRY_COMPARE(server->closedCount(), 2);
}

void TestBookDialog::otherReplyWordChangesNothing_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("borrow") << "borrowButton";
    QTest::newRow("delete") << "deleteButton";
}

void TestBookDialog::otherReplyWordChangesNothing()
{
    QFETCH(QString, button);
    QVERIFY(logIn(*window, *server, *boxes, "admin", "Administrator"));
    boxes->clear();
    list->addTopLevelItem(new QTreeWidgetItem(bookRow(0, "空闲", "VIP")));
    addOpenReply(*server, {{"BORROW_FAIL"}, {"DELETE_FAIL"}});
    QTest::ignoreMessage(QtDebugMsg, "Receive End");
    BookDialog* dialog = openBook(0);
    widget<QPushButton>(dialog, button.toLatin1().constData())->click();
    QTRY_COMPARE(server->closedCount(), 2);
    // Each word of the reply is told.
    QCOMPARE(boxes->seen(),
             (QStringList{"Error!|" + QStringLiteral("服务器拒绝了请求（BORROW_FAIL）。"),
                          "Error!|" + QStringLiteral("服务器拒绝了请求（DELETE_FAIL）。")}));
    QVERIFY(dialog->isVisible());
    QCOMPARE(shownRow(0), bookRow(0, "空闲", "VIP"));
}

// The row a dialog was opened from can be destroyed before the reply comes: a search, a return or a
// delete from another dialog. The reply must then leave the list alone.
void TestBookDialog::rowGoneBeforeTheReply_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("success");
    QTest::newRow("borrow") << "borrowButton"
                            << "BORROW_BOOK_SUCCESSFULLY";
    QTest::newRow("delete") << "deleteButton"
                            << "DELETE_BOOK_SUCCESSFULLY";
}

void TestBookDialog::rowGoneBeforeTheReply()
{
    QFETCH(QString, button);
    QFETCH(QString, success);
    QVERIFY(logIn(*window, *server, *boxes, "admin", "Administrator"));
    boxes->clear();
    for (int i = 0; i < 2; ++i)
        list->addTopLevelItem(new QTreeWidgetItem(bookRow(i, "空闲", "VIP")));
    BookDialog* first = openBook(0);
    BookDialog* second = openBook(0);

    // A new search replaces every row while the dialogs are open.
    QByteArray rows;
    for (int i = 5; i < 9; ++i)
        rows += frameOf(bookRow(i, "空闲", "VIP"));
    server->addReply({rows + Wire::endOfStreamFrame()});
    widget<QPushButton>(window.get(), "searchButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"Searching completed|Find 4 result"});
    QVERIFY(!first->item());

    server->addFrames({{success}});
    widget<QPushButton>(first, button.toLatin1().constData())->click();
    QTRY_COMPARE(boxes->boxes().size(), 2);
    QTRY_VERIFY(!first->isVisible());
    QCOMPARE(list->topLevelItemCount(), 4);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(shownRow(i), bookRow(i + 5, "空闲", "VIP"));

    // The second dialog on the same (gone) row behaves the same way.
    server->addFrames({{success}});
    widget<QPushButton>(second, button.toLatin1().constData())->click();
    QTRY_COMPARE(boxes->boxes().size(), 3);
    QCOMPARE(list->topLevelItemCount(), 4);
    QCOMPARE(shownRow(0), bookRow(5, "空闲", "VIP"));
}

// A second press while the request is out is ignored: one connection, one request.
void TestBookDialog::secondPressMidExchangeIsIgnored()
{
    QVERIFY(logIn(*window, *server, *boxes, "admin", "Administrator"));
    list->addTopLevelItem(new QTreeWidgetItem(bookRow(0, "空闲", "VIP")));
    server->addSilence(); // the borrow
    server->addSilence(); // the delete, used to know the second borrow press has been handled
    BookDialog* dialog = openBook(0);
    auto* borrow = widget<QPushButton>(dialog, "borrowButton");
    borrow->click();
    QTRY_COMPARE(server->requests().size(), 2);
    borrow->click();
    widget<QPushButton>(dialog, "deleteButton")->click();
    QTRY_COMPARE(server->requests().size(), 3);
    QCOMPARE(server->requests().at(1).first(), QStringLiteral("QUERY_BORROW_BOOK"));
    QCOMPARE(server->requests().at(2).first(), QStringLiteral("QUERY_DELETE_BOOK"));
    QCOMPARE(server->connectionCount(), 3);
}

void TestBookDialog::refusedConnection()
{
    QVERIFY(logIn(*window, *server, *boxes, "admin", "Administrator"));
    boxes->clear();
    list->addTopLevelItem(new QTreeWidgetItem(bookRow(0, "空闲", "VIP")));
    writeRefusedAddress();
    BookDialog* dialog = openBook(0);
    widget<QPushButton>(dialog, "borrowButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{refusedBox});
    widget<QPushButton>(dialog, "deleteButton")->click();
    QTRY_COMPARE(boxes->boxes().size(), 2);
    QCOMPARE(boxes->seen().last(), refusedBox);
    QVERIFY(dialog->isVisible());
    QCOMPARE(shownRow(0), bookRow(0, "空闲", "VIP"));
}

QTEST_MAIN(TestBookDialog)
#include "tst_bookdialog.moc"
