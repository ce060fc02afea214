#include "referenceserver.h"

#include "cannedreply.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int MaxEvents = 256;

} // namespace

ReferenceServer::ReferenceServer()
    : m_reply(cannedBookReply())
{
}

ReferenceServer::~ReferenceServer()
{
    for (const auto& entry : m_connections)
        ::close(entry.first);
    if (m_listener >= 0)
        ::close(m_listener);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool ReferenceServer::listen(quint16 port)
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        return false;
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        return false;
    const int on = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
        return false;
    if (::listen(m_listener, SOMAXCONN) < 0)
        return false;
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = m_listener;
    return ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &event) == 0;
}

void ReferenceServer::run()
{
    epoll_event events[MaxEvents];
    while (!m_stopping) {
        // A bounded wait, so a stop request is seen even when no client comes.
        const int count = ::epoll_wait(m_epoll, events, MaxEvents, 200);
        if (count < 0 && errno != EINTR)
            return;
        for (int i = 0; i < count; ++i) {
            const int fd = events[i].data.fd;
            if (fd == m_listener)
                acceptAll();
            else if (events[i].events & EPOLLOUT)
                onWritable(fd);
            else
                onReadable(fd);
        }
    }
}

void ReferenceServer::acceptAll()
{
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return; // EAGAIN: all taken; anything else (EMFILE...) waits for the next round
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.fd = fd;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) < 0) {
            ::close(fd);
            continue;
        }
        m_connections[fd] = Connection{};
    }
}

void ReferenceServer::onReadable(int fd)
{
    auto found = m_connections.find(fd);
    if (found == m_connections.end())
        return;
    Connection& connection = found->second;
    char buffer[4096];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        closeConnection(fd); // the peer left before its request was whole
        return;
    }
    if (got < 0 || connection.answering)
        return;
    connection.reader.feed(QByteArray::fromRawData(buffer, got));
    // Whatever the first frame holds, even a malformed one, it is answered: that is the protocol.
    if (connection.reader.next().status == FrameReader::Status::Incomplete)
        return;
    connection.answering = true;
    onWritable(fd);
}

void ReferenceServer::onWritable(int fd)
{
    auto found = m_connections.find(fd);
    if (found == m_connections.end())
        return;
    Connection& connection = found->second;
    while (connection.written < m_reply.size()) {
        const ssize_t sent =
            ::write(fd, m_reply.constData() + connection.written, size_t(m_reply.size() - connection.written));
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno == EAGAIN) {
            epoll_event event{};
            event.events = EPOLLOUT;
            event.data.fd = fd;
            ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event);
            return;
        }
        if (sent <= 0) {
            closeConnection(fd);
            return;
        }
        connection.written += sent;
    }
    ++m_served;
    closeConnection(fd);
}

void ReferenceServer::closeConnection(int fd)
{
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    m_connections.erase(fd);
}
