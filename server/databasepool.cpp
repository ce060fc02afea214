#include "databasepool.h"

#include "storage.h"

#include <QAtomicInt>

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

class DatabasePool::Worker : public QThread
{
public:
    enum class Role { MigratingWriter, Writer, Reader };

    Worker(const DatabaseSettings& settings, Queue& queue, Role role, const LogFunction& log)
        : m_settings(settings)
        , m_queue(queue)
        , m_role(role)
        , m_log(log)
    {
        setObjectName(role == Role::Reader ? QStringLiteral("db-reader") : QStringLiteral("db-writer"));
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
        if (m_role != Role::Reader && storage.isSqlite())
            runGroups(storage);
        else
            runOneByOne(storage);
    }

private:
    void runOneByOne(Storage& storage)
    {
        while (PendingJob* pending = m_queue.take()) {
            storage.clearFailure();
            if (reconnected(storage)) {
                (*pending->job)(storage);
                noticeLostConnection(storage);
            } else {
                pending->lost = true;
            }
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

    // Opens a lost connection again; false while the database stays out of reach.
    bool reconnected(Storage& storage)
    {
        if (storage.isConnected())
            return true;
        if (!storage.ensureConnected())
            return false;
        log(QStringLiteral("database connection reopened (%1)").arg(objectName()));
        return true;
    }

    void noticeLostConnection(Storage& storage)
    {
        if (!storage.failed())
            return;
        const QString error = storage.lastError();
        if (!storage.checkConnection())
            log(QStringLiteral("database connection lost (%1): %2; reopening it for the next request")
                    .arg(objectName(), error.simplified()));
    }

    void log(const QString& line)
    {
        if (m_log)
            m_log(line);
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
    , m_readQueue(std::make_unique<Queue>())
    , m_writeQueue(std::make_unique<Queue>())
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
    for (int i = 0; i < writers + m_settings.readers; ++i) {
        const Worker::Role role = i == 0 ? Worker::Role::MigratingWriter
            : i < writers                ? Worker::Role::Writer
                                         : Worker::Role::Reader;
        auto worker = std::make_unique<Worker>(m_settings, role == Worker::Role::Reader ? *m_readQueue : *m_writeQueue,
                                               role, m_log);
        worker->start();
        const bool open = worker->waitUntilOpen(error);
        if (i == 0)
            m_description = worker->description();
        m_workers.push_back(std::move(worker));
        if (!open) {
            // Nobody would take a job from the queues now: they refuse at once instead of waiting.
            stop();
            return false;
        }
    }
    return true;
}

void DatabasePool::stop()
{
    m_readQueue->stop();
    m_writeQueue->stop();
    for (auto& worker : m_workers)
        worker->wait();
    m_workers.clear();
}

bool DatabasePool::read(const Job& job)
{
    return runOn(*m_readQueue, job);
}

bool DatabasePool::write(const Job& job)
{
    return runOn(*m_writeQueue, job);
}

bool DatabasePool::runOn(Queue& queue, const Job& job)
{
    PendingJob pending{&job, QSemaphore(0)};
    if (!queue.push(&pending))
        return false;
    pending.done.acquire();
    return !pending.lost;
}
