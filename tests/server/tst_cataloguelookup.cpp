#include "serverfixture.h"
#include "zebraserver.h"

#include <QElapsedTimer>
#include <QTcpServer>

// Copy cataloguing against real Z39.50 and SRU servers on loopback: Zebra holding MARC 21 and
// UNIMARC records (Chinese titles among them), a target that accepts the connection and never
// answers, and one that refuses it.
class TestCatalogueLookup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void lookup_data();
    void lookup();
    void noTargetAnswers();
    void readersCannotLookUp();

private:
    WireClient::Reply lookUp(const ServerProcess& server, const QString& text) const;

    ZebraServer m_zebra;
    QTcpServer m_silent; // accepts (the kernel does) and never says a word
    quint16 m_refusing = 0;
    ServerProcess m_server{QStringLiteral(SERVER_BINARY)};
    ServerProcess m_unreachable{QStringLiteral(SERVER_BINARY)};
    ServerProcess m_sru{QStringLiteral(SERVER_BINARY)}; // asks Zebra over SRU only
};

namespace {

QByteArray datafield(const char* tag, const QList<std::pair<const char*, QByteArray>>& subfields)
{
    QByteArray field = QByteArray("<datafield tag=\"") + tag + "\" ind1=\" \" ind2=\" \">";
    for (const auto& [code, value] : subfields)
        field += QByteArray("<subfield code=\"") + code + "\">" + value + "</subfield>";
    return field + "</datafield>\n";
}

QByteArray collection(const QByteArray& records)
{
    return "<collection xmlns=\"http://www.loc.gov/MARC21/slim\">\n" + records + "</collection>\n";
}

const QByteArray marc21Records = collection(
    "<record><leader>00000nam a2200000 a 4500</leader>"
    "<controlfield tag=\"008\">080101s2008    cc            000 0 chi d</controlfield>"
    + datafield("020", {{"a", "9787020002207"}}) + datafield("100", {{"a", "曹雪芹,"}})
    + datafield("245", {{"a", "红楼梦 /"}, {"c", "曹雪芹著"}})
    + datafield("260", {{"b", "人民文学出版社,"}, {"c", "2008."}}) + datafield("082", {{"a", "895.1"}}) + "</record>\n"
    + "<record><leader>00000nam a2200000 a 4500</leader>"
      "<controlfield tag=\"008\">970101s1997    xx            000 0 eng d</controlfield>"
    + datafield("020", {{"a", "0201896834 (v. 1)"}}) + datafield("110", {{"a", "Addison-Wesley."}})
    + datafield("245", {{"a", "The art of computer programming :"}, {"b", "fundamental algorithms /"}})
    + datafield("264", {{"b", "Addison-Wesley,"}, {"c", "[1997]"}}) + datafield("650", {{"a", "Computer programming."}})
    + "</record>\n");

const QByteArray unimarcRecords = collection(
    "<record><leader>00000nam0 2200000   450 </leader>" + datafield("010", {{"a", "9787536692930"}})
    + datafield("200", {{"a", "三体"}, {"f", "刘慈欣著"}}) + datafield("210", {{"c", "重庆出版社"}, {"d", "2008"}})
    + datafield("606", {{"a", "科幻小说"}}) + datafield("701", {{"a", "刘慈欣"}}) + "</record>\n");

} // namespace

