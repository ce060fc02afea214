#include "mailmessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

// The message as a mail reader sees it: each case is written out, parsed back by Python's email
// module, and must read as it was meant, with no header a name or subject could have slipped in.
class TestMailMessage : public QObject
{
    Q_OBJECT

private slots:
    void readsBackAsWritten_data();
    void readsBackAsWritten();
};

namespace {

// Parses a message on standard input; prints its subject, To, body and header names as JSON.
const char* Parse = R"(
import json, sys
from email import policy
from email.parser import BytesParser
m = BytesParser(policy=policy.default).parsebytes(sys.stdin.buffer.read())
print(json.dumps({"subject": str(m["Subject"]), "to": str(m["To"]), "body": m.get_content(),
                  "headers": sorted(set(m.keys())), "defects": len(m.defects)}))
)";

} // namespace

void TestMailMessage::readsBackAsWritten_data()
{
    QTest::addColumn<QString>("toName");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("subjectRead"); // line breaks become spaces
    QTest::newRow("plain ASCII") << "Ann Lee"
                                 << "Books due soon"
                                 << "Dear Ann,\n\nsee below.\n"
                                 << "Books due soon";
    const QString longChinese =
        QString(QStringLiteral("图书馆：您借阅的图书即将到期，请按时归还 ")).repeated(4).trimmed();
    QTest::newRow("long Chinese subject, several encoded words")
        << "李雷" << longChinese << QStringLiteral("中文\n\nEnglish 𝄞 below\n") << longChinese;
    QTest::newRow("a name and a subject with line breaks add no header") << "Eve\r\nBcc: all@example.org"
                                                                         << "Hi\r\nX-Injected: yes"
                                                                         << "body\n"
                                                                         << "Hi X-Injected: yes";
    QTest::newRow("text that looks like an encoded word stays text") << "=?UTF-8?B?QUFB?="
                                                                     << "=?UTF-8?B?QUFB?="
                                                                     << "x\n"
                                                                     << "=?UTF-8?B?QUFB?=";
}

void TestMailMessage::readsBackAsWritten()
{
    QFETCH(QString, toName);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, subjectRead);
    MailMessage message{QStringLiteral("desk@library.example.org"),
                        QStringLiteral("星光图书馆"),
                        QStringLiteral("reader@example.org"),
                        toName,
                        subject,
                        body,
                        QStringLiteral("notice-1-abc@library.example.org"),
                        QDateTime(QDate(2026, 12, 9), QTime(8, 30), Qt::UTC)};
    const QByteArray bytes = message.toBytes();
    for (const QByteArray& line : bytes.split('\n'))
        QVERIFY2(line.size() <= 78, line.constData());
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(Parse)});
    QVERIFY(python.waitForStarted());
    python.write(bytes);
    python.closeWriteChannel();
    QVERIFY(python.waitForFinished(30000));
    const QJsonObject read = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    QCOMPARE(read.value(QLatin1String("defects")).toInt(), 0);
    QCOMPARE(read.value(QLatin1String("subject")).toString(), subjectRead);
    QVERIFY2(read.value(QLatin1String("to")).toString().endsWith(QLatin1String("<reader@example.org>")),
             qPrintable(read.value(QLatin1String("to")).toString()));
    // Lines of text travel ended by CRLF, as MIME has them.
    QCOMPARE(read.value(QLatin1String("body")).toString(),
             QString(body).replace(QLatin1Char('\n'), QLatin1String("\r\n")));
    QCOMPARE(read.value(QLatin1String("headers")).toVariant().toStringList(),
             (QStringList{"Content-Transfer-Encoding", "Content-Type", "Date", "From", "MIME-Version", "Message-ID",
                          "Subject", "To"}));
}

QTEST_GUILESS_MAIN(TestMailMessage)
#include "tst_mailmessage.moc"
