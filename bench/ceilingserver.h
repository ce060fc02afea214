#pragma once

#include <QByteArray>
#include <QSet>
#include <QTcpServer>

#include <atomic>

class QThread;

// The most our server's design can do: like ours it serves every connection on a QThread of its own
// with a blocking QTcpSocket, but it answers the first request frame with the canned book row and the
// end-of-stream word instead of asking a database, then closes. What it costs is the protocol, the
// kernel and a thread per connection; the reference server shows what the thread costs.
class CeilingServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit CeilingServer(QObject* parent = nullptr);
    // Stops accepting and waits for the connections still being served.
    ~CeilingServer() override;

    // Requests answered so far; safe from any thread.
    quint64 served() const { return m_served; }

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    const QByteArray m_reply;
    std::atomic<quint64> m_served{0};
    QSet<QThread*> m_threads;
};
