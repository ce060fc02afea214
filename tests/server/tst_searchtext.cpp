#include "fieldquery.h"
#include "pinyintable.h"
#include "searchtext.h"

#include <QtTest>

#include <unicode/translit.h>

#include <memory>
#include <thread>

class TestSearchText : public QObject
{
    Q_OBJECT

private slots:
    void fold_data();
    void fold();
    void pinyin_data();
    void pinyin();
    void pinyinQuery_data();
    void pinyinQuery();
    void bookNumberKey_data();
    void bookNumberKey();
    void grams_data();
    void grams();
    void tier_data();
    void tier();
    void pinyinTableReadsLikeIcu();
    void manyThreadsFoldAlike();
};

void TestSearchText::fold_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("folded");
    QTest::newRow("traditional to simplified") << u"三國演義"_qs << u"三国演义"_qs;
    QTest::newRow("traditional phrase rule") << u"頭髮"_qs << u"头发"_qs;
    QTest::newRow("full-width letters") << u"ＡＢＣ"_qs << u"abc"_qs;
    QTest::newRow("full-width digits") << u"１９８４"_qs << u"1984"_qs;
    QTest::newRow("ascii case") << u"War and PEACE"_qs << u"war and peace"_qs;
    QTest::newRow("accent") << u"Café"_qs << u"cafe"_qs;
    QTest::newRow("accents, decomposed input") << u"Dostoe\u0301vskiI\u0306"_qs << u"dostoevskii"_qs;
    QTest::newRow("diaeresis") << u"Dostoïevski"_qs << u"dostoievski"_qs;
    QTest::newRow("sharp s case folds") << u"Straße"_qs << u"strasse"_qs;
    QTest::newRow("ideographic space, runs of space") << u"  三国\u3000\u3000演义 \t"_qs << u"三国 演义"_qs;
    QTest::newRow("kana voicing stays") << u"が"_qs << u"が"_qs;
    QTest::newRow("devanagari vowel sign stays") << u"हिंदी"_qs << u"हिंदी"_qs;
    QTest::newRow("empty") << QString() << QString();
}

void TestSearchText::fold()
{
    QFETCH(QString, text);
    QFETCH(QString, folded);
    QCOMPARE(SearchText::fold(text), folded);
    QCOMPARE(SearchText::fold(folded), folded); // folding is idempotent: stored forms stay put
}

void TestSearchText::pinyin_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("syllables");
    QTest::addColumn<QString>("initials");
    QTest::newRow("simplified") << u"三国演义"_qs << u"sanguoyanyi"_qs << u"sgyy"_qs;
    QTest::newRow("traditional, folded first") << u"三國演義"_qs << u"sanguoyanyi"_qs << u"sgyy"_qs;
    QTest::newRow("reading depends on the next character") << u"重庆"_qs << u"chongqing"_qs << u"cq"_qs;
    QTest::newRow("ü stored as u") << u"绿色"_qs << u"luse"_qs << u"ls"_qs;
    QTest::newRow("words between characters") << u"Java编程 第2版"_qs << u"jauabianchengdi2ban"_qs << u"jbcd2b"_qs;
    QTest::newRow("no chinese") << u"War and Peace"_qs << QString() << QString();
}

void TestSearchText::pinyin()
{
    QFETCH(QString, text);
    QFETCH(QString, syllables);
    QFETCH(QString, initials);
    const SearchText::Pinyin p = SearchText::pinyin(SearchText::fold(text));
    QCOMPARE(p.syllables, syllables);
    QCOMPARE(p.initials, initials);
}

void TestSearchText::pinyinQuery_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("query"); // what is looked for among the stored syllables or initials
    QTest::newRow("syllables together") << u"sanguo"_qs << u"sanguo"_qs;
    QTest::newRow("syllables apart") << u"san guo yan yi"_qs << u"sanguoyanyi"_qs;
    QTest::newRow("initials") << u"sgyy"_qs << u"sgyy"_qs;
    QTest::newRow("capitals, full width") << u"ＳＡＮ Guo"_qs << u"sanguo"_qs;
    QTest::newRow("apostrophe") << u"xi'an"_qs << u"xian"_qs;
    QTest::newRow("v for ü") << u"lvse"_qs << u"luse"_qs;
    QTest::newRow("chinese is no pinyin") << u"三国"_qs << QString();
    QTest::newRow("punctuation is no pinyin") << u"c++"_qs << QString();
    QTest::newRow("digits alone are no pinyin") << u"1984"_qs << QString();
}

void TestSearchText::pinyinQuery()
{
    QFETCH(QString, typed);
    QFETCH(QString, query);
    QCOMPARE(SearchText::pinyinQuery(SearchText::fold(typed)), query);
}

