#pragma once

#include "serversettings.h"
#include "storage.h"

#include <QObject>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>

#include <memory>
#include <optional>

class ConnectionServer;
class DatabasePool;
class DeviceTokens;
class Logger;
class LoginThrottle;
class NoticeService;
class PasswordHasher;
class SessionStore;
struct ServerContext;

// Everything the server runs, started in order: settings, database (schema, first administrator,
// seed catalogue), then the listening socket. The console window shows it; it works without one.
class ServerRuntime : public QObject
{
    Q_OBJECT
public:
    explicit ServerRuntime(Logger* logger, QObject* parent = nullptr);
    ~ServerRuntime() override;

    // Reads server.ini from the working directory and starts; false (with a log line) when it cannot.
    bool start();

    QString listeningText() const;
    QString tlsText() const; // the TLS port's address, or empty
    QString databaseText() const;
    int activeConnections() const;
    // Counts read afresh from the database.
    CatalogueCounts counts();
    // Goes up whenever stored data changes.
    quint64 changeCount() const;

private:
    bool createFirstAdministrator();
    void importSeedCatalogue();
    void setMissingDueDates();
    // Starts the notices when the library turned them on and their settings can send e-mail.
    void startNotices();
    bool listen(quint16 port, const std::optional<QSslConfiguration>& tls, const QString& announcement);
    // Where private files (the self-signed key) are kept: beside the database.
    QString privateDirectory() const;
    // Prunes the loan history, and starts a scheduled backup when one is due.
    void upkeep();

    Logger* m_logger;
    ServerSettings m_settings;
    std::unique_ptr<DatabasePool> m_database;
    std::unique_ptr<SessionStore> m_sessions;
    std::unique_ptr<LoginThrottle> m_throttle;
    std::unique_ptr<DeviceTokens> m_devices;
    std::unique_ptr<PasswordHasher> m_hasher;
    std::unique_ptr<ServerContext> m_context;
    std::unique_ptr<NoticeService> m_notices;
    // The listening socket and the start of every connection thread run on a thread of their own,
    // so that the console window never delays accepting.
    QThread m_listenerThread;
    ConnectionServer* m_server = nullptr; // lives on m_listenerThread
    QString m_listeningText = QStringLiteral("not listening");
    QString m_tlsText;
    QTimer m_upkeepTimer;
    QThread* m_backupThread = nullptr;
    bool m_started = false;
};
