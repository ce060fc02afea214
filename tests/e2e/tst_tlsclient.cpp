#include "serverprocess.h"
#include "tlsdialog.h"
#include "tlsfingerprint.h"
#include "windowtesting.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>

using namespace WindowTesting;

// The client's TLS settings and trust on first use, against the real server's TLS port: the dialog
// writes client.ini, the first connection asks and pins, a changed certificate is refused with both
// fingerprints shown, and forgetting the pin asks again.
class TestTlsClient : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void dialogAndTrustOnFirstUse();
    void plainPortOnlyWithTheUsersWord();
    void quittingEndsTheLoginOverTls();

private:
    TlsDialog* openDialog();
    int searchRows(); // rows a whole-catalogue search shows once the exchange has ended; -1 when it does not end
    QList<MessageBoxWatcher::Box> tlsBoxes() const; // the boxes of the last search but its "completed" one
    QStringList trustQuestions() const { return boxes->questions(); }
    QString pinned() const { return QSettings("client.ini", QSettings::IniFormat).value("tls/fingerprint").toString(); }

    ServerProcess m_server{QStringLiteral(SERVER_BINARY)};
    QString m_fingerprint;
};

void TestTlsClient::initTestCase()
{
    QVERIFY(m_server.writeFile(QStringLiteral("seed.csv"),
                               "title,author,type,publisher,year,number,permission\n"
                               "Secure,A,T,P,2001,S1,Undergraduate\n"
                               "Sound,B,T,P,2002,S2,Undergraduate\n"));
    m_server.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    // Shorter than a user takes to compare a fingerprint.
    m_server.setSetting(QStringLiteral("network/firstByteTimeoutMs"), 300);
    QVERIFY2(m_server.start(), qPrintable(m_server.errorText()));
    m_fingerprint = TlsFingerprint::of(m_server.tlsCertificate());
    QVERIFY(!m_fingerprint.isEmpty());
}

void TestTlsClient::cleanupTestCase()
{
    QVERIFY(m_server.stop());
}

TlsDialog* TestTlsClient::openDialog()
{
    widget<QAction>(window.get(), "actionTls")->trigger();
    return newest<TlsDialog>(window.get());
}

int TestTlsClient::searchRows()
{
    auto* list = widget<QTreeWidget>(window.get(), "bookList");
    auto* button = widget<QPushButton>(window.get(), "searchButton");
    if (!QTest::qWaitFor([&] { return button->isEnabled(); }, 20000))
        return -1;
    boxes->clear();
    QTest::mouseClick(button, Qt::LeftButton);
    // The exchange has ended when the button is back; a few more events let a last box show.
    QTest::qWait(50);
    if (!QTest::qWaitFor([&] { return button->isEnabled(); }, 20000))
        return -1;
    QTest::qWait(100);
    return list->topLevelItemCount();
}

QList<MessageBoxWatcher::Box> TestTlsClient::tlsBoxes() const
{
    QList<MessageBoxWatcher::Box> found;
    for (const MessageBoxWatcher::Box& box : boxes->boxes()) {
        if (box.title != QLatin1String("Searching completed"))
            found.append(box);
    }
    return found;
}

