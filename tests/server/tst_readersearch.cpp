#include "serverfixture.h"

Q_DECLARE_METATYPE(BookQuery)

// Searches typed the way readers type: another script form, pinyin, full width, without accents, book
// numbers without their hyphens; best match first. Over the wire, on each back end.
class TestReaderSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void findsTheBook_data();
    void findsTheBook();

private:
    ServerProcess m_server{QStringLiteral(SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
};

void TestReaderSearch::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"),
                               "title,author,type,publisher,year,number,permission\n"
                               "三国演义,罗贯中,小说,人民文学出版社,1998,978-7-02-008731-3,\n"
                               "三國志,陳壽,歷史,中華書局,1959,TW-0002,\n"
                               "紅樓夢,曹雪芹,小说,人民文学出版社,1982,C-0003,\n"
                               "话说三国,易中天,历史,中华书局,2005,C-0004,\n"
                               "The ABC Murders,Agatha Christie,Fiction,HarperCollins,1936,E-0001,\n"
                               "1984,George Orwell,Fiction,Penguin,1949,E-0002,\n"
                               "Café Society,Anon,Essays,Self,2000,E-0003,\n"
                               "Crime and Punishment,Fyodor Dostoevsky,Fiction,Penguin,1866,E-0004,\n"
                               "Les Frères Karamazov,Fiodor Dostoïevski,Roman,Gallimard,1880,E-0005,\n"
                               "Python,Guido,Computing,Self,2001,P-1,\n"
                               "Learning Python,Mark Lutz,Computing,O'Reilly,2013,P-2,\n"
                               "Python Cookbook,David Beazley,Computing,O'Reilly,2013,P-3,\n"
                               "CPython Internals,Anthony Shaw,Computing,Real Python,2021,P-4,\n"
                               "Pythonic Code,Anon,Computing,Self,2020,P-5,\n"));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    // One book added over the wire rather than imported.
    const WireClient admin = m_fx->client(1);
    QCOMPARE(m_fx->login(admin, QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    QCOMPARE(
        admin
            .send(AddBookQuery{QStringLiteral("西遊記"), QStringLiteral("吳承恩"), QStringLiteral("小说"),
                               QStringLiteral("XY-01"), QStringLiteral("1980"), QStringLiteral("中华书局"), QString()})
            .word(),
        Reply::AddBookSuccessfully);
}

void TestReaderSearch::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

void TestReaderSearch::findsTheBook_data()
{
    QTest::addColumn<BookQuery>("query");
    QTest::addColumn<QStringList>("numbers"); // in the order expected
    const auto title = [](const QString& text) { return BookQuery{text, {}, {}, {}, {}, {}, {}}; };
    const auto author = [](const QString& text) { return BookQuery{{}, text, {}, {}, {}, {}, {}}; };
    const auto number = [](const QString& text) { return BookQuery{{}, {}, text, {}, {}, {}, {}}; };
    const auto n = [](const char* list) { return QString::fromLatin1(list).split(u' ', Qt::SkipEmptyParts); };
    QTest::newRow("traditional finds simplified") << title(u"三國演義"_qs) << n("978-7-02-008731-3");
    QTest::newRow("simplified finds traditional") << title(u"红楼梦"_qs) << n("C-0003");
    QTest::newRow("traditional author") << author(u"陈寿"_qs) << n("TW-0002");
    QTest::newRow("pinyin, beginnings first") << title(u"sanguo"_qs) << n("978-7-02-008731-3 TW-0002 C-0004");
    QTest::newRow("pinyin with spaces") << title(u"san guo yan yi"_qs) << n("978-7-02-008731-3");
    QTest::newRow("pinyin initials") << title(u"sgyy"_qs) << n("978-7-02-008731-3");
    QTest::newRow("author pinyin") << author(u"Luo Guanzhong"_qs) << n("978-7-02-008731-3");
    QTest::newRow("author initials") << author(u"cxq"_qs) << n("C-0003");
    QTest::newRow("title and author narrow together")
        << BookQuery{u"sanguo"_qs, u"luo"_qs, {}, {}, {}, {}, {}} << n("978-7-02-008731-3");
    QTest::newRow("added book, pinyin") << title(u"xiyouji"_qs) << n("XY-01");
    QTest::newRow("added book, initials") << title(u"xyj"_qs) << n("XY-01");
    QTest::newRow("added book, simplified") << title(u"西游"_qs) << n("XY-01");
    QTest::newRow("two characters") << title(u"演义"_qs) << n("978-7-02-008731-3");
    QTest::newRow("two characters in no title") << title(u"义演"_qs) << n("");
    QTest::newRow("one character of an author") << author(u"罗"_qs) << n("978-7-02-008731-3");
    QTest::newRow("full-width letters") << title(u"ＡＢＣ"_qs) << n("E-0001");
    QTest::newRow("full-width digits") << title(u"１９８４"_qs) << n("E-0002");
    QTest::newRow("accent left out") << title(u"cafe"_qs) << n("E-0003");
    QTest::newRow("accent typed") << title(u"CAFÉ"_qs) << n("E-0003");
    QTest::newRow("author without the stored accents") << author(u"dostoievski"_qs) << n("E-0005");
    QTest::newRow("author with accents not stored") << author(u"Dostoévsky"_qs) << n("E-0004");
    QTest::newRow("number without hyphens") << number(u"9787020087313"_qs) << n("978-7-02-008731-3");
    QTest::newRow("number with spaces, other case") << number(u"tw 0002"_qs) << n("TW-0002");
    QTest::newRow("number in full width") << number(u"Ｃ－０００３"_qs) << n("C-0003");
    QTest::newRow("years in full width") << BookQuery{{}, {}, {}, u"１８６０"_qs, u"１８９９"_qs, {}, {}}
                                         << n("E-0004 E-0005");
    QTest::newRow("number part finds nothing") << number(u"TW-000"_qs) << n("");
    QTest::newRow("exact, beginning, whole word, inside") << title(u"python"_qs) << n("P-1 P-3 P-5 P-2 P-4");
}

void TestReaderSearch::findsTheBook()
{
    QFETCH(BookQuery, query);
    QFETCH(QStringList, numbers);
    const WireClient::Reply reply = m_fx->client(9).send(query);
    QVERIFY2(reply.endOfStream, qPrintable(reply.error));
    QStringList found;
    for (const QStringList& row : reply.frames) {
        QCOMPARE(row.size(), Reply::BookRowSize);
        found.append(row.value(5));
    }
    QCOMPARE(found, numbers);
}

QTEST_GUILESS_MAIN(TestReaderSearch)
#include "tst_readersearch.moc"
