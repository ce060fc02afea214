#pragma once

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QString>
#include <QThread>

// Everything the server reads from the optional server.ini in its working directory. The defaults
// serve a single machine with no file at all.
struct DatabaseSettings {
    QString driver = QStringLiteral("QSQLITE");
    QString name = QStringLiteral("library.db");
    QString host;
    int port = 0; // 0: the driver's default
    QString user;
    QString password;
    // PostgreSQL: the schema the tables live in (created when missing); empty: the default search path.
    // Several libraries, or test runs, can then share one database.
    QString schema;
    // Read connections, checked out by the connection threads; beside the writers. 0: automatic, see
    // readerCount().
    int readers = 0;
    // PostgreSQL: connections that make changes. SQLite always has one writer, which groups commits.
    int writers = 3;

    bool isSqlite() const { return driver.compare(QLatin1String("QSQLITE"), Qt::CaseInsensitive) == 0; }
    // SQLite reads run on this machine's cores: one reader more than the cores keeps them busy, and
    // the requests beyond wait their turn in order instead of sharing the cores among many half-done
    // searches (which makes the slowest of them several times slower). A database server runs the
    // reads on its own cores.
    int readerCount() const { return readers > 0 ? readers : isSqlite() ? QThread::idealThreadCount() + 1 : 8; }
    // Where the database is, for messages: the file, or "host:port/name".
    QString location() const;
};

// [notices]: e-mail to readers about their loans and holds (see NoticeService).
struct NoticeSettings {
    bool enabled = false; // on once the library has set its SMTP server
    int dueSoonDays = 3;
    int overdueEveryDays = 7;
    int overdueMax = 3;
    int scanSeconds = 900;
    QString libraryName = QStringLiteral("图书馆 Library");
    QString templates; // a folder of template files; empty or a missing file: the built-in one
    QString smtpUrl;
    QString smtpUser;
    QString smtpPassword; // never logged
    QString from; // the sender's address
    bool allowPlainSmtp = false;
};

struct ServerSettings {
    // [network]
    QHostAddress address = QHostAddress::Any;
    quint16 port = 9999;
    bool plain = true; // serve the plain port; false: TLS only
    int maxConnections = 1024; // threads are cheap: sized for bursts of idle peers, not for the request rate
    int maxConnectionsPerAddress = 16;
    int firstByteTimeoutMs = 2000; // the first byte of the request (after the TLS handshake) within this
    int readTimeoutMs = 10000;
    // [tls]
    bool tls = true;
    quint16 tlsPort = 9443;
    QString tlsCertificate; // PEM files; both empty: a self-signed pair kept beside the database
    QString tlsKey;
    // [database]
    DatabaseSettings database;
    // [admin]
    QString adminId = QStringLiteral("admin");
    QString adminInitialPassword; // empty: a random one, printed once
    // [catalogue]
    QString seedFile;
    int maxSearchRows = 1000;
    // [cataloguing]: other libraries' catalogues asked for a title's record, in order
    QString cataloguingTargets; // "host:port/database, sru:https://...", comma-separated
    int cataloguingTimeoutSeconds = 8; // per target
    int cataloguingMaxRecords = 10;
    // [loanLimits], keyed by English level name
    QHash<QString, int> loanLimits;
    // [loanPeriods], days per loan keyed by English level name
    QHash<QString, int> loanPeriods;
    // [circulation]
    bool blockWhenOverdue = true; // a reader with an overdue loan cannot borrow
    int maxRenewals = 2;
    int renewOverdueDays = 0; // a loan overdue by more days than this cannot be renewed
    int holdDays = 3; // how long a returned copy is kept for the next reader in its queue
    int renewWithinDays = 7; // a loan is renewed only this close to its due date
    // [maxHolds], holds at once keyed by English level name
    QHash<QString, int> maxHolds;
    // [security]
    double sessionIdleMinutes = 30; // a session ends after this long without a request
    double sessionMaxHours = 12; // and this long after its login ("sessionHours" is read too)
    double passwordChangeMinutes = 10; // a password is changed only this soon after the login
    bool addressSessions = true; // false: only requests with a session token are authorised
    double addressSessionIdleMinutes = 10; // an address session (a documented client) ends sooner
    bool addressPasswordChange = false; // a new password without the current one (documented clients)
    int deviceTokenDays = 180; // a device token exempts its account's logins from the account-wide lock
    int loginFailuresAllowed = 5; // per address and account
    int loginFailuresPerAddress = 20; // per address, across accounts
    int loginFailuresPerAccount = 20; // per account, across addresses
    int loginLockoutMs = 30000;
    // [registration]
    int registrationsPerAddressPerHour = 5;
    int registrationsPerNetworkPerHour = 20; // an IPv4 /24 or an IPv6 /64
    int maxUnconfirmedAccounts = 500;
    int unconfirmedDays = 14; // unconfirmed accounts with nothing borrowed are removed after this; 0 keeps them
    // [backup]
    QString backupDirectory; // empty: no scheduled backups
    int backupEveryHours = 24;
    int backupKeep = 7;
    // [privacy]
    int loanHistoryDays = 365;
    NoticeSettings notices;

    ServerSettings();
    // Loads the file when it exists; keys that are missing or unreadable keep their defaults and are
    // reported in `problems`.
    static ServerSettings load(const QString& path, QStringList* problems = nullptr);

    int loanLimit(const QString& level) const { return loanLimits.value(level, 0); }
    int holdLimit(const QString& level) const { return maxHolds.value(level, 0); }
    int loanPeriodDays(const QString& level) const { return loanPeriods.value(level, 30); }
    // When a loan made (or renewed) at `start` by a reader of the level falls due.
    QDateTime dueFrom(const QDateTime& start, const QString& level) const
    {
        return start.addDays(loanPeriodDays(level));
    }
};
