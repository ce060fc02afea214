#pragma once

#include <QDateTime>

#include "pgtestdatabase.h"

#include <QProcess>
#include <QSslCertificate>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

// Runs the real server program in a temporary working directory of its own, with a server.ini made of
// the given settings (on a free loopback port unless told otherwise), and reads the port it printed.
// The directory outlives stop(), so a test can start the same server again on the same database.
// With LIBRARY_TEST_BACKEND=postgres the server runs on the PostgreSQL database of LIBRARY_TEST_PG
// instead, in a schema of its own that is dropped with this object.
class ServerProcess
{
public:
    explicit ServerProcess(const QString& program);

    // Why the requested back end cannot be used (a reason to skip), or an empty string.
    static QString backendUnavailableReason();
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // An INI key such as "admin/initialPassword"; applied at the next start().
    void setSetting(const QString& key, const QVariant& value);
    // Writes a file into the working directory, e.g. a seed catalogue.
    bool writeFile(const QString& name, const QByteArray& contents);
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QString workDir() const { return m_dir.path(); }

    bool usesPostgres() const { return m_pg.has_value(); }
    QString schema() const { return m_schema; }
    // Serves the same PostgreSQL database and schema as `other`, which keeps owning it.
    void shareDatabaseWith(const ServerProcess& other);
    // The test server's clock (bin/testserver only): moves it forward by the given seconds, at once,
    // for every request from now on. The shipped server ignores it.
    bool advanceClock(qint64 seconds);
    // The test server's time now: the real time moved forward by every advanceClock().
    QDateTime clockNow() const { return QDateTime::currentDateTime().addSecs(m_clockOffset); }

    // Every stored row as text (PostgreSQL), or the database files (SQLite).
    QByteArray storedBytes();

    // Starts the program and waits for its "listening on" line. False (see errorText()) when it
    // exits or stays silent.
    bool start(int timeoutMs = 120000);
    // Asks the server to end (SIGTERM) and waits; kills it when it does not end in time.
    bool stop(int timeoutMs = 30000);
    // Ends the server at once with SIGKILL, as a crash or power cut would: nothing is flushed or closed.
    void kill();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    int exitCode() const { return m_process.exitCode(); }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; } // 0 when the server serves no TLS
    // The self-signed certificate the server created beside its database.
    QSslCertificate tlsCertificate() const;
    // The password printed on first start when none was configured; empty otherwise.
    QString generatedAdminPassword() const { return m_adminPassword; }
    QString errorText() const { return m_error; }

    // Every line the server printed so far (standard output and error).
    QStringList output();
    // Waits until a line containing the text appears, looking at lines from `fromLine` on.
    bool waitForOutput(const QString& text, int timeoutMs = 30000, int fromLine = 0);

private:
    void collect();

    QString m_program;
    QTemporaryDir m_dir;
    QVariantMap m_settings;
    QProcess m_process;
    QStringList m_lines;
    QByteArray m_partial;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    QString m_adminPassword;
    QString m_error;
    std::optional<PgTestDatabase> m_pg;
    QString m_schema;
    bool m_ownsSchema = false;
    qint64 m_clockOffset = 0;
};
