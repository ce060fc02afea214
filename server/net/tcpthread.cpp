#include "tcpthread.h"

#include "frame.h"
#include "logger.h"
#include "requesttable.h"
#include "serversettings.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSslSocket>

#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// A request is at most one frame: the size word and 65534 bytes. Reading stops there.
constexpr qint64 ReadBufferSize = 2 + Wire::MaxBodySize;
// How long a peer that sent more than one request frame may take to read the reply and close.
constexpr int DrainMs = 2000;
// How long a thread waits for another connection before it ends: long enough to outlast a pause in a
// busy library's traffic, short enough that a burst's threads do not stay for good.
constexpr int IdleThreadMs = 30000;

QString peerText(const QHostAddress& address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4).toString() : address.toString();
}

// Why a body that FrameReader delivered is not a request, in words for the log.
QString malformedReason(const QByteArray& body)
{
    const std::optional<QStringList> values = Wire::decodeBody(body);
    if (!values)
        return QStringLiteral("malformed body of %1 bytes (a string runs past the frame or has an odd length)")
            .arg(body.size());
    if (values->isEmpty())
        return QStringLiteral("empty body");
    const QString code = values->first();
    const int expected = Query::fieldCount(code);
    if (expected < 0)
        return QStringLiteral("unknown query code \"%1\"").arg(code.left(64));
    return QStringLiteral("%1 carries %2 fields, expected %3 (or one more, a token)")
        .arg(code)
        .arg(values->size() - 1)
        .arg(expected);
}

} // namespace

TcpThread::TcpThread(qintptr socketDescriptor, ServerContext* context, Logger* logger, const QSslConfiguration* tls,
                     QObject* parent)
    : QThread(parent)
    , m_socketDescriptor(socketDescriptor)
    , m_context(context)
    , m_logger(logger)
    , m_tls(tls)
{
}

void TcpThread::run()
{
    do
        serveConnection();
    while (awaitNextConnection());
}

bool TcpThread::awaitNextConnection()
{
    QMutexLocker lock(&m_descriptorMutex);
    if (m_aborted)
        return false;
    m_waitingForNext = true;
    emit connectionDone(this);
    const QDeadlineTimer idle(IdleThreadMs);
    while (m_nextDescriptor < 0 && !m_aborted && !idle.hasExpired())
        m_nextGiven.wait(&m_descriptorMutex, idle);
    m_waitingForNext = false;
    if (m_nextDescriptor < 0)
        return false;
    if (m_aborted) {
        ::close(int(m_nextDescriptor)); // handed over as the server shut down: nobody else closes it
        m_nextDescriptor = -1;
        return false;
    }
    m_socketDescriptor = m_nextDescriptor;
    m_tls = m_nextTls;
    m_nextDescriptor = -1;
    return true;
}

bool TcpThread::serveNext(qintptr socketDescriptor, const QSslConfiguration* tls)
{
    QMutexLocker lock(&m_descriptorMutex);
    if (!m_waitingForNext || m_aborted || m_nextDescriptor >= 0)
        return false;
    m_nextDescriptor = socketDescriptor;
    m_nextTls = tls;
    m_nextGiven.wakeOne();
    return true;
}

void TcpThread::serveConnection()
{
    m_clock.start();
    m_problem.clear();
    m_queryCode.clear();
    m_account = UserInfo();
    m_firstByteDeadline = QDeadlineTimer(m_context->settings.firstByteTimeoutMs);
    const std::unique_ptr<QTcpSocket> owned(m_tls ? new QSslSocket : new QTcpSocket);
    QTcpSocket& socket = *owned;
    if (!socket.setSocketDescriptor(m_socketDescriptor)) {
        ::close(int(m_socketDescriptor)); // not taken over: nobody else would close it
        emit error(socket.error());
        return;
    }
    {
        QMutexLocker lock(&m_descriptorMutex);
        m_openDescriptor = m_socketDescriptor;
        if (m_aborted)
            ::shutdown(int(m_openDescriptor), SHUT_RDWR);
    }
    socket.setReadBufferSize(ReadBufferSize);
    m_peer = peerText(socket.peerAddress());
    m_socket = &socket;
    if (!m_tls || startEncryption())
        receiveFile();
    m_socket = nullptr;
    // The socket closes its descriptor when it goes; nobody may shut it down after that.
    QMutexLocker lock(&m_descriptorMutex);
    m_openDescriptor = -1;
}

void TcpThread::abortConnection()
{
    QMutexLocker lock(&m_descriptorMutex);
    m_aborted = true;
    if (m_openDescriptor >= 0)
        ::shutdown(int(m_openDescriptor), SHUT_RDWR);
    m_nextGiven.wakeOne();
}

void TcpThread::receiveFile()
{
    if (!m_socket)
        return;
    const QByteArray body = readRequest();
    std::optional<Wire::DecodedRequest> request;
    if (!body.isEmpty()) {
        request = Wire::decodeRequest(body);
        if (!request)
            m_problem = malformedReason(body);
    }
    if (!request) {
        // Nothing of a malformed request is trusted; the peer still gets its end of stream.
        writeReply(Wire::endOfStreamFrame());
        logLine(QStringLiteral("rejected: ") + m_problem);
        closeConnection(true);
        return;
    }

    m_queryCode = request->code;
    Caller caller{*m_context, m_peer, request->token};
    const HandlerReply reply =
        RequestTable::serve(*request, caller).value_or(HandlerReply{{}, QStringLiteral("no handler")});
    QByteArray bytes;
    for (const QByteArray& frame : reply.frames)
        bytes += frame;
    bytes += Wire::endOfStreamFrame();
    const bool written = writeReply(bytes);
    logLine(m_queryCode + QLatin1Char(' ') + reply.outcome + reply.note
            + (written ? QString() : QStringLiteral(" (reply not delivered: ") + m_problem + QLatin1Char(')')));
    closeConnection(m_socket->bytesAvailable() > 0);
}

