#include "inventorydialog.h"
#include "mainwindow.h"
#include "messageboxwatcher.h"
#include "serverfixture.h"
#include "statisticsdialog.h"
#include "tempworkdir.h"
#include "windowtesting.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPieSeries>

using namespace WindowTesting;

// 盘点 and 统计 through the real client windows against the real server: a stocktake typed in as a
// scanner does, its report and the missing copy marked lost; a report with its chart, CSV and PNG.
class TestCollectionWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void stocktakeWithAScanner();
    void statisticsWithAChart();

private:
    ServerProcess m_server{QStringLiteral(SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
    std::unique_ptr<WireClient> m_admin;
    std::unique_ptr<TempWorkDir> m_dir;
    std::unique_ptr<MessageBoxWatcher> m_boxes;
    std::unique_ptr<MainWindow> m_window;
};

namespace {

constexpr int WaitMs = 30000;

} // namespace

void TestCollectionWindows::initTestCase()
{
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"),
                               "title,author,type,publisher,year,number,permission\n"
                               "Wind,Wu,Kids,P,2001,W-1,Undergraduate\n"
                               "Wave,Wu,Kids,P,2001,W-2,Undergraduate\n"
                               "Wool,Wu,Kids,P,2001,W-3,Undergraduate\n"));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    m_admin = std::make_unique<WireClient>(m_fx->client(2));
    QCOMPARE(m_fx->loginWithToken(*m_admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    // A reader has W-2 out: on the shelf it is a copy that came back without a check-in.
    QVERIFY(m_fx->createUser(*m_admin, QStringLiteral("ann"), QStringLiteral("Ann-Pass-1"), Levels::Undergraduate));
    QCOMPARE(m_admin->send(BorrowBookQuery{{{}, {}, {}, {}, {}, QStringLiteral("W-2"), {}, {}}, QStringLiteral("ann")})
                 .word(),
             Reply::BorrowBookSuccessfully);

    m_dir = std::make_unique<TempWorkDir>();
    writeFile(QStringLiteral("hostIP.txt"), "127.0.0.1\n" + QByteArray::number(m_server.port()));
    writePlainClientSettings();
    m_boxes = std::make_unique<MessageBoxWatcher>();
    m_window = std::make_unique<MainWindow>();
    m_window->show();
    widget<QAction>(m_window.get(), "actionLogin")->trigger();
    auto* login = newest<QDialog>(m_window.get());
    widget<QLineEdit>(login, "userNameEdit")->setText(QStringLiteral("admin"));
    widget<QLineEdit>(login, "passwordEdit")->setText(QString::fromLatin1(ServerFixture::AdminPassword));
    press(login, "loginButton");
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->seen().value(0), QStringLiteral("PASS!|Login successfully!"), WaitMs);
    m_boxes->clear();
}

void TestCollectionWindows::cleanupTestCase()
{
    m_window.reset();
    m_boxes.reset();
    m_dir.reset();
    QVERIFY(m_server.stop());
}

