#include "serverruntime.h"

#include "catalogueimport.h"
#include "connectionserver.h"
#include "databasepool.h"
#include "levels.h"
#include "logger.h"
#include "loginthrottle.h"
#include "passwordhasher.h"
#include "requestcontext.h"
#include "serverclock.h"
#include "sessionstore.h"

#include <QDateTime>
#include <QFile>
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
        QMetaObject::invokeMethod(m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_server = nullptr;
    }
    m_listenerThread.quit();
    m_listenerThread.wait();
    if (m_database)
        m_database->stop();
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

    Logger* logger = m_logger;
    m_database = std::make_unique<DatabasePool>(m_settings.database, [logger](const QString& line) { logger->log(line); });
    QString error;
    if (!m_database->start(&error)) {
        // One line that says what failed and where; the driver's own message may span several.
        m_logger->log(QStringLiteral("cannot open the database %1: %2")
                          .arg(m_database->description(), error.simplified()));
        return false;
    }
    m_logger->log(QStringLiteral("database ") + m_database->description());
    // A server alone on its file keeps logins and failed-login counters in memory; servers sharing a
    // database share them there.
    const SessionLimits limits{qint64(m_settings.sessionIdleMinutes * 60000), qint64(m_settings.sessionMaxHours * 3600000)};
    const auto now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    const LoginThrottle::Limits throttleLimits{m_settings.loginFailuresAllowed, m_settings.loginFailuresPerAddress,
                                               m_settings.loginFailuresPerAccount, m_settings.loginLockoutMs};
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
    });
    sweeper->start(60 * 1000);
    m_context = std::unique_ptr<ServerContext>(
        new ServerContext{m_settings, *m_database, *m_sessions, *m_throttle, *m_hasher, {}});

    if (!createFirstAdministrator())
        return false;
    importSeedCatalogue();
    setMissingDueDates();

    m_listenerThread.setObjectName(QStringLiteral("listener"));
    m_listenerThread.start();
    m_server = new ConnectionServer(m_context.get(), m_logger, m_settings.maxConnections);
    m_server->moveToThread(&m_listenerThread);
    bool listening = false;
    QString listenError;
    QMetaObject::invokeMethod(
        m_server,
        [&] {
            listening = m_server->listen(m_settings.address, m_settings.port);
            if (!listening) {
                listenError = m_server->errorString();
                return;
            }
            const QHostAddress address = m_server->serverAddress();
            const bool any = address == QHostAddress::Any || address == QHostAddress::AnyIPv6
                || address == QHostAddress::AnyIPv4;
            m_listeningText = (any ? QStringLiteral("0.0.0.0") : address.toString()) + QLatin1Char(':')
                + QString::number(m_server->serverPort());
        },
        Qt::BlockingQueuedConnection);
    if (!listening) {
        m_logger->log(QStringLiteral("cannot listen on port %1: %2").arg(m_settings.port).arg(listenError));
        return false;
    }
    // Printed directly and once, so that whoever started the server can read the port from it.
    std::printf("listening on %s\n", qPrintable(listeningText()));
    std::fflush(stdout);
    return true;
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
                if (borrowed.isValid() && storage.setDueDate(loan.number, ServerClock::stamp(m_settings.dueFrom(borrowed, loan.level))))
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
    for (const QString& problem : std::as_const(problems))
        m_logger->log(QStringLiteral("seed catalogue %1: %2").arg(m_settings.seedFile, problem));
    m_logger->log(QStringLiteral("seed catalogue %1: imported %2 books").arg(m_settings.seedFile).arg(added));
}

QString ServerRuntime::listeningText() const
{
    return m_listeningText;
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
