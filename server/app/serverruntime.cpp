#include "serverruntime.h"

#include "catalogueimport.h"
#include "connectionserver.h"
#include "databasebackup.h"
#include "databaseguard.h"
#include "databasepool.h"
#include "devicetokens.h"
#include "levels.h"
#include "logger.h"
#include "loginthrottle.h"
#include "noticeservice.h"
#include "passwordhasher.h"
#include "requestcontext.h"
#include "searchtext.h"
#include "serverclock.h"
#include "sessionstore.h"
#include "tlscredentials.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

ServerRuntime::ServerRuntime(Logger* logger, QObject* parent)
    : QObject(parent)
    , m_logger(logger)
{
}

ServerRuntime::~ServerRuntime()
{
    // Connections first: their threads use the database and the context.
    if (m_server) {
        QMetaObject::invokeMethod(
            m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_server = nullptr;
    }
    m_listenerThread.quit();
    m_listenerThread.wait();
    m_upkeepTimer.stop();
    m_notices.reset();
    if (m_backupThread) {
        m_backupThread->wait();
        delete m_backupThread;
    }
    if (m_database)
        m_database->stop();
    // A stop looks different from a crash in the log.
    if (m_started)
        m_logger->log(QStringLiteral("server stopped cleanly"));
}

bool ServerRuntime::start()
{
    QStringList problems;
    m_settings = ServerSettings::load(QStringLiteral("server.ini"), &problems);
    for (const QString& problem : std::as_const(problems))
        m_logger->log(QStringLiteral("server.ini: ") + problem);

    if (!PasswordHasher::initialise()) {
        m_logger->log(QStringLiteral("cannot initialise libsodium"));
        return false;
    }
    m_hasher = std::make_unique<PasswordHasher>();

    // A database that is not there is created, but never quietly: an empty library in place of a lost
    // file would look like a working one.
    const DatabaseGuard::Finding finding = DatabaseGuard::inspect(m_settings.database);
    if (finding.state == DatabaseGuard::State::Unusable) {
        m_logger->log(finding.message);
        return false;
    }
    if (finding.state == DatabaseGuard::State::New) {
        m_logger->log(finding.message);
        std::fprintf(stderr, "%s\n", qPrintable(finding.message));
    }

    // The ICU data behind the search forms loads in a few hundred milliseconds: now, not in the
    // first search or the first book added.
    SearchText::warmUp();

    Logger* logger = m_logger;
    m_database =
        std::make_unique<DatabasePool>(m_settings.database, [logger](const QString& line) { logger->log(line); });
    QString error;
    if (!m_database->start(&error)) {
        // One line that says what failed and where; the driver's own message may span several.
        m_logger->log(
            QStringLiteral("cannot open the database %1: %2").arg(m_database->description(), error.simplified()));
        return false;
    }
    m_logger->log(QStringLiteral("database ") + m_database->description());
    // A server alone on its file keeps logins and failed-login counters in memory; servers sharing a
    // database share them there.
    const SessionLimits limits{qint64(m_settings.sessionIdleMinutes * 60000),
                               qint64(m_settings.sessionMaxHours * 3600000),
                               qint64(m_settings.addressSessionIdleMinutes * 60000)};
    const auto now = [] { return ServerClock::nowMs(); };
    const LoginThrottle::Limits throttleLimits{m_settings.loginFailuresAllowed, m_settings.loginFailuresPerAddress,
                                               m_settings.loginFailuresPerAccount, m_settings.loginLockoutMs};
    m_devices = std::make_unique<DeviceTokens>(*m_database, qint64(m_settings.deviceTokenDays) * 24 * 3600 * 1000, now);
    if (m_settings.database.isSqlite()) {
        m_sessions = std::make_unique<MemorySessionStore>(limits, now);
        m_throttle = std::make_unique<LoginThrottle>(throttleLimits, now, LoginThrottle::inMemory());
    } else {
        m_sessions = std::make_unique<DatabaseSessionStore>(*m_database, limits, now);
        m_throttle = std::make_unique<LoginThrottle>(throttleLimits, now, LoginThrottle::inDatabase(*m_database));
    }
    // Ended sessions and quiet counters are cleared out here, away from the requests.
    auto* sweeper = new QTimer(this);
    connect(sweeper, &QTimer::timeout, this, [this] {
        m_sessions->sweep();
        m_throttle->sweep();
        m_devices->sweep();
    });
    sweeper->start(60 * 1000);
    m_context = std::unique_ptr<ServerContext>(
        new ServerContext{m_settings, *m_database, *m_sessions, *m_throttle, *m_hasher, *m_devices, {}});

    if (!createFirstAdministrator())
        return false;
    importSeedCatalogue();
    setMissingDueDates();
    startNotices();

    if (!m_settings.plain && !m_settings.tls) {
        m_logger->log(
            QStringLiteral("server.ini: [network] plain=false and [tls] enabled=false leave no port to serve"));
        return false;
    }
    std::optional<QSslConfiguration> tls;
    if (m_settings.tls) {
        TlsCredentials credentials;
        QString tlsError;
        if (!credentials.load(m_settings.tlsCertificate, m_settings.tlsKey, privateDirectory(), &tlsError)) {
            m_logger->log(QStringLiteral("TLS: ") + tlsError);
            return false;
        }
        if (credentials.created())
            m_logger->log(
                QStringLiteral("TLS: created a self-signed certificate, %1").arg(credentials.certificatePath()));
        // On every start, in the log and on standard output: desks compare it with what their client shows.
        const QString line = QStringLiteral("TLS certificate %1 SHA-256 fingerprint %2")
                                 .arg(credentials.certificatePath(), credentials.fingerprint());
        m_logger->log(line);
        tls = credentials.serverConfiguration();
    }

    m_listenerThread.setObjectName(QStringLiteral("listener"));
    m_listenerThread.start();
    m_server = new ConnectionServer(m_context.get(), m_logger);
    m_server->moveToThread(&m_listenerThread);
    // TLS first: the plain "listening on" line, when there is one, comes last and says the server is up.
    if (tls && !listen(m_settings.tlsPort, tls, QStringLiteral("listening for TLS on ")))
        return false;
    if (m_settings.plain && !listen(m_settings.port, std::nullopt, QStringLiteral("listening on ")))
        return false;

    const CatalogueCounts c = counts();
    m_logger->log(QStringLiteral("started: %1 books, %2 on loan, %3 accounts, %4 unconfirmed")
                      .arg(c.books)
                      .arg(c.loans)
                      .arg(c.accounts)
                      .arg(c.unconfirmed));
    if (!m_settings.backupDirectory.isEmpty() && !m_settings.database.isSqlite())
        m_logger->log(QStringLiteral("[backup] copies SQLite databases only; back PostgreSQL up with pg_dump"));
    else if (!m_settings.backupDirectory.isEmpty())
        m_logger->log(QStringLiteral("backups every %1 hours into %2, keeping %3")
                          .arg(m_settings.backupEveryHours)
                          .arg(QDir::current().absoluteFilePath(m_settings.backupDirectory))
                          .arg(m_settings.backupKeep));
    // Now and then once an hour: the loan history is pruned, and a backup taken when one is due.
    upkeep();
    connect(&m_upkeepTimer, &QTimer::timeout, this, [this] { upkeep(); });
    m_upkeepTimer.start(3600 * 1000);
    m_started = true;
    return true;
}

bool ServerRuntime::listen(quint16 port, const std::optional<QSslConfiguration>& tls, const QString& announcement)
{
    quint16 bound = 0;
    QString error;
    QMetaObject::invokeMethod(
        m_server, [&] { bound = m_server->listen(m_settings.address, port, tls, &error); },
        Qt::BlockingQueuedConnection);
    if (bound == 0) {
        m_logger->log(QStringLiteral("cannot listen on port %1: %2").arg(port).arg(error));
        return false;
    }
    const QHostAddress& address = m_settings.address;
    const bool any =
        address == QHostAddress::Any || address == QHostAddress::AnyIPv6 || address == QHostAddress::AnyIPv4;
    const QString text =
        (any ? QStringLiteral("0.0.0.0") : address.toString()) + QLatin1Char(':') + QString::number(bound);
    if (tls)
        m_tlsText = text;
    else
        m_listeningText = text;
    // Printed directly and once, so that whoever started the server can read the port from it.
    std::printf("%s\n", qPrintable(announcement + text));
    std::fflush(stdout);
    return true;
}

QString ServerRuntime::privateDirectory() const
{
    // Beside the database, which is kept from other users in the same way.
    if (m_settings.database.isSqlite())
        return QFileInfo(m_settings.database.location()).absolutePath();
    return QDir::currentPath();
}

void ServerRuntime::startNotices()
{
    const NoticeSettings& settings = m_settings.notices;
    if (!settings.enabled) {
        m_logger->log(QStringLiteral("notices: off ([notices] enabled=false)"));
        return;
    }
    if (const QString problem = NoticeService::problem(settings); !problem.isEmpty()) {
        // The library wanted notices: say loudly that none go out, but serve the desk.
        m_logger->log(QStringLiteral("notices: NOT STARTED, [notices] ") + problem);
        return;
    }
    Logger* logger = m_logger;
    m_notices =
        std::make_unique<NoticeService>(*m_database, settings, [logger](const QString& line) { logger->log(line); });
    NoticeService* notices = m_notices.get();
    m_context->copyKept = [notices] { notices->wake(); };
    m_notices->start();
}

void ServerRuntime::upkeep()
{
    if (m_settings.loanHistoryDays > 0) {
        const QString cutoff = ServerClock::stamp(ServerClock::nowUtc().addDays(-m_settings.loanHistoryDays));
        qint64 loans = 0, entries = 0;
        m_database->write([&](Storage& storage) {
            loans = storage.pruneLoanHistory(cutoff);
            entries = storage.pruneLoanAudit(cutoff);
        });
        if (loans > 0 || entries > 0)
            m_logger->log(
                QStringLiteral("privacy: removed %1 finished loans and %2 loan entries of the audit trail older than "
                               "%3 days")
                    .arg(loans)
                    .arg(entries)
                    .arg(m_settings.loanHistoryDays));
    }
    // Which accounts borrowed in a month serves only to count each reader once in it: forgotten once
    // the month is over.
    m_database->write([&](Storage& storage) {
        storage.pruneReaderMonths(ServerClock::nowUtc().toLocalTime().toString(QStringLiteral("yyyy-MM")));
    });
    if (m_settings.unconfirmedDays > 0) {
        // Registrations nobody confirmed in time, that never borrowed: a flood clears itself.
        const QString cutoff = ServerClock::stamp(ServerClock::nowUtc().addDays(-m_settings.unconfirmedDays));
        qint64 expired = 0;
        m_database->write([&](Storage& storage) {
            Storage::WriteTransaction transaction(storage);
            expired = storage.expireUnconfirmed(cutoff);
            if (expired > 0)
                storage.appendAudit({ServerClock::nowStamp(), QString(), QString(),
                                     Wire::word(AuditAction::ExpireUnconfirmed), QString(), QString(),
                                     QStringLiteral("%1 accounts").arg(expired)});
            if (!transaction.commit())
                expired = 0;
        });
        if (expired > 0)
            m_logger->log(QStringLiteral("registration: removed %1 unconfirmed accounts older than %2 days")
                              .arg(expired)
                              .arg(m_settings.unconfirmedDays));
    }
    if (m_settings.backupDirectory.isEmpty() || !m_settings.database.isSqlite()
        || (m_backupThread && m_backupThread->isRunning()))
        return;
    // Due when the newest copy is older than the interval, so that restarts neither skip nor repeat one.
    const QFileInfoList copies =
        QDir(m_settings.backupDirectory).entryInfoList({QStringLiteral("library-*.db")}, QDir::Files, QDir::Time);
    if (!copies.isEmpty()
        && copies.first().lastModified().secsTo(QDateTime::currentDateTime())
            < qint64(m_settings.backupEveryHours) * 3600)
        return;
    if (m_backupThread) {
        m_backupThread->wait();
        delete m_backupThread;
    }
    // Off the window's thread: a copy of a large library takes a while.
    const DatabaseSettings database = m_settings.database;
    const QString directory = m_settings.backupDirectory;
    const int keep = m_settings.backupKeep;
    Logger* logger = m_logger;
    m_backupThread = QThread::create([database, directory, keep, logger] {
        QString error;
        const QString path = DatabaseBackup::writeInto(database, directory, keep, &error);
        logger->log(path.isEmpty() ? QStringLiteral("backup failed: ") + error
                                   : QStringLiteral("backup written: ") + path);
    });
    m_backupThread->start();
}

bool ServerRuntime::createFirstAdministrator()
{
    qint64 accounts = 0;
    m_database->read([&](Storage& storage) { accounts = storage.accountCount(); });
    if (accounts > 0)
        return true;
    const bool generated = m_settings.adminInitialPassword.isEmpty();
    const QString password = generated ? PasswordHasher::randomPassword() : m_settings.adminInitialPassword;
    AccountRow admin;
    admin.id = m_settings.adminId;
    admin.name = m_settings.adminId;
    admin.level = Levels::englishName(Levels::SuperAdmin);
    admin.passwordHash = m_hasher->hash(password);
    // A generated password has been on the console (and in a service's journal): it only lets its
    // holder choose a new one.
    admin.mustChangePassword = generated;
    QString error;
    if (!m_database->write([&](Storage& storage) {
            if (!storage.insertAccount(admin))
                error = storage.lastError();
        }))
        error = QStringLiteral("not committed");
    if (!error.isEmpty() || admin.passwordHash.isEmpty()) {
        m_logger->log(QStringLiteral("cannot create the administrator account: ") + error);
        return false;
    }
    m_logger->log(QStringLiteral("created the Super Admin account \"%1\"").arg(admin.id));
    if (generated) {
        // Shown once, on the console only: it is not kept anywhere in readable form.
        std::printf("admin password: %s\n", qPrintable(password));
        std::fflush(stdout);
    }
    return true;
}

void ServerRuntime::setMissingDueDates()
{
    // Loans made before due dates were kept fall due one loan period (of the borrower's level) after
    // they were made. Several servers starting at once set the same dates.
    int updated = 0;
    QString error;
    if (!m_database->write([&](Storage& storage) {
            for (const ActiveLoan& loan : storage.loansWithoutDueDate()) {
                const QDateTime borrowed = ServerClock::fromStamp(loan.borrowedAt);
                if (borrowed.isValid()
                    && storage.setDueDate(loan.number, ServerClock::stamp(m_settings.dueFrom(borrowed, loan.level))))
                    ++updated;
            }
            if (storage.failed())
                error = storage.lastError();
        }))
        error = QStringLiteral("not committed");
    if (!error.isEmpty())
        m_logger->log(QStringLiteral("cannot set the due dates of earlier loans: ") + error);
    else if (updated > 0)
        m_logger->log(QStringLiteral("set the due dates of %1 earlier loans").arg(updated));
}

void ServerRuntime::importSeedCatalogue()
{
    if (m_settings.seedFile.isEmpty())
        return;
    qint64 books = 0;
    m_database->read([&](Storage& storage) { books = storage.bookCount(); });
    if (books > 0)
        return;
    QFile file(m_settings.seedFile);
    if (!file.open(QIODevice::ReadOnly)) {
        m_logger->log(QStringLiteral("seed catalogue %1: %2").arg(m_settings.seedFile, file.errorString()));
        return;
    }
    const CatalogueCsv::Result parsed = CatalogueCsv::parse(file.readAll());
    QStringList problems = parsed.problems;
    int added = 0;
    if (!m_database->write([&](Storage& storage) { added = importCatalogue(storage, parsed, &problems); })) {
        problems.append(QStringLiteral("the import was not committed"));
        added = 0;
    }
    if (added > 0 && !m_database->write([](Storage& storage) { storage.afterBulkLoad(); }))
        problems.append(QStringLiteral("the search indexes were not tidied after the import"));
    for (const QString& problem : std::as_const(problems))
        m_logger->log(QStringLiteral("seed catalogue %1: %2").arg(m_settings.seedFile, problem));
    m_logger->log(QStringLiteral("seed catalogue %1: imported %2 books").arg(m_settings.seedFile).arg(added));
}

QString ServerRuntime::listeningText() const
{
    return m_listeningText;
}

QString ServerRuntime::tlsText() const
{
    return m_tlsText;
}

QString ServerRuntime::databaseText() const
{
    return m_database ? m_database->description() : QString();
}

int ServerRuntime::activeConnections() const
{
    return m_server ? m_server->activeConnections() : 0;
}

CatalogueCounts ServerRuntime::counts()
{
    CatalogueCounts counts;
    if (m_database)
        m_database->read([&](Storage& storage) { counts = storage.counts(); });
    return counts;
}

quint64 ServerRuntime::changeCount() const
{
    return m_context ? m_context->changes.loadRelaxed() : 0;
}
