#include "latencystats.h"
#include "levels.h"
#include "syntheticcatalogue.h"

#include <QSet>
#include <QTest>

class TestSyntheticCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void csvLineQuotes_data();
    void csvLineQuotes();
    void parseSize_data();
    void parseSize();
    void rowsAreWholeAndNumbersUnique();
    void searchWordMatchesOnlyItsOwnTitles_data();
    void searchWordMatchesOnlyItsOwnTitles();
    void percentiles_data();
    void percentiles();
};

void TestSyntheticCatalogue::csvLineQuotes_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("plain") << QStringList{"a", "b"} << QByteArray("a,b\n");
    QTest::newRow("comma quoted") << QStringList{"Little, Brown", "x"} << QByteArray("\"Little, Brown\",x\n");
    QTest::newRow("quote doubled") << QStringList{"say \"hi\""} << QByteArray("\"say \"\"hi\"\"\"\n");
    QTest::newRow("line break quoted") << QStringList{"a\nb", ""} << QByteArray("\"a\nb\",\n");
    QTest::newRow("utf-8") << QStringList{"红楼梦"} << QString("红楼梦\n").toUtf8();
}

void TestSyntheticCatalogue::csvLineQuotes()
{
    QFETCH(QStringList, values);
    QFETCH(QByteArray, line);
    QCOMPARE(SyntheticCatalogue::csvLine(values), line);
}

void TestSyntheticCatalogue::parseSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("count");
    QTest::newRow("plain") << "2500" << qint64(2500);
    QTest::newRow("k") << "10k" << qint64(10000);
    QTest::newRow("M") << "1M" << qint64(1000000);
    QTest::newRow("lower m") << "2m" << qint64(2000000);
    QTest::newRow("zero") << "0" << qint64(-1);
    QTest::newRow("negative") << "-5k" << qint64(-1);
    QTest::newRow("unit alone") << "k" << qint64(-1);
    QTest::newRow("words") << "many" << qint64(-1);
    QTest::newRow("overflow") << "99999999999999999M" << qint64(-1);
}

void TestSyntheticCatalogue::parseSize()
{
    QFETCH(QString, text);
    QFETCH(qint64, count);
    QCOMPARE(SyntheticCatalogue::parseSize(text), count);
}

void TestSyntheticCatalogue::rowsAreWholeAndNumbersUnique()
{
    const SyntheticCatalogue catalogue(5000);
    QSet<QString> numbers;
    QSet<int> levels;
    for (qint64 i = 0; i < catalogue.size(); ++i) {
        const QStringList row = catalogue.csvRow(i);
        QCOMPARE(row.size(), SyntheticCatalogue::csvHeader().size());
        QVERIFY2(!row[0].isEmpty() && !row[5].isEmpty(), "a book needs a title and a number");
        QVERIFY2(Levels::code(row[6]) >= 0, qPrintable(row[6]));
        QVERIFY2(!numbers.contains(row[5]), qPrintable(row[5]));
        numbers.insert(row[5]);
        levels.insert(Levels::code(row[6]));
        const QStringList record = catalogue.bookRecord(i);
        QCOMPARE(record.size(), 8);
        QCOMPARE(record[5], row[5]);
        QCOMPARE(record[6], QStringLiteral("空闲"));
        QCOMPARE(record[7], row[6]);
    }
    QCOMPARE(levels.size(), 6); // every permission level occurs
}

void TestSyntheticCatalogue::searchWordMatchesOnlyItsOwnTitles_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("tiny") << qint64(20);
    QTest::newRow("10k") << qint64(10000);
}

// The title search figures mean something only if a word finds the few titles made with it, at any
// catalogue size, and not also every title where it happens to occur inside another word.
void TestSyntheticCatalogue::searchWordMatchesOnlyItsOwnTitles()
{
    QFETCH(qint64, size);
    const SyntheticCatalogue catalogue(size);
    QStringList titles;
    for (qint64 i = 0; i < size; ++i)
        titles << catalogue.csvRow(i).first();
    qint64 found = 0;
    for (qint64 k = 0; k < 50; ++k) {
        const QString word = catalogue.searchWord(k);
        for (const QString& title : titles) {
            if (title.contains(word, Qt::CaseInsensitive)) {
                QVERIFY2(title.endsWith(u' ' + word), qPrintable(title + " / " + word));
                ++found;
            }
        }
    }
    // About titlesPerWord per word; far fewer would mean words that match nothing.
    QVERIFY2(found >= 50 * qMin<qint64>(size, SyntheticCatalogue::titlesPerWord) / 4,
             qPrintable(QString::number(found)));
}

void TestSyntheticCatalogue::percentiles_data()
{
    QTest::addColumn<QList<qint64>>("samplesMs");
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("expectedMs");
    QTest::newRow("none") << QList<qint64>{} << 50.0 << 0.0;
    QTest::newRow("one") << QList<qint64>{7} << 99.0 << 7.0;
    QTest::newRow("median of unsorted") << QList<qint64>{5, 1, 3, 2, 4} << 50.0 << 3.0;
    QTest::newRow("p99 of 100 is the 99th") << [] {
        QList<qint64> v;
        for (qint64 i = 100; i >= 1; --i)
            v << i;
        return v;
    }() << 99.0 << 99.0;
    QTest::newRow("p100 is the maximum") << QList<qint64>{9, 1, 4} << 100.0 << 9.0;
}

void TestSyntheticCatalogue::percentiles()
{
    QFETCH(QList<qint64>, samplesMs);
    QFETCH(double, p);
    QFETCH(double, expectedMs);
    LatencyStats stats;
    for (qint64 ms : samplesMs)
        stats.add(ms * 1000000);
    QCOMPARE(stats.percentileMs(p), expectedMs);
}

QTEST_GUILESS_MAIN(TestSyntheticCatalogue)
#include "tst_syntheticcatalogue.moc"
