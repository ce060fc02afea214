#include "serverfixture.h"

#include <QTcpSocket>

// Hostile bytes: none may crash the server, hold it up or change stored data. Each gets the
// end-of-stream frame and a closed connection, and the log says what was wrong.
class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void malformedRequest_data();
    void malformedRequest();
    void extraBytesAfterARequestDoNotCostTheReply();
    void tricklingPeerIsCutOffAtTheDeadline();
    void nothingChangedAndStillServing();
    void silentPeersDoNotBlockOthers();
    void connectionsBeyondTheLimitWaitTheirTurn();

private:
    ServerProcess m_server{QStringLiteral(SERVER_BINARY)};
    std::unique_ptr<ServerFixture> m_fx;
    QList<QStringList> m_catalogueBefore;
};

static QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

void TestBadInput::initTestCase()
{
    if (const QString reason = ServerProcess::backendUnavailableReason(); !reason.isEmpty())
        QSKIP(qPrintable(reason));
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"),
                               "title,author,type,publisher,year,number,permission\n"
                               "Alpha,A,T,P,2001,N1,Undergraduate\nBeta,B,T,P,2002,N2,VIP\n"));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    m_server.setSetting(QStringLiteral("admin/initialPassword"), QString::fromLatin1(ServerFixture::AdminPassword));
    m_server.setSetting(QStringLiteral("network/readTimeoutMs"), 1500);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fx = std::make_unique<ServerFixture>(m_server);
    m_catalogueBefore = m_fx->client().send(BookQuery{}).frames;
    QCOMPARE(m_catalogueBefore.size(), 2);
}

void TestBadInput::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

void TestBadInput::malformedRequest_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("logged");
    QTest::newRow("size word 0") << hex("0000") << "size word 0";
    QTest::newRow("size word 1") << hex("000141") << "malformed body of 1 bytes";
    QTest::newRow("size word 65534, half the body, then silence")
        << (hex("fffe") + QByteArray(30000, 'x')) << "no whole request within 1500 ms (30000 of 65534 bytes";
    QTest::newRow("connects and sends nothing")
        << QByteArray() << "no whole request within 1500 ms (0 bytes of a size word)";
    QTest::newRow("one byte of a size word") << hex("00") << "no whole request within 1500 ms (1 bytes of a size word)";
    QTest::newRow("string count past the frame") << hex("0008"
                                                        "00000010"
                                                        "00410042")
                                                 << "malformed body of 8 bytes";
    QTest::newRow("odd string count") << hex("0007"
                                             "00000003"
                                             "004100")
                                      << "malformed body of 7 bytes";
    QTest::newRow("truncated string count") << hex("0002"
                                                   "0000")
                                            << "malformed body of 2 bytes";
    QTest::newRow("null string as the query code") << hex("0004"
                                                          "ffffffff")
                                                   << "unknown query code \"\"";
    QTest::newRow("fields missing") << Wire::encodeFrame({QStringLiteral("QUERY_USER_LOGIN"), QStringLiteral("admin")})
                                    << "QUERY_USER_LOGIN carries 1 fields, expected 2";
    QTest::newRow("two fields too many") << Wire::encodeFrame(
        {QStringLiteral("QUERY_DELETE_USER"), QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")})
                                         << "QUERY_DELETE_USER carries 3 fields, expected 1 (or one more, a token)";
    QTest::newRow("unknown query code") << Wire::encodeFrame({QStringLiteral("QUERY_FORMAT_DISK")})
                                        << "unknown query code \"QUERY_FORMAT_DISK\"";
    QTest::newRow("query code in lower case")
        << Wire::encodeFrame({QStringLiteral("query_unconfirm_user")}) << "unknown query code \"query_unconfirm_user\"";
    QTest::newRow("end-of-stream word as the request") << hex("ffff") << "end-of-stream word instead of a request";
}

void TestBadInput::malformedRequest()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, logged);
    const int linesBefore = int(m_server.output().size());
    const WireClient::Reply reply = m_fx->client(5).sendBytes(bytes);
    QVERIFY2(reply.endOfStream, qPrintable(reply.error));
    QCOMPARE(reply.frames.size(), 0);
    QVERIFY(reply.closedByServer);
    QVERIFY2(m_server.waitForOutput(QStringLiteral("rejected: ") + logged, 30000, linesBefore),
             qPrintable(m_server.output().mid(linesBefore).join(QLatin1Char('\n'))));
}

