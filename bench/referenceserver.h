#pragma once

#include <QByteArray>

#include <atomic>
#include <unordered_map>

#include "frame.h"

// The floor our server is measured against: one thread, epoll, non-blocking sockets, no storage.
// It reads one request frame per connection, answers with one canned book row and the end-of-stream
// word whatever was asked, and closes. What it costs is the protocol and the kernel, nothing else.
class ReferenceServer
{
public:
    ReferenceServer();
    ~ReferenceServer();
    ReferenceServer(const ReferenceServer&) = delete;
    ReferenceServer& operator=(const ReferenceServer&) = delete;

    // Listens on 127.0.0.1 at the given port (0: any free port). False with errno set on failure.
    bool listen(quint16 port);
    quint16 port() const { return m_port; }

    // Serves until stop() is called (from a signal handler or another thread).
    void run();
    void stop() { m_stopping = true; }

    quint64 served() const { return m_served; }

private:
    struct Connection {
        FrameReader reader;
        qsizetype written = 0;
        bool answering = false;
    };

    void acceptAll();
    void onReadable(int fd);
    void onWritable(int fd);
    void closeConnection(int fd);

    int m_epoll = -1;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    quint64 m_served = 0;
    const QByteArray m_reply;
    std::unordered_map<int, Connection> m_connections;
};
