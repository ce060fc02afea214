#include "frame.h"
#include "messages.h"

#include <QBuffer>
#include <QDataStream>
#include <QtTest>

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    void knownBytes_data();
    void knownBytes();
    void matchesQDataStream();
    void tooLargeBodyIsRefused();
    void readerEverySplit();
    void readerManyFramesOneFeed();
    void endOfStreamIsNeverALength();
    void zeroSizeWordIsAnError();
    void decodeBody_data();
    void decodeBody();
};

static QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

void TestFrame::knownBytes_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("unconfirmed-user request, 46 bytes")
        << Wire::encodeRequest(UnconfirmUserQuery{})
        << hex("002c00000028"
               "0051005500450052005900"
               "5f0055004e0043004f004e004600490052004d005f0055005300450052");
    QTest::newRow("PASS reply") << Wire::encodeFrame({QStringLiteral("PASS")}) << hex("000c000000080050004100530053");
    QTest::newRow("end of stream") << Wire::endOfStreamFrame() << hex("ffff");
    QTest::newRow("null and empty string")
        << Wire::encodeFrame({QString(), QLatin1String("")}) << hex("0008ffffffff00000000");
}

void TestFrame::knownBytes()
{
    QFETCH(QByteArray, encoded);
    QFETCH(QByteArray, expected);
    QCOMPARE(encoded.toHex(), expected.toHex());
}

// What a peer writing with QDataStream itself sends is byte for byte what we send.
void TestFrame::matchesQDataStream()
{
    const QStringList values{QStringLiteral("QUERY_BOOK_SEARCHING"), QStringLiteral("红楼梦"), QString(),
                             QStringLiteral("😀 surrogate pair")};
    QByteArray reference;
    QDataStream out(&reference, QIODevice::WriteOnly);
    out << quint16(0);
    for (const QString& v : values)
        out << v;
    out.device()->seek(0);
    out << quint16(reference.size() - 2);
    QCOMPARE(Wire::encodeFrame(values), reference);
    QCOMPARE(*Wire::decodeBody(reference.mid(2)), (QStringList{values[0], values[1], QString(), values[3]}));
}

void TestFrame::tooLargeBodyIsRefused()
{
    // 4 + 2 * 32765 = 65534 bytes: the largest body that fits.
    QVERIFY(!Wire::encodeFrame({QString(32765, QLatin1Char('x'))}).isEmpty());
    QVERIFY(Wire::encodeFrame({QString(32766, QLatin1Char('x'))}).isEmpty());
}

void TestFrame::readerEverySplit()
{
    const QStringList first{QStringLiteral("一"), QStringLiteral("two")};
    const QStringList second{QStringLiteral("three")};
    const QByteArray stream = Wire::encodeFrame(first) + Wire::encodeFrame(second) + Wire::endOfStreamFrame();
    for (int a = 0; a <= stream.size(); ++a) {
        for (int b = a; b <= stream.size(); ++b) {
            FrameReader reader;
            QList<QStringList> frames;
            bool ended = false;
            for (const QByteArray& part : {stream.left(a), stream.mid(a, b - a), stream.mid(b)}) {
                reader.feed(part);
                for (;;) {
                    const FrameReader::Result r = reader.next();
                    if (r.status == FrameReader::Status::Frame) {
                        frames << *Wire::decodeBody(r.body);
                        continue;
                    }
                    ended = r.status == FrameReader::Status::EndOfStream;
                    break;
                }
            }
            QVERIFY2(ended, qPrintable(QStringLiteral("split %1/%2").arg(a).arg(b)));
            QCOMPARE(frames, (QList<QStringList>{first, second}));
        }
    }
}

void TestFrame::readerManyFramesOneFeed()
{
    QByteArray stream;
    for (int i = 0; i < 500; ++i)
        stream += Wire::encodeFrame({QString::number(i)});
    FrameReader reader;
    reader.feed(stream + Wire::endOfStreamFrame() + Wire::encodeFrame({QStringLiteral("after end")}));
    for (int i = 0; i < 500; ++i) {
        const FrameReader::Result r = reader.next();
        QCOMPARE(r.status, FrameReader::Status::Frame);
        QCOMPARE(Wire::decodeBody(r.body)->first(), QString::number(i));
    }
    QCOMPARE(reader.next().status, FrameReader::Status::EndOfStream);
    QCOMPARE(reader.next().status, FrameReader::Status::EndOfStream);
}

void TestFrame::endOfStreamIsNeverALength()
{
    FrameReader reader;
    reader.feed(hex("ffff") + QByteArray(70000, 'x'));
    QCOMPARE(reader.next().status, FrameReader::Status::EndOfStream);
    QCOMPARE(reader.pendingSize(), Wire::EndOfStreamWord);
}

void TestFrame::zeroSizeWordIsAnError()
{
    FrameReader reader;
    reader.feed(hex("0000") + Wire::encodeFrame({QStringLiteral("x")}));
    QCOMPARE(reader.next().status, FrameReader::Status::Error);
    reader.reset();
    reader.feed(Wire::encodeFrame({QStringLiteral("x")}));
    QCOMPARE(reader.next().status, FrameReader::Status::Frame);
}

void TestFrame::decodeBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("count");
    QTest::newRow("empty body") << QByteArray() << true << 0;
    QTest::newRow("count past end") << hex("0000001000410042") << false << 0;
    QTest::newRow("odd count") << hex("0000000300410042") << false << 0;
    QTest::newRow("truncated count") << hex("000000") << false << 0;
    QTest::newRow("huge count") << hex("7ffffffe0041") << false << 0;
    QTest::newRow("null string") << hex("ffffffff") << true << 1;
    QTest::newRow("trailing garbage after a string") << hex("000000020041ff") << false << 0;
}

void TestFrame::decodeBody()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, valid);
    QFETCH(int, count);
    const auto values = Wire::decodeBody(body);
    QCOMPARE(values.has_value(), valid);
    if (valid)
        QCOMPARE(values->size(), count);
}

QTEST_APPLESS_MAIN(TestFrame)
#include "tst_frame.moc"
