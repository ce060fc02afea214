#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// A stand-in server on a free loopback port. Each connection's request frame is decoded and recorded;
// the connection is then answered with the next prepared reply (a list of byte chunks, written one
// per event-loop turn so that the client sees them in separate reads), and closed unless told not to.
// A logout notice ("QUERY_USER_LOGOUT") is answered "LOGOUT_SUCCESSFULLY" without taking a reply.
class ScriptedServer : public QObject
{
    Q_OBJECT
public:
    explicit ScriptedServer(QObject* parent = nullptr);

    quint16 port() const { return m_server.serverPort(); }
    // Writes "127.0.0.1\n<port>" to hostIP.txt in the current directory, and a client.ini that turns
    // TLS off (a scripted server speaks the plain protocol).
    void writeAddressFile() const;

    // Queues the reply for the next connection. Each chunk is written separately.
    void addReply(const QList<QByteArray>& chunks, bool closeAfter = true);
    // Convenience: frames, joined into one chunk, then the end-of-stream frame.
    void addFrames(const QList<QStringList>& frames, bool endOfStream = true);
    // A reply that never comes: the connection stays open and silent.
    void addSilence();

    // Every request received so far, decoded: the query code first, then the fields.
    const QList<QStringList>& requests() const { return m_requests; }
    // Connections that asked something on the record (the questions windows ask as they open are not).
    int connectionCount() const { return m_connections; }
    // Connections that have ended, closed by either side. With a reply queued not to close, this
    // counts the connections the client closed.
    int closedCount() const { return m_closed; }

signals:
    void requestReceived(const QStringList& request);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* socket);

    struct Reply {
        QList<QByteArray> chunks;
        bool closeAfter = true;
        bool silent = false;
    };

    QTcpServer m_server;
    QList<Reply> m_replies;
    QList<QStringList> m_requests;
    int m_connections = 0;
    int m_closed = 0;
};

// A frame of strings, for building replies.
QByteArray frameOf(const QStringList& values);

// A client.ini in the current directory with TLS off: the client talks to a plain port at once.
void writePlainClientSettings();
