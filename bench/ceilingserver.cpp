#include "ceilingserver.h"

#include "cannedreply.h"
#include "frame.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

namespace {

// As our server's connection threads: the same stack, the same bound on one read and on the whole wait.
constexpr uint ThreadStackSize = 256 * 1024;
constexpr qint64 ReadBufferSize = 2 + Wire::MaxBodySize;
constexpr int TimeoutMs = 10000;

int remainingMs(const QDeadlineTimer& deadline)
{
    return int(qMax<qint64>(1, deadline.remainingTime()));
}

class CeilingConnection : public QThread
{
public:
    CeilingConnection(qintptr descriptor, const QByteArray& reply, std::atomic<quint64>& served)
        : m_descriptor(descriptor)
        , m_reply(reply)
        , m_served(served)
    {
    }

protected:
    // The socket is built here so that it belongs to this thread; every wait blocks this thread only.
    void run() override
    {
        QTcpSocket socket;
        if (!socket.setSocketDescriptor(m_descriptor)) {
            ::close(int(m_descriptor)); // not taken over: nobody else would close it
            return;
        }
        socket.setReadBufferSize(ReadBufferSize);
        QDeadlineTimer deadline(TimeoutMs);
        FrameReader reader;
        for (;;) {
            reader.feed(socket.read(ReadBufferSize));
            // Whatever the first frame holds, even a malformed one, it is answered, as by the reference.
            if (reader.next().status != FrameReader::Status::Incomplete)
                break;
            if (deadline.hasExpired()
                || (!socket.waitForReadyRead(remainingMs(deadline)) && socket.bytesAvailable() == 0))
                return; // too slow, or gone before its request was whole
        }
        socket.write(m_reply);
        deadline.setRemainingTime(TimeoutMs);
        while (socket.bytesToWrite() > 0) {
            if (deadline.hasExpired() || !socket.waitForBytesWritten(remainingMs(deadline)))
                return;
        }
        ++m_served;
        // The socket closes its descriptor as it goes.
    }

private:
    const qintptr m_descriptor;
    const QByteArray m_reply;
    std::atomic<quint64>& m_served;
};

} // namespace

CeilingServer::CeilingServer(QObject* parent)
    : QTcpServer(parent)
    , m_reply(cannedBookReply())
{
}

CeilingServer::~CeilingServer()
{
    close();
    for (QThread* thread : std::as_const(m_threads)) {
        thread->wait();
        delete thread;
    }
}

void CeilingServer::incomingConnection(qintptr socketDescriptor)
{
    auto* thread = new CeilingConnection(socketDescriptor, m_reply, m_served);
    thread->setStackSize(ThreadStackSize);
    connect(thread, &QThread::finished, this, [this, thread] {
        m_threads.remove(thread);
        thread->deleteLater();
    });
    m_threads.insert(thread);
    thread->start();
}