void TestCollectionWindows::stocktakeWithAScanner()
{
    widget<QAction>(m_window.get(), "actionInventory")->trigger();
    auto* dialog = newest<InventoryDialog>(m_window.get());
    QVERIFY(dialog);
    widget<QLineEdit>(dialog, "nameEdit")->setText(QStringLiteral("W shelf"));
    widget<QLineEdit>(dialog, "prefixEdit")->setText(QStringLiteral("W-"));
    press(dialog, "startButton");
    QTRY_COMPARE_WITH_TIMEOUT(widget<QComboBox>(dialog, "inventoryBox")->count(), 1, WaitMs);

    // The scanner types each number and Enter faster than the answers come.
    auto* scan = widget<QLineEdit>(dialog, "scanEdit");
    for (const char* number : {"W-1", "W-1", "W-2", "NOPE"}) {
        QTest::keyClicks(scan, QLatin1String(number));
        QTest::keyClick(scan, Qt::Key_Return);
        QCOMPARE(scan->text(), QString());
    }
    auto* scans = widget<QTreeWidget>(dialog, "scanList");
    QTRY_COMPARE_WITH_TIMEOUT(scans->topLevelItemCount(), 4, WaitMs);
    const QMap<QString, int> expected{{QStringLiteral("OK"), 1},
                                      {QStringLiteral("DUPLICATE"), 1},
                                      {QStringLiteral("ON_LOAN"), 1},
                                      {QStringLiteral("UNKNOWN"), 1}};
    QCOMPARE(dialog->counts(), expected);
    // Newest first; only the copy where it belongs is not marked.
    QCOMPARE(scans->topLevelItem(0)->text(0), QStringLiteral("NOPE"));
    QVERIFY(scans->topLevelItem(0)->background(0).style() != Qt::NoBrush);
    QCOMPARE(scans->topLevelItem(3)->background(0).style(), Qt::NoBrush);

    press(dialog, "reportButton");
    auto* report = widget<QTreeWidget>(dialog, "reportList");
    QTRY_COMPARE_WITH_TIMEOUT(report->topLevelItemCount(), 3, WaitMs);
    QStringList findings;
    for (int i = 0; i < report->topLevelItemCount(); ++i)
        findings.append(report->topLevelItem(i)->text(0) + QLatin1Char(' ') + report->topLevelItem(i)->text(4));
    QCOMPARE(findings,
             (QStringList{QStringLiteral("NOPE ") + InventoryDialog::findingText(QStringLiteral("unknown")),
                          QStringLiteral("W-2 ") + InventoryDialog::findingText(QStringLiteral("on_loan_scanned")),
                          QStringLiteral("W-3 ") + InventoryDialog::findingText(QStringLiteral("missing"))}));
    QVERIFY(dialog->exportTo(QStringLiteral("stocktake.csv")));
    QVERIFY(
        QString::fromUtf8(readFile(QStringLiteral("stocktake.csv"))).contains(QStringLiteral("W-3,Wool,空闲,,缺失")));

    // Only the missing copy is marked, after the question.
    press(dialog, "markLostButton");
    QTRY_COMPARE_WITH_TIMEOUT(m_boxes->seen().value(0), QStringLiteral("PASS|已标记 1 册为丢失。"), WaitMs);
    QCOMPARE(m_boxes->questions().size(), 1);
    QCOMPARE(m_fx->bookRow(QStringLiteral("W-3")).value(6), QStringLiteral("丢失"));
    QCOMPARE(m_fx->bookRow(QStringLiteral("W-2")).value(6), QStringLiteral("已借出"));
    m_boxes->clear();
    dialog->close();
}

void TestCollectionWindows::statisticsWithAChart()
{
    widget<QAction>(m_window.get(), "actionStatistics")->trigger();
    auto* dialog = newest<StatisticsDialog>(m_window.get());
    QVERIFY(dialog);
    widget<QComboBox>(dialog, "reportBox")->setCurrentIndex(4);
    QCOMPARE(dialog->report(), QStringLiteral("by_type"));
    press(dialog, "queryButton");
    auto* table = widget<QTreeWidget>(dialog, "reportList");
    QTRY_COMPARE_WITH_TIMEOUT(table->topLevelItemCount(), 1, WaitMs);
    QCOMPARE(rowTexts(table, 0, 3), (QStringList{"Kids", "1", "1"}));
    // The chart holds the same numbers: one slice, all of the loans.
    const QList<QAbstractSeries*> series = widget<QChartView>(dialog, "chartView")->chart()->series();
    QCOMPARE(series.size(), 1);
    auto* pie = qobject_cast<QPieSeries*>(series.first());
    QVERIFY(pie && pie->count() == 1 && pie->sum() == 1.0);
    QVERIFY(dialog->saveChartTo(QStringLiteral("chart.png")));
    QVERIFY(!QImage(QStringLiteral("chart.png")).isNull());
    QVERIFY(dialog->exportTo(QStringLiteral("by_type.csv")));
    QCOMPARE(readFile(QStringLiteral("by_type.csv")), QByteArray("\xEF\xBB\xBF类别,借出,读者数\r\nKids,1,1\r\n"));
    QVERIFY(m_boxes->seen().isEmpty());
    dialog->close();
}

QTEST_MAIN(TestCollectionWindows)
#include "tst_collectionwindows.moc"
