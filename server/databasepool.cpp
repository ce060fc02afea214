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
    Worker(const DatabaseSettings& settings, Queue& queue, bool migrates)
        : m_settings(settings)
        , m_queue(queue)
        , m_migrates(migrates)
    {
        setObjectName(migrates ? QStringLiteral("db-writer") : QStringLiteral("db-reader"));
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
        const bool ok = storage.open() && (!m_migrates || storage.migrate());
        m_error = ok ? QString() : storage.lastError();
        m_description = storage.description();
        m_opened.release();
        if (!ok)
            return;
        if (m_migrates)
            runGroups(storage);
        else
            runOneByOne(storage);
    }

private:
    void runOneByOne(Storage& storage)
    {
        while (PendingJob* pending = m_queue.take()) {
            storage.clearFailure();
            (*pending->job)(storage);
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

public:

private:
    DatabaseSettings m_settings;
    Queue& m_queue;
    bool m_migrates;
    QSemaphore m_opened;
    QString m_error;
    QString m_description;
};

DatabasePool::DatabasePool(const DatabaseSettings& settings)
    : m_settings(settings)
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
    auto writer = std::make_unique<Worker>(m_settings, *m_writeQueue, true);
    writer->start();
    const bool writerOpen = writer->waitUntilOpen(error);
    m_description = writer->description();
    m_workers.push_back(std::move(writer));
    if (!writerOpen)
        return false;
    for (int i = 0; i < m_settings.readers; ++i) {
        auto reader = std::make_unique<Worker>(m_settings, *m_readQueue, false);
        reader->start();
        const bool open = reader->waitUntilOpen(error);
        m_workers.push_back(std::move(reader));
        if (!open)
            return false;
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
