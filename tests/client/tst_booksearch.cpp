#include "windowtesting.h"

using namespace WindowTesting;

// The book search of the main window against a scripted server.
class TestBookSearch : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void init() { setUp(ServerAndBoxes | ShownWindow); }
    void cleanup() { tearDown(); }
    void requestCarriesTheSevenFields_data();
    void requestCarriesTheSevenFields();
    void countBox_data();
    void countBox();
    void permissionColumn_data();
    void permissionColumn();
    void stopMidStream();
    void refusedConnection();
    void secondSearchClearsTheList();
    void malformedRowIsSkipped();
};

void TestBookSearch::requestCarriesTheSevenFields_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("all empty") << QStringList(7, QString());
    QTest::newRow("all filled, in form order")
        << QStringList{"红楼梦", "曹雪芹", "B-17", "1700", "1800", "小说", "人民文学"};
    QTest::newRow("spaces are sent as typed") << QStringList{" a ", "", "", "", "", "", "  "};
}

void TestBookSearch::requestCarriesTheSevenFields()
{
    QFETCH(QStringList, texts);
    const char* editors[] = {"bookEdit", "authorEdit", "bookNumber", "bookYearF", "bookYearT", "typeEdit", "pressEdit"};
    for (int i = 0; i < 7; ++i)
        widget<QLineEdit>(window.get(), editors[i])->setText(texts[i]);
    widget<QPushButton>(window.get(), "searchButton")->click();
    QTRY_COMPARE(server->requests().size(), 1);
    QCOMPARE(server->requests().first(), QStringList{"QUERY_BOOK_SEARCHING"} + texts);
    QTRY_COMPARE(boxes->seen(), QStringList{"Searching completed|Find 0 result"});
}

void TestBookSearch::countBox_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("split");
    QTest::newRow("no result: end of stream alone") << 0 << false;
    QTest::newRow("one row") << 1 << false;
    QTest::newRow("many rows in one read") << 60 << false;
    QTest::newRow("many rows, every frame split across reads") << 5 << true;
}

void TestBookSearch::countBox()
{
    QFETCH(int, rows);
    QFETCH(bool, split);
    QList<QByteArray> chunks;
    QByteArray all;
    for (int i = 0; i < rows; ++i) {
        const QByteArray frame = frameOf(bookRow(i));
        if (split)
            chunks << frame.left(3) << frame.mid(3);
        else
            all += frame;
    }
    if (!split)
        chunks << all;
    chunks << Wire::endOfStreamFrame();
    server->addReply(chunks);

    QTest::ignoreMessage(QtDebugMsg, "Receive End");
    auto* search = widget<QPushButton>(window.get(), "searchButton");
    auto* stop = widget<QPushButton>(window.get(), "stopButton");
    search->click();
    QVERIFY(!search->isEnabled());
    QVERIFY(stop->isEnabled());
    QTRY_COMPARE(boxes->seen(), QStringList{"Searching completed|Find " + QString::number(rows) + " result"});

    auto* list = widget<QTreeWidget>(window.get(), "bookList");
    QCOMPARE(list->topLevelItemCount(), rows);
    for (int i = 0; i < rows; ++i) {
        QStringList expected = bookRow(i);
        expected[7] = QStringLiteral("VIP");
        QCOMPARE(rowTexts(list, i, 8), expected);
    }
    QVERIFY(search->isEnabled());
    QVERIFY(!stop->isEnabled());
}

void TestBookSearch::permissionColumn_data()
{
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Super Admin") << "Super Admin"
                                 << "超级管理员";
    QTest::newRow("Administrator") << "Administrator"
                                   << "管理员";
    QTest::newRow("Undergraduate") << "Undergraduate"
                                   << "本科生";
    QTest::newRow("VIP stays VIP") << "VIP"
                                   << "VIP";
    QTest::newRow("empty shows Guest") << ""
                                       << "Guest";
    QTest::newRow("wrong case shows Guest") << "vip"
                                            << "Guest";
}

void TestBookSearch::permissionColumn()
{
    QFETCH(QString, sent);
    QFETCH(QString, shown);
    server->addFrames({bookRow(1, QStringLiteral("空闲"), sent)});
    widget<QPushButton>(window.get(), "searchButton")->click();
    QTRY_COMPARE(boxes->boxes().size(), 1);
    auto* list = widget<QTreeWidget>(window.get(), "bookList");
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(7), shown);
}

// Stop in the middle of a stream keeps and counts the rows that arrived; the rest is dropped.
void TestBookSearch::stopMidStream()
{
    QByteArray rows;
    for (int i = 0; i < 3; ++i)
        rows += frameOf(bookRow(i));
    // Three rows, then half of a fourth, then nothing more: the stream never ends on its own.
    server->addReply({rows, frameOf(bookRow(3)).left(10)}, false);

    widget<QPushButton>(window.get(), "searchButton")->click();
    auto* list = widget<QTreeWidget>(window.get(), "bookList");
    QTRY_COMPARE(list->topLevelItemCount(), 3);
    widget<QPushButton>(window.get(), "stopButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"Searching completed|Find 3 result"});
    QCOMPARE(list->topLevelItemCount(), 3);
    QVERIFY(widget<QPushButton>(window.get(), "searchButton")->isEnabled());
    QVERIFY(!widget<QPushButton>(window.get(), "stopButton")->isEnabled());
    QTRY_COMPARE(server->closedCount(), 1);
}

void TestBookSearch::refusedConnection()
{
    writeRefusedAddress();
    widget<QPushButton>(window.get(), "searchButton")->click();
    // The error alone: a count of 0 would read as "no such book".
    QTRY_VERIFY(widget<QPushButton>(window.get(), "searchButton")->isEnabled());
    QTest::qWait(100);
    QCOMPARE(boxes->seen(), QStringList{refusedBox});
}

void TestBookSearch::secondSearchClearsTheList()
{
    server->addFrames({bookRow(1), bookRow(2)});
    // The second reply is silent: the list must already be empty before any row of it arrives.
    server->addSilence();
    auto* list = widget<QTreeWidget>(window.get(), "bookList");
    widget<QPushButton>(window.get(), "searchButton")->click();
    QTRY_COMPARE(boxes->boxes().size(), 1);
    QCOMPARE(list->topLevelItemCount(), 2);
    widget<QPushButton>(window.get(), "searchButton")->click();
    QCOMPARE(list->topLevelItemCount(), 0);
    QTRY_COMPARE(server->requests().size(), 2);
}

void TestBookSearch::malformedRowIsSkipped()
{
    server->addFrames({bookRow(1), {"only", "three", "fields"}, bookRow(2)});
    widget<QPushButton>(window.get(), "searchButton")->click();
    QTRY_COMPARE(boxes->seen(), QStringList{"Searching completed|Find 2 result"});
    auto* list = widget<QTreeWidget>(window.get(), "bookList");
    QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("书名2"));
}

QTEST_MAIN(TestBookSearch)
#include "tst_booksearch.moc"
