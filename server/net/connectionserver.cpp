#include "connectionserver.h"

#include "logger.h"
#include "requestcontext.h"
#include "serversettings.h"
#include "tcpthread.h"

#include <algorithm>

#include <sys/socket.h>
#include <unistd.h>

namespace {
// A request is served whole on its connection's thread: frame parsing (flat), ICU's folding of a
// search text, SQLite's statements on the reader or writer it checks out, and OpenSSL's handshake for
// TLS. None of them recurses deeply; together they stay well inside this, far below Linux's 8 MiB.
constexpr uint ThreadStackSize = 256 * 1024;

// Whom the per-address limit counts an accepted connection against: its IPv4 address (also for IPv4
// peers of a dual-stack socket), or the /64 network of an IPv6 address, since one IPv6 host commonly
// holds a whole /64.
QHostAddress limitedAddressOf(qintptr descriptor)
{
    sockaddr_storage storage = {};
    socklen_t length = sizeof storage;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return {};
    const QHostAddress address(reinterpret_cast<const sockaddr*>(&storage));
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4)
        return QHostAddress(ipv4);
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, quint8(0));
    return QHostAddress(bytes);
}
} // namespace

// One listening socket; hands what it accepts to the server, with the TLS set-up of its port.
class ConnectionServer::Listener : public QTcpServer
{
public:
    Listener(ConnectionServer* server, const QSslConfiguration* tls)
        : m_server(server)
        , m_tls(tls)
    {
    }

protected:
    void incomingConnection(qintptr socketDescriptor) override { m_server->accepted(socketDescriptor, m_tls); }

private:
    ConnectionServer* m_server;
    const QSslConfiguration* m_tls;
};

ConnectionServer::ConnectionServer(ServerContext* context, Logger* logger, QObject* parent)
    : QObject(parent)
    , m_context(context)
    , m_logger(logger)
{
}

ConnectionServer::~ConnectionServer()
{
    m_listeners.clear();
    for (const Pending& pending : std::as_const(m_waiting))
        ::close(int(pending.descriptor));
    // Idle peers are cut off rather than waited for; then every thread ends before the context goes.
    for (TcpThread* thread : std::as_const(m_threads))
        thread->abortConnection();
    for (TcpThread* thread : std::as_const(m_threads)) {
        thread->wait();
        delete thread;
    }
}

quint16 ConnectionServer::listen(const QHostAddress& address, quint16 port, const std::optional<QSslConfiguration>& tls,
                                 QString* error)
{
    const QSslConfiguration* configuration = nullptr;
    if (tls) {
        m_tlsConfigurations.push_back(std::make_unique<QSslConfiguration>(*tls));
        configuration = m_tlsConfigurations.back().get();
    }
    auto listener = std::make_unique<Listener>(this, configuration);
    // Peers that wait for a thread wait in the kernel's queue.
    listener->setMaxPendingConnections(m_context->settings.maxConnections);
    if (!listener->listen(address, port)) {
        *error = listener->errorString();
        return 0;
    }
    const quint16 bound = listener->serverPort();
    m_listeners.push_back(std::move(listener));
    return bound;
}

void ConnectionServer::accepted(qintptr socketDescriptor, const QSslConfiguration* tls)
{
    const ServerSettings& settings = m_context->settings;
    const QHostAddress peer = limitedAddressOf(socketDescriptor);
    int& count = m_perAddress[peer];
    if (count >= settings.maxConnectionsPerAddress) {
        // Closed before it costs a thread: one address cannot take the connections of everyone else.
        ::close(int(socketDescriptor));
        m_logger->log(
            QStringLiteral("%1 refused: already %2 connections from this address").arg(peer.toString()).arg(count));
        return;
    }
    ++count;
    const Pending pending{socketDescriptor, peer, tls};
    if (m_serving.size() >= settings.maxConnections) {
        m_waiting.enqueue(pending);
        setAccepting(false);
        return;
    }
    serve(pending);
}

void ConnectionServer::serve(const Pending& pending)
{
    TcpThread* thread = nullptr;
    while (!thread && !m_idle.isEmpty()) {
        TcpThread* candidate = m_idle.takeLast();
        if (candidate->serveNext(pending.descriptor, pending.tls))
            thread = candidate;
        // else it stopped waiting and is ending; threadFinished() forgets it.
    }
    if (thread)
        m_serving.insert(thread, pending.peer);
    else
        startThread(pending);
    m_active.storeRelaxed(int(m_serving.size()));
}

void ConnectionServer::startThread(const Pending& pending)
{
    auto* thread = new TcpThread(pending.descriptor, m_context, m_logger, pending.tls);
    thread->setStackSize(ThreadStackSize);
    connect(thread, &TcpThread::connectionDone, this, &ConnectionServer::connectionDone);
    connect(thread, &TcpThread::finished, this, [this, thread] { threadFinished(thread); });
    connect(thread, &TcpThread::error, this, [this](QTcpSocket::SocketError socketError) {
        m_logger->log(QStringLiteral("connection failed before serving: socket error %1").arg(int(socketError)));
    });
    m_threads.insert(thread);
    m_serving.insert(thread, pending.peer);
    thread->start();
}

void ConnectionServer::connectionDone(TcpThread* thread)
{
    if (!releaseConnection(thread))
        return;
    m_idle.append(thread);
    serveWaitingOrAccept();
}

void ConnectionServer::threadFinished(TcpThread* thread)
{
    if (!m_threads.remove(thread))
        return;
    m_idle.removeOne(thread);
    thread->deleteLater();
    // A thread ends only after its connection is done, unless the server is shutting down.
    if (releaseConnection(thread))
        serveWaitingOrAccept();
}

bool ConnectionServer::releaseConnection(TcpThread* thread)
{
    const auto serving = m_serving.find(thread);
    if (serving == m_serving.end())
        return false;
    auto it = m_perAddress.find(serving.value());
    if (it != m_perAddress.end() && --it.value() <= 0)
        m_perAddress.erase(it);
    m_serving.erase(serving);
    return true;
}

void ConnectionServer::serveWaitingOrAccept()
{
    if (!m_waiting.isEmpty())
        serve(m_waiting.dequeue());
    else if (m_serving.size() < m_context->settings.maxConnections)
        setAccepting(true);
    m_active.storeRelaxed(int(m_serving.size()));
}

void ConnectionServer::setAccepting(bool accepting)
{
    for (const auto& listener : m_listeners) {
        if (accepting)
            listener->resumeAccepting();
        else
            listener->pauseAccepting();
    }
}
