#include "serveraddressfile.h"
#include "tempworkdir.h"

#include <QFile>
#include <QtTest>

// The address file is read and rewritten in its normal form by every operation.
class TestAddressFile : public QObject
{
    Q_OBJECT

private slots:
    void load_data();
    void load();
    void loadForDialog_data();
    void loadForDialog();
    void save_data();
    void save();
    void missingFileGetsDefaults();
};

static void writeFile(const QByteArray& content)
{
    QFile file(ServerAddressFile::defaultPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

static QByteArray readFile()
{
    QFile file(ServerAddressFile::defaultPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void TestAddressFile::load_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("rewritten");
    QTest::newRow("normal") << QByteArray("10.0.0.5\n4000") << "10.0.0.5" << 4000 << QByteArray("10.0.0.5\n4000");
    QTest::newRow("empty file") << QByteArray() << "127.0.0.1" << 9999 << QByteArray("127.0.0.1\n9999");
    QTest::newRow("one line") << QByteArray("example.org") << "example.org" << 9999 << QByteArray("example.org\n9999");
    QTest::newRow("spaces everywhere") << QByteArray(" 10.0. 0.5 \n 40 00 ") << "10.0.0.5" << 4000
                                       << QByteArray("10.0.0.5\n4000");
    QTest::newRow("CR LF") << QByteArray("host\r\n4000\r\n") << "host" << 4000 << QByteArray("host\n4000");
    QTest::newRow("letter in port") << QByteArray("host\n40a0") << "host" << 9999 << QByteArray("host\n9999");
    QTest::newRow("empty host, port given") << QByteArray("\n4000") << "" << 4000 << QByteArray("\n4000");
    QTest::newRow("port 0 is bad") << QByteArray("host\n0") << "host" << 9999 << QByteArray("host\n9999");
    QTest::newRow("port past 16 bits is bad")
        << QByteArray("host\n75535") << "host" << 9999 << QByteArray("host\n9999");
    QTest::newRow("negative port is bad") << QByteArray("host\n-1") << "host" << 9999 << QByteArray("host\n9999");
    QTest::newRow("highest port") << QByteArray("host\n65535") << "host" << 65535 << QByteArray("host\n65535");
    QTest::newRow("third line dropped") << QByteArray("host\n4000\nextra") << "host" << 4000
                                        << QByteArray("host\n4000");
    QTest::newRow("tab is not a space") << QByteArray("\thost\n4000") << "\thost" << 4000 << QByteArray("\thost\n4000");
}

void TestAddressFile::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QByteArray, rewritten);
    TempWorkDir dir;
    writeFile(content);
    const ServerAddress address = ServerAddressFile::load();
    QCOMPARE(address.host, host);
    QCOMPARE(int(address.port), port);
    QCOMPARE(readFile(), rewritten);
}

void TestAddressFile::loadForDialog_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::newRow("normal") << QByteArray("10.0.0.5\n4000") << "10.0.0.5"
                            << "4000";
    QTest::newRow("no port line") << QByteArray("10.0.0.5") << "10.0.0.5"
                                  << "9999";
    // The dialog checks the port before removing spaces, so digits split by a space are a bad port.
    QTest::newRow("space inside port") << QByteArray("h\n40 00") << "h"
                                       << "9999";
    QTest::newRow("spaces in host") << QByteArray(" h o \n4000") << "ho"
                                    << "4000";
}

void TestAddressFile::loadForDialog()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, host);
    QFETCH(QString, port);
    TempWorkDir dir;
    writeFile(content);
    const ServerAddressFile::Texts texts = ServerAddressFile::loadForDialog();
    QCOMPARE(texts.host, host);
    QCOMPARE(texts.port, port);
    QCOMPARE(readFile(), (host + QLatin1Char('\n') + port).toUtf8());
}

void TestAddressFile::save_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("plain") << "192.168.1.2"
                           << "5000" << QByteArray("192.168.1.2\n5000");
    QTest::newRow("masked editor text") << "192.168.1.2"
                                        << "" << QByteArray("192.168.1.2\n9999");
    QTest::newRow("spaces removed") << " 1.2.3.4 "
                                    << " 80" << QByteArray("1.2.3.4\n80");
    QTest::newRow("port out of range") << "h"
                                       << "70000" << QByteArray("h\n9999");
}

void TestAddressFile::save()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QByteArray, written);
    TempWorkDir dir;
    ServerAddressFile::save(host, port);
    QCOMPARE(readFile(), written);
}

void TestAddressFile::missingFileGetsDefaults()
{
    TempWorkDir dir;
    const ServerAddress address = ServerAddressFile::load();
    QCOMPARE(address.host, QStringLiteral("127.0.0.1"));
    QCOMPARE(address.port, quint16(9999));
    QCOMPARE(readFile(), QByteArray("127.0.0.1\n9999"));
}

QTEST_GUILESS_MAIN(TestAddressFile)
#include "tst_addressfile.moc"
