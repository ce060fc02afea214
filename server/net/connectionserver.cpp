#include "connectionserver.h"

#include "logger.h"
#include "tcpthread.h"

#include <unistd.h>

namespace {
// Serving a request needs little stack: parsing is flat and the database runs on its own threads.
constexpr uint ThreadStackSize = 256 * 1024;
} // namespace

ConnectionServer::ConnectionServer(ServerContext* context, Logger* logger, int maxConnections, QObject* parent)
    : QTcpServer(parent)
    , m_context(context)
    , m_logger(logger)
    , m_maxConnections(maxConnections)
{
}

ConnectionServer::~ConnectionServer()
{
    close();
    for (qintptr descriptor : std::as_const(m_waiting))
        ::close(int(descriptor));
    // Idle peers are cut off rather than waited for; then every thread ends before the context goes.
    for (TcpThread* thread : std::as_const(m_threads))
        thread->abortConnection();
    for (TcpThread* thread : std::as_const(m_threads)) {
        thread->wait();
        delete thread;
    }
}

void ConnectionServer::incomingConnection(qintptr socketDescriptor)
{
    if (m_threads.size() >= m_maxConnections) {
        m_waiting.enqueue(socketDescriptor);
        pauseAccepting();
        return;
    }
    startThread(socketDescriptor);
}

void ConnectionServer::startThread(qintptr socketDescriptor)
{
    auto* thread = new TcpThread(socketDescriptor, m_context, m_logger);
    thread->setStackSize(ThreadStackSize);
    connect(thread, &TcpThread::finished, this, [this, thread] { threadFinished(thread); });
    connect(thread, &TcpThread::error, this, [this](QTcpSocket::SocketError socketError) {
        m_logger->log(QStringLiteral("connection failed before serving: socket error %1").arg(int(socketError)));
    });
    m_threads.insert(thread);
    thread->start();
    m_active.storeRelaxed(int(m_threads.size()));
}

void ConnectionServer::threadFinished(TcpThread* thread)
{
    if (!m_threads.remove(thread))
        return;
    thread->deleteLater();
    if (!m_waiting.isEmpty())
        startThread(m_waiting.dequeue());
    else if (m_threads.size() < m_maxConnections)
        resumeAccepting();
    m_active.storeRelaxed(int(m_threads.size()));
}
