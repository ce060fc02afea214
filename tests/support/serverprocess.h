#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

// Runs the real server program in a temporary working directory of its own, with a server.ini made of
// the given settings (on a free loopback port unless told otherwise), and reads the port it printed.
// The directory outlives stop(), so a test can start the same server again on the same database.
class ServerProcess
{
public:
    explicit ServerProcess(const QString& program);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // An INI key such as "admin/initialPassword"; applied at the next start().
    void setSetting(const QString& key, const QVariant& value);
    // Writes a file into the working directory, e.g. a seed catalogue.
    bool writeFile(const QString& name, const QByteArray& contents);
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    QString workDir() const { return m_dir.path(); }

    // Starts the program and waits for its "listening on" line. False (see errorText()) when it
    // exits or stays silent.
    bool start(int timeoutMs = 120000);
    // Asks the server to end (SIGTERM) and waits; kills it when it does not end in time.
    bool stop(int timeoutMs = 30000);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
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
    QString m_adminPassword;
    QString m_error;
};
