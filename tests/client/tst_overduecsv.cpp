#include "overduedialog.h"

#include <QtTest>

// The overdue list's CSV: fields that would break a row are quoted, and a text that a spreadsheet
// would run as a formula (a reader's name is the reader's own text) is defused.
class TestOverdueCsv : public QObject
{
    Q_OBJECT

private slots:
    void field_data();
    void field();
};

void TestOverdueCsv::field_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("plain") << "张三" << QByteArray("张三");
    QTest::newRow("comma is quoted") << "Gamma, Helm" << QByteArray("\"Gamma, Helm\"");
    QTest::newRow("quote is doubled") << "say \"hi\"" << QByteArray("\"say \"\"hi\"\"\"");
    QTest::newRow("line break is quoted") << "a\nb" << QByteArray("\"a\nb\"");
    QTest::newRow("formula is defused") << "=HYPERLINK(\"x\")" << QByteArray("\"'=HYPERLINK(\"\"x\"\")\"");
    QTest::newRow("at-sign formula is defused") << "@SUM(A1)" << QByteArray("'@SUM(A1)");
    QTest::newRow("a phone number stays as it is") << "+86 (10) 1234-5678" << QByteArray("+86 (10) 1234-5678");
}

void TestOverdueCsv::field()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, written);
    const QByteArray csv =
        OverdueDialog::toCsv({{QStringLiteral("B1"), text}, {QStringLiteral("B2"), QStringLiteral("x")}});
    QCOMPARE(csv,
             "\xEF\xBB\xBF"
             "B1,"
                 + written + "\r\nB2,x\r\n");
}

QTEST_APPLESS_MAIN(TestOverdueCsv)
#include "tst_overduecsv.moc"
