#pragma once

#include <QAtomicInt>
#include <QQueue>
#include <QSet>
#include <QTcpServer>

struct ServerContext;
class Logger;
class TcpThread;

// Accepts connections and serves each on a new TcpThread. At most `maxConnections` are served at
// once: beyond that, accepting pauses (the kernel queues further peers) and resumes as threads end.
class ConnectionServer : public QTcpServer
{
    Q_OBJECT
public:
    ConnectionServer(ServerContext* context, Logger* logger, int maxConnections, QObject* parent = nullptr);
    ~ConnectionServer() override;

    // Safe from any thread.
    int activeConnections() const { return m_active.loadRelaxed(); }

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void startThread(qintptr socketDescriptor);
    void threadFinished(TcpThread* thread);

    ServerContext* m_context;
    Logger* m_logger;
    int m_maxConnections;
    QSet<TcpThread*> m_threads;
    QQueue<qintptr> m_waiting;
    QAtomicInt m_active;
};