void TestBadInput::extraBytesAfterARequestDoNotCostTheReply()
{
    // A well-formed request followed by junk: the request is answered in full, the rest ignored.
    const QByteArray request = Wire::encodeRequest(BookQuery{QStringLiteral("Alpha"), {}, {}, {}, {}, {}, {}});
    const WireClient::Reply reply = m_fx->client(5).sendBytes(request + request + QByteArray(5000, 'j'));
    QVERIFY2(reply.endOfStream, qPrintable(reply.error));
    QCOMPARE(reply.frames.size(), 1);
    QCOMPARE(reply.frames.first().value(5), QStringLiteral("N1"));
    QVERIFY(reply.closedByServer);
}

void TestBadInput::tricklingPeerIsCutOffAtTheDeadline()
{
    // One byte at a time would keep a per-read timeout alive forever; the whole request has one deadline.
    const int linesBefore = int(m_server.output().size());
    const std::unique_ptr<QTcpSocket> socket = m_fx->client(6).openConnection(hex("fffe"));
    int sent = 0;
    while (socket->state() == QAbstractSocket::ConnectedState && sent < 65534) {
        socket->write("x", 1);
        socket->waitForBytesWritten(1000);
        ++sent;
        if (socket->waitForReadyRead(100))
            break;
    }
    QVERIFY(sent < 65534);
    const WireClient::Reply reply = WireClient::readReply(*socket);
    QVERIFY2(reply.endOfStream, qPrintable(reply.error));
    QVERIFY(m_server.waitForOutput(QStringLiteral("no whole request within 1500 ms"), 30000, linesBefore));
}

void TestBadInput::nothingChangedAndStillServing()
{
    QCOMPARE(m_fx->client().send(BookQuery{}).frames, m_catalogueBefore);
    QCOMPARE(m_fx->login(m_fx->client(), QStringLiteral("admin"), QString::fromLatin1(ServerFixture::AdminPassword)),
             QStringLiteral("PASS"));
    QVERIFY(m_server.isRunning());
}

void TestBadInput::silentPeersDoNotBlockOthers()
{
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    server.setSetting(QStringLiteral("network/readTimeoutMs"), 600000);
    server.setSetting(QStringLiteral("network/firstByteTimeoutMs"), 600000);
    server.setSetting(QStringLiteral("network/maxConnectionsPerAddress"), 100);
    server.setSetting(QStringLiteral("admin/initialPassword"), QStringLiteral("pw"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    WireClient client(server.port());
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 20; ++i)
        idle.push_back(client.openConnection(i % 2 ? QByteArray() : hex("0100")));
    // Twenty peers sit on their connections; others are served all the same.
    for (int i = 0; i < 5; ++i)
        QCOMPARE(client.send(LoginQuery{QStringLiteral("admin"), QStringLiteral("pw")}).word(), QStringLiteral("PASS"));
    for (const auto& socket : idle)
        QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
    QVERIFY(server.stop());
}

void TestBadInput::connectionsBeyondTheLimitWaitTheirTurn()
{
    ServerProcess server{QStringLiteral(SERVER_BINARY)};
    server.setSetting(QStringLiteral("network/readTimeoutMs"), 1000);
    server.setSetting(QStringLiteral("network/maxConnections"), 2);
    server.setSetting(QStringLiteral("admin/initialPassword"), QStringLiteral("pw"));
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    WireClient client(server.port());
    auto first = client.openConnection();
    auto second = client.openConnection();
    // Both places are taken by silent peers; a third is served once the deadline frees one.
    QCOMPARE(client.send(LoginQuery{QStringLiteral("admin"), QStringLiteral("pw")}).word(), QStringLiteral("PASS"));
    QVERIFY(WireClient::readReply(*first).endOfStream);
    QVERIFY(WireClient::readReply(*second).endOfStream);
    QVERIFY(server.stop());
}

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