void TestCatalogueLookup::initTestCase()
{
    if (const QString reason = ZebraServer::unavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY2(m_zebra.addRecords(marc21Records, false), qPrintable(m_zebra.errorText()));
    QVERIFY2(m_zebra.addRecords(unimarcRecords, true), qPrintable(m_zebra.errorText()));
    QVERIFY2(m_zebra.start(), qPrintable(m_zebra.errorText()));
    QVERIFY(m_silent.listen(QHostAddress::LocalHost, 0));
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        m_refusing = closed.serverPort();
    }
    const QString silent = QStringLiteral("127.0.0.1:%1/Default").arg(m_silent.serverPort());
    const QString refusing = QStringLiteral("127.0.0.1:%1/Default").arg(m_refusing);
    const QString zebra = QStringLiteral("127.0.0.1:%1/Default").arg(m_zebra.port());
    const QString sru = QStringLiteral("sru:http://127.0.0.1:%1/Default").arg(m_zebra.port());
    // The silent and the refusing target first: each costs its time, then Zebra answers.
    for (ServerProcess* server : {&m_server, &m_unreachable, &m_sru}) {
        server->setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
        server->setSetting(QStringLiteral("cataloguing/timeoutSeconds"), 2);
    }
    m_server.setSetting(QStringLiteral("cataloguing/targets"), QStringList{silent, refusing, zebra, sru});
    m_unreachable.setSetting(QStringLiteral("cataloguing/targets"), QStringList{silent, refusing});
    m_sru.setSetting(QStringLiteral("cataloguing/targets"), sru);
    for (ServerProcess* server : {&m_server, &m_unreachable, &m_sru}) {
        QVERIFY2(server->start(), qPrintable(server->errorText()));
        ServerFixture fx(*server);
        QCOMPARE(fx.login(fx.client(1), QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
                 QStringLiteral("PASS"));
    }
}

void TestCatalogueLookup::cleanupTestCase()
{
    QVERIFY(m_server.stop());
    QVERIFY(m_unreachable.stop());
    QVERIFY(m_sru.stop());
}

WireClient::Reply TestCatalogueLookup::lookUp(const ServerProcess& server, const QString& text) const
{
    return ServerFixture(const_cast<ServerProcess&>(server)).client(1).send(CatalogueLookupQuery{text});
}

void TestCatalogueLookup::lookup_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("record"); // the first row without its target; empty: no rows
    const QStringList hongloumeng{"红楼梦", "曹雪芹", "895.1", "人民文学出版社", "2008", "9787020002207"};
    QTest::newRow("MARC 21 by ISBN-13") << "9787020002207" << hongloumeng;
    QTest::newRow("the same typed with hyphens") << "978-7-02-000220-7" << hongloumeng;
    QTest::newRow("an ISBN-10 that the record holds as such: corporate author, 264, the first 650")
        << "0-201-89683-4"
        << QStringList{"The art of computer programming : fundamental algorithms",
                       "Addison-Wesley",
                       "Computer programming",
                       "Addison-Wesley",
                       "1997",
                       "9780201896831"};
    QTest::newRow("UNIMARC: a Chinese title searched as a title")
        << "三体" << QStringList{"三体", "刘慈欣", "科幻小说", "重庆出版社", "2008", "9787536692930"};
    QTest::newRow("nobody has it: no rows") << "9780306406157" << QStringList();
}

void TestCatalogueLookup::lookup()
{
    QFETCH(QString, text);
    QFETCH(QStringList, record);
    // The same answer over Z39.50 (after the silent and the refusing target) and over SRU (CQL, then
    // PQF; MARCXML). Zebra's SRU path re-encodes the stored bytes from its default record encoding
    // (Latin-1), so only records in ASCII come back whole that way.
    const QString z3950 = QStringLiteral("127.0.0.1:%1/Default").arg(m_zebra.port());
    QList<std::pair<ServerProcess*, QString>> servers{{&m_server, z3950}};
    const QString fields = record.join(QString());
    if (std::all_of(fields.cbegin(), fields.cend(), [](QChar c) { return c.unicode() < 128; }))
        servers.append({&m_sru, QStringLiteral("sru:http://") + z3950});
    for (const auto& [server, target] : servers) {
        const WireClient::Reply reply = lookUp(*server, text);
        QVERIFY2(reply.endOfStream, qPrintable(reply.error));
        if (record.isEmpty()) {
            QCOMPARE(reply.frames.size(), 0);
            continue;
        }
        QVERIFY2(!reply.frames.isEmpty(), qPrintable(target));
        const QStringList row = reply.frames.first();
        QCOMPARE(row.size(), Reply::CatalogueRowSize);
        QCOMPARE(row.mid(0, 6), record);
        QCOMPARE(row.value(6), target);
    }
}

void TestCatalogueLookup::noTargetAnswers()
{
    QElapsedTimer timer;
    timer.start();
    const WireClient::Reply reply = lookUp(m_unreachable, QStringLiteral("9787020002207"));
    QCOMPARE(reply.frames.size(), 1);
    const QStringList frame = reply.frames.first();
    QCOMPARE(frame.value(0), Wire::word(Refusal::CatalogueUnreachable));
    // Both targets are named with their errors: the silent one timed out, the other refused.
    QVERIFY2(frame.value(1).contains(QString::number(m_silent.serverPort()))
                 && frame.value(1).contains(QString::number(m_refusing)),
             qPrintable(frame.value(1)));
    // The server went on serving while the silent target held this request.
    QCOMPARE(ServerFixture(m_unreachable).bookRow(QStringLiteral("none")), QStringList());
    qInfo("two unreachable targets took %lld ms", timer.elapsed());
}

void TestCatalogueLookup::readersCannotLookUp()
{
    const ServerFixture fx(m_server);
    QCOMPARE(fx.client(9).send(CatalogueLookupQuery{QStringLiteral("三体")}).frames.size(), 0);
}

QTEST_GUILESS_MAIN(TestCatalogueLookup)
#include "tst_cataloguelookup.moc"
