#include "databasepool.h"

#include "storage.h"

#include <QAtomicInt>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <QWaitCondition>

#include <deque>

namespace {

struct PendingJob {
    const DatabasePool::Job* job;
    QSemaphore done;
    bool lost = false; // the group it ran in did not commit
};

constexpr size_t MaxGroup = 64;

QAtomicInt connectionSerial;

} // namespace

struct DatabasePool::Queue {
    QMutex mutex;
    QWaitCondition wake;
    std::deque<PendingJob*> jobs;
    bool stopping = false;

    // False once stopped: nobody would run the job.
    bool push(PendingJob* job)
    {
        QMutexLocker lock(&mutex);
        if (stopping)
            return false;
        jobs.push_back(job);
        wake.wakeOne();
        return true;
    }

    // The next job, or nullptr once the queue is stopped and empty.
    PendingJob* take()
    {
        QMutexLocker lock(&mutex);
        while (jobs.empty() && !stopping)
            wake.wait(&mutex);
        if (jobs.empty())
            return nullptr;
        PendingJob* job = jobs.front();
        jobs.pop_front();
        return job;
    }

    // Every waiting job, at most `max`; empty once the queue is stopped and empty.
    std::vector<PendingJob*> takeMany(size_t max)
    {
        QMutexLocker lock(&mutex);
        while (jobs.empty() && !stopping)
            wake.wait(&mutex);
        std::vector<PendingJob*> taken;
        while (!jobs.empty() && taken.size() < max) {
            taken.push_back(jobs.front());
            jobs.pop_front();
        }
        return taken;
    }

    void stop()
    {
        QMutexLocker lock(&mutex);
        stopping = true;
        wake.wakeAll();
    }
};

namespace {

void logLine(const DatabasePool::LogFunction& log, const QString& line)
{
    if (log)
        log(line);
}

// Opens a lost connection again before a job; false while the database stays out of reach.
bool reconnected(Storage& storage, const QString& name, const DatabasePool::LogFunction& log)
{
    if (storage.isConnected())
        return true;
    if (!storage.ensureConnected())
        return false;
    logLine(log, QStringLiteral("database connection reopened (%1)").arg(name));
    return true;
}

// After a job: when it failed, finds out whether the connection itself is gone.
void noticeLostConnection(Storage& storage, const QString& name, const DatabasePool::LogFunction& log)
{
    if (!storage.failed())
        return;
    const QString error = storage.lastError();
    if (!storage.checkConnection())
        logLine(log,
                QStringLiteral("database connection lost (%1): %2; reopening it for the next request")
                    .arg(name, error.simplified()));
}

// Runs one job on a connection that nobody else uses meanwhile; false when it could not run.
bool runJob(Storage& storage, const DatabasePool::Job& job, const QString& name, const DatabasePool::LogFunction& log)
{
    storage.clearFailure();
    if (!reconnected(storage, name, log))
        return false;
    job(storage);
    noticeLostConnection(storage, name, log);
    return true;
}

} // namespace

// The reader connections, checked out by the threads that read. They are opened on the thread that
// starts the pool and then used by one thread at a time, handed over under the mutex.
class DatabasePool::Readers
{
public:
    void add(std::unique_ptr<Storage> storage)
    {
        QMutexLocker lock(&m_mutex);
        m_free.push_back(storage.get());
        m_all.push_back(std::move(storage));
    }

    // A free connection, or nullptr once stopped. Connections go to waiting threads in the order they
    // asked: a returned connection is handed to the longest waiter rather than to whoever takes the
    // lock first, so a busy server serves searches first come, first served and no request starves.
    Storage* checkOut()
    {
        QMutexLocker lock(&m_mutex);
        if (m_stopping)
            return nullptr;
        if (m_waiting.empty() && !m_free.empty()) {
            Storage* storage = m_free.back();
            m_free.pop_back();
            return storage;
        }
        Waiter me;
        m_waiting.push_back(&me);
        while (!me.given && !m_stopping)
            me.wake.wait(&m_mutex);
        if (!me.given) // stopped while waiting; stop() emptied the queue
            return nullptr;
        return me.given;
    }

    void checkIn(Storage* storage)
    {
        QMutexLocker lock(&m_mutex);
        if (!m_stopping && !m_waiting.empty()) {
            Waiter* next = m_waiting.front();
            m_waiting.pop_front();
            next->given = storage;
            next->wake.wakeOne();
            return;
        }
        m_free.push_back(storage);
        if (m_stopping && m_free.size() == m_all.size())
            m_allBack.wakeAll();
    }

    // Refuses further jobs, waits for the ones running and closes every connection.
    void stop()
    {
        QMutexLocker lock(&m_mutex);
        m_stopping = true;
        for (Waiter* waiter : m_waiting)
            waiter->wake.wakeOne();
        m_waiting.clear();
        while (m_free.size() != m_all.size())
            m_allBack.wait(&m_mutex);
        m_free.clear();
        m_all.clear();
    }

private:
    struct Waiter {
        QWaitCondition wake;
        Storage* given = nullptr;
    };

