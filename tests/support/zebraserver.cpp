#include "zebraserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

// Which fields go into which Bib-1 index: ISBN (1=7), title (1=4), author (1=1003).
QByteArray fieldMap(const char* name, const char* reference, const char* isbn, const char* title, const char* author)
{
    QByteArray map = QByteArray("name ") + name + "\nreference " + reference
        + "\nattset bib1.att\ntagset usmarc.tag\nmarc usmarc.mar\nesetname F @\nall any\n";
    for (const auto& [tag, index] : {std::pair{isbn, "ISBN"}, std::pair{title, "title"}, std::pair{author, "Author"}}) {
        map += QByteArray("elm ") + tag + " " + index + " -\n";
        map += QByteArray("elm ") + tag + "/? " + index + " -\n";
        map += QByteArray("elm ") + tag + "/?/a " + index + (QByteArray(index) == "title" ? " !:w,!:p\n" : " !:w\n");
    }
    return map;
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

} // namespace

ZebraServer::ZebraServer()
{
    const QString dir = m_dir.path();
    writeFile(dir + QStringLiteral("/marc21.abs"), fieldMap("marc21", "USmarc", "020", "245", "100"));
    writeFile(dir + QStringLiteral("/unimarc.abs"), fieldMap("unimarc", "Unimarc", "010", "200", "700"));
    QDir().mkpath(dir + QStringLiteral("/register"));
    QDir().mkpath(dir + QStringLiteral("/shadow"));
    writeFile(dir + QStringLiteral("/zebra.cfg"),
              ("profilePath: " + dir.toUtf8()
               + ":/usr/share/idzebra-2.0/tab\n"
                 "modulePath: /usr/lib/x86_64-linux-gnu/idzebra-2.0/modules\n"
                 "attset: bib1.att\n"
                 "index: icu.idx\n"
                 "register: "
               + dir.toUtf8() + "/register:50M\nshadow: " + dir.toUtf8() + "/shadow:50M\n"));
}

ZebraServer::~ZebraServer()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(5000))
            m_server.kill();
        m_server.waitForFinished(5000);
    }
}

QString ZebraServer::unavailableReason()
{
    for (const char* program : {"zebraidx", "zebrasrv", "yaz-marcdump"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            return QStringLiteral("%1 is not installed (Debian idzebra-2.0 and yaz; scripts/setup)").arg(program);
    }
    return QString();
}

bool ZebraServer::run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = program + QStringLiteral(" failed: ") + QString::fromUtf8(process.readAll());
        return false;
    }
    return true;
}

QByteArray ZebraServer::iso2709(const QByteArray& marcXml, const QStringList& options, QString* error)
{
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("records.xml"));
    if (!writeFile(input, marcXml)) {
        *error = QStringLiteral("cannot write ") + input;
        return {};
    }
    QProcess process;
    process.start(
        QStringLiteral("yaz-marcdump"),
        QStringList{QStringLiteral("-i"), QStringLiteral("marcxml"), QStringLiteral("-o"), QStringLiteral("marc")}
            + options + QStringList{input});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        *error = QStringLiteral("yaz-marcdump failed: ") + QString::fromUtf8(process.readAllStandardError());
        return {};
    }
    return process.readAllStandardOutput();
}

bool ZebraServer::addRecords(const QByteArray& marcXml, bool unimarc)
{
    const QByteArray records = iso2709(marcXml, {}, &m_error);
    if (records.isEmpty())
        return false;
    const QString file = QStringLiteral("records-%1.mrc").arg(++m_files);
    if (!writeFile(m_dir.filePath(file), records))
        return false;
    const QString type = unimarc ? QStringLiteral("grs.marc.unimarc") : QStringLiteral("grs.marc.marc21");
    return run(QStringLiteral("zebraidx"),
               {QStringLiteral("-c"), QStringLiteral("zebra.cfg"), QStringLiteral("-t"), type, QStringLiteral("update"),
                file})
        && run(QStringLiteral("zebraidx"),
               {QStringLiteral("-c"), QStringLiteral("zebra.cfg"), QStringLiteral("commit")});
}

bool ZebraServer::start()
{
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            m_error = QStringLiteral("no free port");
            return false;
        }
        m_port = probe.serverPort();
    }
    // SRU asks for MARCXML, which YAZ makes from the stored MARC; CQL is mapped to Bib-1.
    const QByteArray config = "<yazgfs>\n  <listen id=\"public\">tcp:127.0.0.1:" + QByteArray::number(m_port)
        + "</listen>\n  <server id=\"zebra\" listenref=\"public\">\n    <config>zebra.cfg</config>\n"
          "    <cql2rpn>/usr/share/yaz/etc/pqf.properties</cql2rpn>\n    <retrievalinfo>\n"
          "      <retrieval syntax=\"usmarc\"/>\n      <retrieval syntax=\"unimarc\"/>\n"
          "      <retrieval syntax=\"xml\" name=\"marcxml\">\n        <backend syntax=\"usmarc\" name=\"F\">\n"
          "          <marc inputformat=\"marc\" outputformat=\"marcxml\" inputcharset=\"utf-8\"/>\n"
          "        </backend>\n      </retrieval>\n    </retrievalinfo>\n  </server>\n</yazgfs>\n";
    if (!writeFile(m_dir.filePath(QStringLiteral("yazgfs.xml")), config))
        return false;
    m_server.setWorkingDirectory(m_dir.path());
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(
        QStringLiteral("zebrasrv"),
        {QStringLiteral("-f"), QStringLiteral("yazgfs.xml"), QStringLiteral("-l"), QStringLiteral("zebrasrv.log")});
    if (!m_server.waitForStarted(10000)) {
        m_error = QStringLiteral("zebrasrv did not start: ") + m_server.errorString();
        return false;
    }
    for (QDeadlineTimer deadline(15000); !deadline.hasExpired(); QThread::msleep(50)) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(500))
            return true;
        if (m_server.state() == QProcess::NotRunning)
            break;
    }
    QFile log(m_dir.filePath(QStringLiteral("zebrasrv.log")));
    log.open(QIODevice::ReadOnly);
    m_error = QStringLiteral("zebrasrv does not listen: ") + QString::fromUtf8(log.readAll().right(2000));
    return false;
}
