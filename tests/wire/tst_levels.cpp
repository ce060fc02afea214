#include "userinfo.h"

#include <QtTest>

class TestLevels : public QObject
{
    Q_OBJECT

private slots:
    void code_data();
    void code();
    void name_data();
    void name();
    void raiseAndLower_data();
    void raiseAndLower();
    void chinese_data();
    void chinese();
    void checkPermission_data();
    void checkPermission();
};

void TestLevels::code_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::newRow("Guest") << "Guest" << 0;
    QTest::newRow("Undergraduate") << "Undergraduate" << 1;
    QTest::newRow("Postgraduate") << "Postgraduate" << 2;
    QTest::newRow("VIP") << "VIP" << 3;
    QTest::newRow("Administrator") << "Administrator" << 4;
    QTest::newRow("Super Admin") << "Super Admin" << 5;
    QTest::newRow("lower case guest") << "guest" << -1;
    QTest::newRow("public") << "public" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("chinese name") << "超级管理员" << -1;
    QTest::newRow("trailing space") << "VIP " << -1;
}

void TestLevels::code()
{
    QFETCH(QString, name);
    QFETCH(int, code);
    QCOMPARE(UserInfo().getPermissionCode(name), code);
}

void TestLevels::name_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("-1") << -1 << "Guest";
    QTest::newRow("0") << 0 << "Guest";
    QTest::newRow("3") << 3 << "VIP";
    QTest::newRow("5") << 5 << "Super Admin";
    QTest::newRow("6") << 6 << "Guest";
}

void TestLevels::name()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(UserInfo().getPermissionName(code), name);
}

void TestLevels::raiseAndLower_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("raised");
    QTest::addColumn<QString>("lowered");
    QTest::newRow("Guest") << "Guest"
                           << "Undergraduate"
                           << "Guest";
    QTest::newRow("Undergraduate") << "Undergraduate"
                                   << "Postgraduate"
                                   << "Guest";
    QTest::newRow("Postgraduate") << "Postgraduate"
                                  << "VIP"
                                  << "Undergraduate";
    QTest::newRow("VIP") << "VIP"
                         << "Administrator"
                         << "Postgraduate";
    QTest::newRow("Administrator never raised to Super Admin") << "Administrator"
                                                               << "Administrator"
                                                               << "VIP";
    QTest::newRow("Super Admin never changes") << "Super Admin"
                                               << "Super Admin"
                                               << "Super Admin";
    QTest::newRow("public") << "public"
                            << "Guest"
                            << "Guest";
    QTest::newRow("empty") << ""
                           << "Guest"
                           << "Guest";
}

void TestLevels::raiseAndLower()
{
    QFETCH(QString, level);
    QFETCH(QString, raised);
    QFETCH(QString, lowered);
    QCOMPARE(UserInfo().escalatePermission(level), raised);
    QCOMPARE(UserInfo().degradePermission(level), lowered);
}

void TestLevels::chinese_data()
{
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("backToEnglish");
    QTest::newRow("Undergraduate") << "Undergraduate"
                                   << "本科生"
                                   << "Undergraduate";
    QTest::newRow("Postgraduate") << "Postgraduate"
                                  << "研究生"
                                  << "Postgraduate";
    QTest::newRow("VIP") << "VIP"
                         << "VIP"
                         << "VIP";
    QTest::newRow("Administrator") << "Administrator"
                                   << "管理员"
                                   << "Administrator";
    QTest::newRow("Super Admin") << "Super Admin"
                                 << "超级管理员"
                                 << "Super Admin";
    QTest::newRow("Guest stays English") << "Guest"
                                         << "Guest"
                                         << "Guest";
    QTest::newRow("unknown") << "Librarian"
                             << "Guest"
                             << "Guest";
    QTest::newRow("empty") << ""
                           << "Guest"
                           << "Guest";
}

void TestLevels::chinese()
{
    QFETCH(QString, english);
    QFETCH(QString, chinese);
    QFETCH(QString, backToEnglish);
    QCOMPARE(UserInfo().permissionToChinese(english), chinese);
    QCOMPARE(UserInfo().permissionToEnglish(chinese), backToEnglish);
}

void TestLevels::checkPermission_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("book");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("VIP reaches VIP") << "VIP"
                                     << "VIP" << true;
    QTest::newRow("VIP reaches Undergraduate") << "VIP"
                                               << "Undergraduate" << true;
    QTest::newRow("VIP does not reach Administrator") << "VIP"
                                                      << "Administrator" << false;
    QTest::newRow("Super Admin reaches Super Admin") << "Super Admin"
                                                     << "Super Admin" << true;
    QTest::newRow("Guest reaches Guest") << "Guest"
                                         << "Guest" << true;
    QTest::newRow("public reaches nothing") << "public"
                                            << "Guest" << false;
    QTest::newRow("unknown book level is reached by everyone known") << "Guest"
                                                                     << "Librarian" << true;
    QTest::newRow("unknown book level: public (-1 >= -1)") << "public"
                                                           << "Librarian" << true;
}

void TestLevels::checkPermission()
{
    QFETCH(QString, account);
    QFETCH(QString, book);
    QFETCH(bool, allowed);
    UserInfo user;
    user.permission = account;
    QCOMPARE(user.checkPermission(book), allowed);
}

QTEST_APPLESS_MAIN(TestLevels)
#include "tst_levels.moc"