bool TcpThread::startEncryption()
{
    // The handshake runs here, on the connection's own thread, and counts against the first-byte
    // deadline: a peer that opens a TLS connection and waits holds a thread no longer than a plain one.
    auto* ssl = static_cast<QSslSocket*>(m_socket);
    ssl->setSslConfiguration(*m_tls);
    ssl->startServerEncryption();
    if (ssl->waitForEncrypted(int(qMax<qint64>(1, m_firstByteDeadline.remainingTime()))))
        return true;
    const QList<QSslError> errors = ssl->sslHandshakeErrors();
    logLine(QStringLiteral("rejected: no TLS handshake (%1)")
                .arg(errors.isEmpty() ? ssl->errorString() : errors.first().errorString()));
    closeConnection(false);
    return false;
}

QByteArray TcpThread::readRequest()
{
    // One deadline for the whole request: a peer that trickles a byte at a time cannot extend it.
    QDeadlineTimer deadline(m_context->settings.readTimeoutMs);
    FrameReader reader;
    bool anyByte = false;
    for (;;) {
        // Only what has arrived: a buffer of the largest request for each read would be allocated and
        // freed whole every time.
        const QByteArray bytes = m_socket->read(qMin(m_socket->bytesAvailable(), ReadBufferSize));
        anyByte = anyByte || !bytes.isEmpty();
        reader.feed(bytes);
        const FrameReader::Result result = reader.next();
        switch (result.status) {
        case FrameReader::Status::Frame:
            return result.body;
        case FrameReader::Status::EndOfStream:
            m_problem = QStringLiteral("end-of-stream word instead of a request");
            return {};
        case FrameReader::Status::Error:
            m_problem = QStringLiteral("size word 0");
            return {};
        case FrameReader::Status::Incomplete:
            break;
        }
        if (m_socket->bytesAvailable() > 0)
            continue;
        const auto incomplete = [&](const QString& what) -> QString {
            if (reader.pendingSize() == 0)
                return what + QStringLiteral(" (%1 bytes of a size word)").arg(reader.bufferedBytes());
            return what
                + QStringLiteral(" (%1 of %2 bytes of the body)").arg(reader.bufferedBytes()).arg(reader.pendingSize());
        };
        // Until its first byte, a request has the shorter first-byte deadline: an idle peer lets go of its
        // thread soon.
        const bool waitingForFirstByte = !anyByte;
        const QDeadlineTimer& wait = waitingForFirstByte ? std::min(deadline, m_firstByteDeadline) : deadline;
        if (waitingForFirstByte && m_firstByteDeadline.hasExpired()) {
            m_problem = QStringLiteral("no first byte within %1 ms").arg(m_context->settings.firstByteTimeoutMs);
            return {};
        }
        if (deadline.hasExpired()) {
            m_problem =
                incomplete(QStringLiteral("no whole request within %1 ms").arg(m_context->settings.readTimeoutMs));
            return {};
        }
        if (!m_socket->waitForReadyRead(int(qMax<qint64>(1, wait.remainingTime())))
            && m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0) {
            m_problem = incomplete(QStringLiteral("peer closed before a whole request"));
            return {};
        }
    }
}

bool TcpThread::writeReply(const QByteArray& bytes)
{
    m_socket->write(bytes);
    // Straight to the kernel: a reply fits its send buffer, and waiting to be told that the socket is
    // writable first would cost a poll per request.
    m_socket->flush();
    // A peer that does not read may hold the reply back no longer than it may take to send a request.
    QDeadlineTimer deadline(m_context->settings.readTimeoutMs);
    while (m_socket->bytesToWrite() > 0) {
        if (m_socket->state() != QAbstractSocket::ConnectedState) {
            m_problem = QStringLiteral("peer gone");
            return false;
        }
        if (deadline.hasExpired()) {
            m_problem = QStringLiteral("peer does not read");
            return false;
        }
        m_socket->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

void TcpThread::closeConnection(bool drainFirst)
{
    if (drainFirst && m_socket->state() == QAbstractSocket::ConnectedState) {
        // Closing with unread input makes the kernel reset the connection, which can destroy the reply
        // before the peer has read it. Signal the end of the reply, then read until the peer closes.
        ::shutdown(int(m_socket->socketDescriptor()), SHUT_WR);
        QDeadlineTimer deadline(DrainMs);
        while (m_socket->state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
            m_socket->readAll();
            m_socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        m_socket->readAll();
    }
    {
        QMutexLocker lock(&m_descriptorMutex);
        m_openDescriptor = -1;
    }
    m_socket->abort();
}

void TcpThread::logLine(const QString& what)
{
    if (!m_logger)
        return;
    const double ms = double(m_clock.nsecsElapsed()) / 1e6;
    m_logger->log(m_peer + QLatin1Char(' ') + what + QStringLiteral(" (%1 ms)").arg(ms, 0, 'f', 2));
}
