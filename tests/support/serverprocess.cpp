#include "serverprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>

ServerProcess::ServerProcess(const QString& program)
    : m_program(program)
{
    m_settings.insert(QStringLiteral("network/port"), 0);
    m_settings.insert(QStringLiteral("network/address"), QStringLiteral("127.0.0.1"));
    m_settings.insert(QStringLiteral("tls/port"), 0);
    // Fixtures register many accounts from one address; the test of the hourly limit sets its own.
    m_settings.insert(QStringLiteral("registration/perAddressPerHour"), 100000);
    m_settings.insert(QStringLiteral("registration/perNetworkPerHour"), 100000);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LIBRARY_TEST_CLOCK_FILE"), m_dir.filePath(QStringLiteral("test-clock")));
    m_process.setProcessEnvironment(environment);
    if (PgTestDatabase::requested()) {
        m_pg = PgTestDatabase::fromEnvironment();
        if (m_pg) {
            m_schema = PgTestDatabase::uniqueSchemaName();
            m_ownsSchema = true;
            const QVariantMap database = m_pg->serverSettings(m_schema);
            for (auto it = database.cbegin(); it != database.cend(); ++it)
                m_settings.insert(it.key(), it.value());
        }
    }
}

ServerProcess::~ServerProcess()
{
    stop();
    if (m_ownsSchema)
        m_pg->dropSchema(m_schema);
}

QString ServerProcess::backendUnavailableReason()
{
    if (PgTestDatabase::requested() && !PgTestDatabase::fromEnvironment())
        return QStringLiteral("LIBRARY_TEST_PG is not set: no PostgreSQL database to run these server tests on");
    return {};
}

void ServerProcess::shareDatabaseWith(const ServerProcess& other)
{
    m_pg = other.m_pg;
    m_schema = other.m_schema;
    m_ownsSchema = false;
    for (auto it = other.m_settings.cbegin(); it != other.m_settings.cend(); ++it) {
        if (it.key().startsWith(QLatin1String("database/")))
            m_settings.insert(it.key(), it.value());
    }
    // SQLite: the other server's file, by its absolute path.
    if (!m_pg)
        m_settings.insert(QStringLiteral("database/name"), other.filePath(QStringLiteral("library.db")));
}

QByteArray ServerProcess::storedBytes()
{
    if (m_pg)
        return m_pg->dumpSchema(m_schema);
    QByteArray bytes;
    // The write-ahead log may still hold changes that the main file does not.
    for (const char* suffix : {"", "-wal", "-shm"}) {
        QFile file(m_dir.filePath(QStringLiteral("library.db") + QLatin1String(suffix)));
        if (file.open(QIODevice::ReadOnly))
            bytes += file.readAll();
    }
    return bytes;
}

bool ServerProcess::advanceClock(qint64 seconds)
{
    m_clockOffset += seconds;
    return writeFile(QStringLiteral("test-clock"), QByteArray::number(m_clockOffset));
}

void ServerProcess::setSetting(const QString& key, const QVariant& value)
{
    m_settings.insert(key, value);
}

bool ServerProcess::writeFile(const QString& name, const QByteArray& contents)
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

bool ServerProcess::start(int timeoutMs)
{
    m_error.clear();
    m_port = 0;
    m_tlsPort = 0;
    {
        QFile::remove(m_dir.filePath(QStringLiteral("server.ini")));
        QSettings ini(m_dir.filePath(QStringLiteral("server.ini")), QSettings::IniFormat);
        for (auto it = m_settings.cbegin(); it != m_settings.cend(); ++it)
            ini.setValue(it.key(), it.value());
    }
    const int firstLine = int(m_lines.size());
    m_process.start(m_program, {QStringLiteral("-platform"), QStringLiteral("offscreen")});
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    static const QRegularExpression listening(QStringLiteral("^listening on (.*):(\\d+)$"));
    static const QRegularExpression tlsListening(QStringLiteral("^listening for TLS on (.*):(\\d+)$"));
    // Without the plain port, the TLS line says the server is up.
    const bool plain = m_settings.value(QStringLiteral("network/plain"), true).toBool();
    static const QRegularExpression password(QStringLiteral("^admin password: (\\S+)$"));
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        collect();
        for (int i = firstLine; i < m_lines.size(); ++i) {
            const QRegularExpressionMatch p = password.match(m_lines[i]);
            if (p.hasMatch())
                m_adminPassword = p.captured(1);
            const QRegularExpressionMatch t = tlsListening.match(m_lines[i]);
            if (t.hasMatch()) {
                m_tlsPort = quint16(t.captured(2).toUInt());
                if (!plain)
                    return true;
            }
            const QRegularExpressionMatch l = listening.match(m_lines[i]);
            if (l.hasMatch()) {
                m_port = quint16(l.captured(2).toUInt());
                return true;
            }
        }
        if (m_process.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("the server exited: ") + m_lines.mid(firstLine).join(QLatin1Char('\n'));
            return false;
        }
        if (deadline.hasExpired()) {
            m_error = QStringLiteral("the server printed no port");
            return false;
        }
        m_process.waitForReadyRead(100);
    }
}

bool ServerProcess::stop(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    const bool ended = m_process.waitForFinished(timeoutMs);
    if (!ended) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    collect();
    return ended && m_process.exitStatus() == QProcess::NormalExit;
}

void ServerProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(30000);
    collect();
}

QStringList ServerProcess::output()
{
    collect();
    return m_lines;
}

bool ServerProcess::waitForOutput(const QString& text, int timeoutMs, int fromLine)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        collect();
        for (int i = fromLine; i < m_lines.size(); ++i) {
            if (m_lines[i].contains(text))
                return true;
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(50);
    }
}

void ServerProcess::collect()
{
    // Reading without an event loop: take whatever the pipe holds now.
    while (m_process.state() != QProcess::NotRunning && m_process.waitForReadyRead(0)) { }
    m_partial += m_process.readAll();
    qsizetype newline;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_partial.left(newline)));
        m_partial.remove(0, newline + 1);
    }
}

QSslCertificate ServerProcess::tlsCertificate() const
{
    return QSslCertificate::fromPath(m_dir.filePath(QStringLiteral("tls-certificate.pem"))).value(0);
}
