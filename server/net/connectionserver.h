#pragma once

#include <QAtomicInt>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QQueue>
#include <QSet>
#include <QSslConfiguration>
#include <QTcpServer>

#include <functional>
#include <memory>
#include <optional>

struct ServerContext;
class Logger;
class TcpThread;

// Serves every listening port (plain and TLS) with one pool of TcpThreads, one per connection being
// served, and one set of limits. A thread whose connection is over serves the next one; threads left
// idle end after a while. At most `maxConnections` are served at once: beyond that, accepting pauses
// (the kernel queues further peers) and resumes as connections end. One address holds at most
// `maxConnectionsPerAddress` of them (an IPv6 /64 counts as one address); a connection beyond that is
// closed at once, before it costs a thread. Lives on the listener thread: every member is used there only.
class ConnectionServer : public QObject
{
    Q_OBJECT
public:
    ConnectionServer(ServerContext* context, Logger* logger, QObject* parent = nullptr);
    ~ConnectionServer() override;

    // Listens on the address and port; TLS when `tls` is given. Returns the port listened on, or 0 with
    // the reason in `error`.
    quint16 listen(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& tls,
                   QString* error);

    // Safe from any thread.
    int activeConnections() const { return m_active.loadRelaxed(); }

private:
    class Listener;
    struct Pending {
        qintptr descriptor;
        QHostAddress peer;
        const QSslConfiguration* tls;
    };

    void accepted(qintptr socketDescriptor, const QSslConfiguration* tls);
    // Hands the connection to an idle thread, or to a new one.
    void serve(const Pending& pending);
    void startThread(const Pending& pending);
    void connectionDone(TcpThread* thread);
    void threadFinished(TcpThread* thread);
    // The thread's connection is over: its address counts one less. False when it served none.
    bool releaseConnection(TcpThread* thread);
    // A connection that waited for a free place takes it, or else the listeners accept again.
    void serveWaitingOrAccept();
    void setAccepting(bool accepting);

    ServerContext* m_context;
    Logger* m_logger;
    std::vector<std::unique_ptr<Listener>> m_listeners;
    std::vector<std::unique_ptr<QSslConfiguration>> m_tlsConfigurations;
    QSet<TcpThread*> m_threads; // every thread that has not ended
    QList<TcpThread*> m_idle; // waiting for a connection, the most recently used last
    QHash<TcpThread*, QHostAddress> m_serving; // the limited address of each thread's connection
    QQueue<Pending> m_waiting;
    QHash<QHostAddress, int> m_perAddress; // connections served or waiting, by limited address
    QAtomicInt m_active;
};