void TestSearchText::bookNumberKey_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("hyphens") << u"978-7-02-000220-7"_qs << u"9787020002207"_qs;
    QTest::newRow("spaces and case") << u"isbn 978 7020"_qs << u"ISBN-978-7020"_qs;
    QTest::newRow("dashes and full width") << u"ＳＢ–0001"_qs << u"sb0001"_qs;
}

void TestSearchText::bookNumberKey()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QCOMPARE(SearchText::bookNumberKey(typed), SearchText::bookNumberKey(stored));
    QVERIFY(SearchText::bookNumberKey(u"SB0001"_qs) != SearchText::bookNumberKey(u"SB0002"_qs));
}

void TestSearchText::grams_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("grams");
    QTest::newRow("runs apart") << u"三國 演义"_qs << u"三 国 演 义 三国 演义"_qs;
    QTest::newRow("latin between") << u"C语言 第2版"_qs << u"语 言 第 版 语言"_qs;
    QTest::newRow("no chinese") << u"War and Peace"_qs << QString();
}

void TestSearchText::grams()
{
    QFETCH(QString, text);
    QFETCH(QString, grams);
    QCOMPARE(SearchText::grams(SearchText::fold(text)), grams);
}

void TestSearchText::tier_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("tier");
    QTest::newRow("exact, another width and case") << u"ＷＡＲ and peace"_qs << u"War and Peace"_qs << 0;
    QTest::newRow("exact, traditional") << u"三國演義"_qs << u"三国演义"_qs << 0;
    QTest::newRow("exact pinyin") << u"san guo yan yi"_qs << u"三国演义"_qs << 0;
    QTest::newRow("exact initials") << u"sgyy"_qs << u"三国演义"_qs << 0;
    QTest::newRow("beginning") << u"war"_qs << u"War and Peace"_qs << 1;
    QTest::newRow("beginning, pinyin") << u"sanguo"_qs << u"三国演义"_qs << 1;
    QTest::newRow("whole word") << u"peace"_qs << u"War and Peace"_qs << 2;
    QTest::newRow("whole word, not the part of one") << u"and"_qs << u"Sandy and Peace"_qs << 2;
    QTest::newRow("inside a word") << u"eac"_qs << u"War and Peace"_qs << 3;
    QTest::newRow("inside, pinyin") << u"guoyan"_qs << u"三国演义"_qs << 3;
    QTest::newRow("initials need one word") << u"sg yy"_qs << u"三国演义"_qs << 3;
}

void TestSearchText::tier()
{
    QFETCH(QString, typed);
    QFETCH(QString, title);
    QFETCH(int, tier);
    const QString folded = SearchText::fold(title);
    const SearchText::Pinyin p = SearchText::pinyin(folded);
    QCOMPARE(int(FieldQuery::from(typed).tier(folded, p.syllables, p.initials)), tier);
}

// The table must read every character as ICU's own transliterator does.
void TestSearchText::pinyinTableReadsLikeIcu()
{
    const PinyinTable table = PinyinTable::fromIcu();
    QVERIFY(!table.isEmpty());
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> hanLatin(
        icu::Transliterator::createInstance(icu::UnicodeString("Han-Latin", -1, US_INV), UTRANS_FORWARD, status));
    QVERIFY(U_SUCCESS(status));
    int differ = 0;
    for (char32_t c = 0x3400; c <= 0x9FFF; ++c) {
        icu::UnicodeString text{UChar32(c)};
        hanLatin->transliterate(text);
        const QString latin = QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
        QString expected;
        for (QChar ch : latin.normalized(QString::NormalizationForm_D)) {
            if (ch.unicode() < 0x0300 || ch.unicode() > 0x036F)
                expected += ch;
        }
        if (expected == QString::fromUcs4(&c, 1))
            expected.clear(); // no reading: left as it was
        if (table.reading(c, 0) != expected && ++differ <= 5)
            qWarning() << QString::fromUcs4(&c, 1) << table.reading(c, 0) << expected;
    }
    QCOMPARE(differ, 0);
}

void TestSearchText::manyThreadsFoldAlike()
{
    const QStringList texts{u"三國演義"_qs, u"Café ＡＢＣ"_qs, u"後來 發展"_qs, u"重慶 绿色"_qs};
    QStringList expected;
    for (const QString& t : texts)
        expected << SearchText::fold(t) + SearchText::pinyin(SearchText::fold(t)).syllables;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 8; ++n) {
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                const QString& t = texts[i % texts.size()];
                if (SearchText::fold(t) + SearchText::pinyin(SearchText::fold(t)).syllables
                    != expected[i % texts.size()])
                    ++wrong;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    QCOMPARE(wrong.load(), 0);
}

QTEST_APPLESS_MAIN(TestSearchText)
#include "tst_searchtext.moc"
