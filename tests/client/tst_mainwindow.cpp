#include "mainwindow.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

// The main window as a guest first sees it.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void actions_data();
    void actions();
    void menusInOrder();
    void searchFormAndHeadings();
    void logoutAsGuestKeepsGuestState();
};

void TestMainWindow::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("login") << "actionLogin"
                           << "登入"
                           << "Ctrl+I" << true;
    QTest::newRow("logout") << "actionLogout"
                            << "注销"
                            << "Ctrl+O" << false;
    QTest::newRow("exit") << "actionExit"
                          << "退出"
                          << "Ctrl+Q" << true;
    QTest::newRow("change ip") << "actionChangeIP"
                               << "更改主机ip"
                               << "" << true;
    QTest::newRow("search book") << "actionSearch_Book"
                                 << "Search Book"
                                 << "" << true;
    QTest::newRow("info") << "actionInfo"
                          << "个人信息"
                          << "Alt+I" << false;
    QTest::newRow("register") << "actionRegister"
                              << "注册"
                              << "" << true;
    QTest::newRow("user manage") << "actionUserManage"
                                 << "用户管理"
                                 << "" << true;
    QTest::newRow("add book") << "actionAddBook"
                              << "增添书籍"
                              << "" << true;
    QTest::newRow("borrowed books") << "actionBorrowBook"
                                    << "书籍管理"
                                    << "" << false;
}

void TestMainWindow::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QFETCH(bool, enabled);
    MainWindow window;
    auto* action = window.findChild<QAction*>(name);
    QVERIFY(action);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut().toString(), shortcut);
    QCOMPARE(action->isEnabled(), enabled);
}

static QStringList entries(const QMenu* menu)
{
    QStringList list;
    for (const QAction* action : menu->actions())
        list << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return list;
}

void TestMainWindow::menusInOrder()
{
    MainWindow window;
    QStringList bar;
    for (const QAction* action : window.menuBar()->actions())
        bar << action->text();
    QCOMPARE(bar, (QStringList{"用户", "选项"}));
    QCOMPARE(entries(window.findChild<QMenu*>("menuUser")),
             (QStringList{"登入", "注销", "注册", "个人信息", "我的预约", "-", "退出", "-"}));
    QCOMPARE(entries(window.findChild<QMenu*>("menuOption")),
             (QStringList{"更改主机ip", "TLS设置", "-", "管理员操作", "书籍管理"}));
    auto* admin = window.findChild<QMenu*>("menuAdmin");
    QCOMPARE(entries(admin),
             (QStringList{"-", "用户管理", "增添书籍", "标签打印", "借还台", "逾期列表", "审计记录", "通知", "统计",
                          "盘点"}));
    QVERIFY(!admin->isEnabled());
}

void TestMainWindow::searchFormAndHeadings()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Welcome!"));
    QCOMPARE(window.minimumSize(), QSize(821, 486));
    QCOMPARE(window.maximumSize(), QSize(821, 486));
    for (const char* name : {"bookEdit", "authorEdit", "bookNumber", "bookYearF", "bookYearT", "typeEdit", "pressEdit"})
        QVERIFY2(window.findChild<QLineEdit*>(name), name);
    QVERIFY(window.findChild<QPushButton*>("searchButton")->isEnabled());
    QVERIFY(!window.findChild<QPushButton*>("stopButton")->isEnabled());
    auto* list = window.findChild<QTreeWidget*>("bookList");
    QStringList headings;
    for (int i = 0; i < list->columnCount(); ++i)
        headings << list->headerItem()->text(i);
    QCOMPARE(headings, (QStringList{"书名", "作者", "类别", "出版社", "出版时间", "书号", "状态", "借阅权限"}));
    QCOMPARE(window.currentUser().id, QStringLiteral("Guest"));
    QCOMPARE(window.currentUser().permission, QStringLiteral("public"));
    QVERIFY(!window.currentUser().checkPermission(QStringLiteral("Guest")));
}

void TestMainWindow::logoutAsGuestKeepsGuestState()
{
    MainWindow window;
    window.findChild<QAction*>("actionLogout")->trigger();
    QCOMPARE(window.windowTitle(), QStringLiteral("Welcome!"));
    QVERIFY(window.findChild<QAction*>("actionLogin")->isEnabled());
    QVERIFY(!window.findChild<QAction*>("actionInfo")->isEnabled());
    QVERIFY(!window.findChild<QMenu*>("menuAdmin")->isEnabled());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
