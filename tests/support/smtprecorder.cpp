#include "smtprecorder.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>

namespace {

const QString Python = QStringLiteral("/usr/bin/python3");

QString script()
{
    return QStringLiteral(SMTP_RECORDER_SCRIPT);
}

} // namespace

SmtpRecorder::SmtpRecorder()
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

SmtpRecorder::~SmtpRecorder()
{
    stop();
}

QString SmtpRecorder::unavailableReason()
{
    QProcess probe;
    probe.start(Python, {QStringLiteral("-c"), QStringLiteral("import aiosmtpd")});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
        return QStringLiteral("no aiosmtpd for /usr/bin/python3 (Debian python3-aiosmtpd, see scripts/setup)");
    return QString();
}

bool SmtpRecorder::start()
{
    if (m_port == 0) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return false;
        m_port = probe.serverPort();
    }
    m_process.start(Python, {script(), QStringLiteral("serve"), m_dir.path(), QString::number(m_port)});
    if (!m_process.waitForStarted(10000))
        return false;
    // Ready once it printed its line; the port was free a moment ago, and is ours again on a restart.
    QByteArray output;
    for (int i = 0; i < 300 && !output.contains("smtp listening"); ++i) {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(100);
        output += m_process.readAll();
    }
    return output.contains("smtp listening");
}

void SmtpRecorder::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QJsonArray SmtpRecorder::messages() const
{
    QProcess reader;
    reader.start(Python, {script(), QStringLiteral("read"), m_dir.path()});
    if (!reader.waitForFinished(30000) || reader.exitCode() != 0)
        return {};
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).array();
}

QJsonArray SmtpRecorder::messagesTo(const QString& address) const
{
    QJsonArray found;
    for (const QJsonValue& m : messages()) {
        if (m.toObject().value(QStringLiteral("envelopeTo")).toString() == address)
            found.append(m);
    }
    return found;
}
