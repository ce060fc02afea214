#pragma once

#include "serversettings.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

class Storage;

// Long-lived database connections: writers, which every change goes through, and readers. Opening a
// connection costs far more than a point query, so connections outlive the requests they serve.
//
// A read runs on the caller's own thread, on a reader connection it checks out for the job and hands
// back: handing every query to another thread and waiting for it cost two thread switches a request.
// A change is handed to a writer thread and the caller waits until it is committed. On SQLite there
// is one writer, which commits the changes that wait together as one group. On PostgreSQL several
// writers run changes side by side, each in a transaction of its own, kept apart by row locks as the
// changes of other servers on the same database are. A lost PostgreSQL connection is reopened before
// the next job; jobs meanwhile fail.
class DatabasePool
{
public:
    using Job = std::function<void(Storage&)>;
    using LogFunction = std::function<void(const QString&)>;

    explicit DatabasePool(const DatabaseSettings& settings, LogFunction log = {});
    ~DatabasePool();
    DatabasePool(const DatabasePool&) = delete;
    DatabasePool& operator=(const DatabasePool&) = delete;

    // Opens every connection; the writer first, which creates or migrates the schema.
    bool start(QString* error);
    void stop();

    // Both return false once the pool is stopped (the job did not run) or when the change could not be
    // committed (whatever the job saw is void).
    bool read(const Job& job);
    bool write(const Job& job);

    QString description() const { return m_description; }

    struct Queue;

private:
    class Worker;
    class Readers;

    DatabaseSettings m_settings;
    LogFunction m_log;
    std::unique_ptr<Queue> m_writeQueue;
    std::unique_ptr<Readers> m_readers;
    std::vector<std::unique_ptr<Worker>> m_workers;
    QString m_description;
};