void TestTlsClient::dialogAndTrustOnFirstUse()
{
    setUp(ShownWindow);
    boxes = std::make_unique<MessageBoxWatcher>();
    writeFile(QStringLiteral("hostIP.txt"), "127.0.0.1\n" + QByteArray::number(m_server.port()));

    // On from the start; nothing trusted yet.
    TlsDialog* dialog = openDialog();
    QVERIFY(widget<QCheckBox>(dialog, "enabledCheck")->isChecked());
    QCOMPARE(widget<QSpinBox>(dialog, "portSpin")->value(), 9443);
    QVERIFY(!widget<QPushButton>(dialog, "forgetButton")->isEnabled());
    widget<QCheckBox>(dialog, "enabledCheck")->setChecked(true);
    widget<QSpinBox>(dialog, "portSpin")->setValue(m_server.tlsPort());
    widget<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    QCOMPARE(QSettings("client.ini", QSettings::IniFormat).value("tls/port").toInt(), int(m_server.tlsPort()));

    // First use: the fingerprint is shown and, once accepted after a while, pinned; the search the
    // question held up still goes through.
    boxes->answerYes = true;
    boxes->questionDelayMs = 1000;
    QCOMPARE(searchRows(), 2);
    boxes->questionDelayMs = 0;
    QCOMPARE(trustQuestions().size(), 1);
    QVERIFY2(trustQuestions().first().contains(m_fingerprint), qPrintable(trustQuestions().first()));
    QVERIFY(tlsBoxes().isEmpty());
    QCOMPARE(pinned(), m_fingerprint);

    // Pinned: no question.
    QCOMPARE(searchRows(), 2);
    QVERIFY(trustQuestions().isEmpty() && tlsBoxes().isEmpty());

    // Another certificate than the pinned one: refused, both fingerprints shown.
    const QString other =
        QString(m_fingerprint).replace(QRegularExpression("^.."), m_fingerprint.startsWith("00") ? "11" : "00");
    QSettings("client.ini", QSettings::IniFormat).setValue("tls/fingerprint", other);
    QCOMPARE(searchRows(), 0);
    QCOMPARE(tlsBoxes().size(), 1);
    QVERIFY(tlsBoxes().first().text.contains(other) && tlsBoxes().first().text.contains(m_fingerprint));
    QVERIFY(trustQuestions().isEmpty());
    QCOMPARE(pinned(), other);

    // The dialog shows the pin and forgets it; declining the certificate next time pins nothing.
    dialog = openDialog();
    QCOMPARE(widget<QLabel>(dialog, "fingerprintLabel")->text(), other);
    press(dialog, "forgetButton");
    widget<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
    QVERIFY(pinned().isEmpty());
    boxes->answerYes = false;
    QCOMPARE(searchRows(), 0);
    QCOMPARE(trustQuestions().size(), 1);
    QVERIFY(tlsBoxes().isEmpty());
    QVERIFY(pinned().isEmpty());
    tearDown();
}

// A server without a TLS port: the client says so and uses the plain port only when the user agrees,
// and remembers that for this server.
void TestTlsClient::plainPortOnlyWithTheUsersWord()
{
    ServerProcess plainOnly{QStringLiteral(SERVER_BINARY)};
    QVERIFY(plainOnly.writeFile(QStringLiteral("seed.csv"),
                                "title,author,type,publisher,year,number,permission\n"
                                "Open,A,T,P,2001,P1,Undergraduate\n"));
    plainOnly.setSetting(QStringLiteral("catalogue/seed"), QStringLiteral("seed.csv"));
    plainOnly.setSetting(QStringLiteral("tls/enabled"), false);
    QVERIFY2(plainOnly.start(), qPrintable(plainOnly.errorText()));
    setUp(ShownWindow);
    boxes = std::make_unique<MessageBoxWatcher>();
    writeFile(QStringLiteral("hostIP.txt"), "127.0.0.1\n" + QByteArray::number(plainOnly.port()));
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 noTls = closed.serverPort();
    closed.close();
    writeFile(QStringLiteral("client.ini"), "[tls]\nport=" + QByteArray::number(noTls) + "\n");

    boxes->answerYes = false;
    QCOMPARE(searchRows(), 0);
    QCOMPARE(trustQuestions().size(), 1);
    QVERIFY(trustQuestions().first().contains(QStringLiteral("明文")));
    boxes->answerYes = true;
    QCOMPARE(searchRows(), 1);
    QCOMPARE(trustQuestions().size(), 1);
    QCOMPARE(searchRows(), 1);
    QVERIFY(trustQuestions().isEmpty());
    tearDown();
    QVERIFY(plainOnly.stop());
}

// Closing the window while logged in ends the login on the server, through TLS, before the program goes.
void TestTlsClient::quittingEndsTheLoginOverTls()
{
    setUp(ShownWindow);
    boxes = std::make_unique<MessageBoxWatcher>();
    writeFile(QStringLiteral("hostIP.txt"), "127.0.0.1\n" + QByteArray::number(m_server.port()));
    writeFile(QStringLiteral("client.ini"),
              "[tls]\nport=" + QByteArray::number(m_server.tlsPort()) + "\nfingerprint=" + m_fingerprint.toLatin1()
                  + "\n");
    pressLogin(*window, QStringLiteral("admin"), m_server.generatedAdminPassword());
    QTRY_COMPARE_WITH_TIMEOUT(window->currentUser().id, QStringLiteral("admin"), 20000);
    const int lines = int(m_server.output().size());
    window->close();
    QVERIFY(m_server.waitForOutput(QStringLiteral("QUERY_USER_LOGOUT LOGOUT_SUCCESSFULLY"), 10000, lines));
    tearDown();
}

QTEST_MAIN(TestTlsClient)
#include "tst_tlsclient.moc"
