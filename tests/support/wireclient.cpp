#include "wireclient.h"

#include "frame.h"
#include "tlsfingerprint.h"

#include <QDeadlineTimer>
#include <QSslSocket>

WireClient::WireClient(quint16 port, const QString& host)
    : m_host(host)
    , m_port(port)
{
}

std::unique_ptr<QTcpSocket> WireClient::openConnection(const QByteArray& bytes) const
{
    std::unique_ptr<QTcpSocket> socket;
    if (m_pin.isEmpty()) {
        socket = std::make_unique<QTcpSocket>();
    } else {
        socket = std::make_unique<QSslSocket>();
    }
    if (!m_source.isEmpty())
        socket->bind(QHostAddress(m_source), 0);
    if (m_pin.isEmpty()) {
        socket->connectToHost(m_host, m_port);
        if (!socket->waitForConnected(30000))
            return socket;
    } else {
        // The certificate is self-signed: trust comes from the pin alone, checked after the handshake.
        auto* ssl = static_cast<QSslSocket*>(socket.get());
        ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->connectToHostEncrypted(m_host, m_port);
        if (!ssl->waitForEncrypted(30000) || !TlsFingerprint::matches(ssl->peerCertificate(), m_pin)) {
            ssl->abort();
            return socket;
        }
    }
    if (!bytes.isEmpty()) {
        socket->write(bytes);
        while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(30000)) { }
    }
    return socket;
}

WireClient::Reply WireClient::sendBytes(const QByteArray& bytes, int timeoutMs) const
{
    const std::unique_ptr<QTcpSocket> socket = openConnection(bytes);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        Reply reply;
        reply.error = socket->errorString();
        return reply;
    }
    return readReply(*socket, timeoutMs);
}

WireClient::Reply WireClient::readReply(QTcpSocket& socket, int timeoutMs)
{
    Reply reply;
    FrameReader reader;
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        reader.feed(socket.readAll());
        FrameReader::Result result;
        while ((result = reader.next()).status == FrameReader::Status::Frame) {
            const std::optional<QStringList> values = Wire::decodeBody(result.body);
            if (!values)
                reply.error = QStringLiteral("undecodable frame");
            reply.frames.append(values.value_or(QStringList()));
        }
        if (result.status == FrameReader::Status::EndOfStream) {
            reply.endOfStream = true;
            break;
        }
        if (result.status == FrameReader::Status::Error) {
            reply.error = QStringLiteral("size word 0 from the server");
            return reply;
        }
        if (socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0) {
            reply.closedByServer = true;
            reply.error = QStringLiteral("closed before the end of stream");
            return reply;
        }
        if (deadline.hasExpired()) {
            reply.error = QStringLiteral("no end of stream in time");
            return reply;
        }
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    // After the end of stream the server closes its side.
    QDeadlineTimer closeDeadline(qMin<qint64>(qMax<qint64>(1, deadline.remainingTime()), 10000));
    while (socket.state() == QAbstractSocket::ConnectedState && !closeDeadline.hasExpired()) {
        socket.readAll();
        socket.waitForReadyRead(int(qMax<qint64>(1, closeDeadline.remainingTime())));
    }
    reply.closedByServer = socket.state() != QAbstractSocket::ConnectedState;
    return reply;
}