    QMutex m_mutex;
    std::deque<Waiter*> m_waiting;
    QWaitCondition m_allBack;
    std::vector<std::unique_ptr<Storage>> m_all;
    std::vector<Storage*> m_free;
    bool m_stopping = false;
};

class DatabasePool::Worker : public QThread
{
public:
    enum class Role { MigratingWriter, Writer };

    Worker(const DatabaseSettings& settings, Queue& queue, Role role, const LogFunction& log)
        : m_settings(settings)
        , m_queue(queue)
        , m_role(role)
        , m_log(log)
    {
        setObjectName(QStringLiteral("db-writer"));
    }

    // Waits until the connection is open; false with the reason when it could not be.
    bool waitUntilOpen(QString* error)
    {
        m_opened.acquire();
        if (error)
            *error = m_error;
        return m_error.isEmpty();
    }

    QString description() const { return m_description; }

protected:
    void run() override
    {
        Storage storage(m_settings, QStringLiteral("library-%1").arg(connectionSerial.fetchAndAddRelaxed(1)));
        const bool ok = storage.open() && (m_role != Role::MigratingWriter || storage.migrate());
        m_error = ok ? QString() : storage.lastError();
        m_description = storage.description();
        m_opened.release();
        if (!ok)
            return;
        if (storage.isSqlite())
            runGroups(storage);
        else
            runOneByOne(storage);
    }

private:
    void runOneByOne(Storage& storage)
    {
        while (PendingJob* pending = m_queue.take()) {
            pending->lost = !runJob(storage, *pending->job, objectName(), m_log);
            pending->done.release();
        }
    }

    // Each sync to disk costs milliseconds; changes that arrive together share one.
    void runGroups(Storage& storage)
    {
        for (;;) {
            const std::vector<PendingJob*> group = m_queue.takeMany(MaxGroup);
            if (group.empty())
                return;
            storage.clearFailure();
            const bool begun = storage.beginGroup();
            for (PendingJob* pending : group) {
                storage.clearFailure();
                if (begun)
                    (*pending->job)(storage);
            }
            storage.clearFailure();
            const bool committed = begun && storage.commitGroup();
            for (PendingJob* pending : group) {
                pending->lost = !committed;
                pending->done.release();
            }
        }
    }

    DatabaseSettings m_settings;
    Queue& m_queue;
    Role m_role;
    LogFunction m_log;
    QSemaphore m_opened;
    QString m_error;
    QString m_description;
};

DatabasePool::DatabasePool(const DatabaseSettings& settings, LogFunction log)
    : m_settings(settings)
    , m_log(std::move(log))
    , m_writeQueue(std::make_unique<Queue>())
    , m_readers(std::make_unique<Readers>())
{
}

DatabasePool::~DatabasePool()
{
    stop();
}

bool DatabasePool::start(QString* error)
{
    // The first writer creates or migrates the schema before any other connection uses it.
    const int writers = m_settings.isSqlite() ? 1 : m_settings.writers;
    for (int i = 0; i < writers; ++i) {
        auto worker = std::make_unique<Worker>(m_settings, *m_writeQueue,
                                               i == 0 ? Worker::Role::MigratingWriter : Worker::Role::Writer, m_log);
        worker->start();
        const bool open = worker->waitUntilOpen(error);
        if (i == 0)
            m_description = worker->description();
        m_workers.push_back(std::move(worker));
        if (!open) {
            // Nobody would take a job now: reads and writes refuse at once instead of waiting.
            stop();
            return false;
        }
    }
    const auto trigramCounts = std::make_shared<TrigramCounts>();
    const auto titleOrder = std::make_shared<TitleOrder>();
    const auto trigramSample = std::make_shared<TrigramSample>();
    for (int i = 0; i < m_settings.readerCount(); ++i) {
        auto storage = std::make_unique<Storage>(
            m_settings, QStringLiteral("library-%1").arg(connectionSerial.fetchAndAddRelaxed(1)));
        storage->shareTrigramCounts(trigramCounts);
        storage->shareTitleOrder(titleOrder);
        storage->shareTrigramSample(trigramSample);
        if (!storage->open()) {
            if (error)
                *error = storage->lastError();
            stop();
            return false;
        }
        m_readers->add(std::move(storage));
    }
    return true;
}

void DatabasePool::stop()
{
    m_readers->stop();
    m_writeQueue->stop();
    for (auto& worker : m_workers)
        worker->wait();
    m_workers.clear();
}

bool DatabasePool::read(const Job& job)
{
    Storage* storage = m_readers->checkOut();
    if (!storage)
        return false;
    const bool ran = runJob(*storage, job, QStringLiteral("db-reader"), m_log);
    m_readers->checkIn(storage);
    return ran;
}

bool DatabasePool::write(const Job& job)
{
    PendingJob pending{&job, QSemaphore(0)};
    if (!m_writeQueue->push(&pending))
        return false;
    pending.done.acquire();
    return !pending.lost;
}
