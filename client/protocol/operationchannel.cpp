#include "operationchannel.h"

#include <QDebug>
#include <QMessageBox>

OperationChannel::OperationChannel(const QString& addressFile)
    : m_addressFile(addressFile)
{
}

void OperationChannel::start()
{
    m_address = ServerAddressFile::load(m_addressFile);
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_reader.reset();
    m_ended = false;
    m_socket.connectToHost(m_address.host, m_address.port, QIODevice::ReadWrite);
}

bool OperationChannel::writeFrame(const QByteArray& frame)
{
    if (frame.isEmpty()) {
        qDebug() << "Request too large for one frame; not sent";
        close();
        return false;
    }
    m_socket.write(frame);
    return true;
}

bool OperationChannel::nextFrame(QStringList& frame)
{
    if (m_ended)
        return false;
    // The socket may have been closed under a reader that showed a message box (the peer hung up
    // meanwhile); the frames already buffered are still handed out.
    if (m_socket.isOpen())
        m_reader.feed(m_socket.readAll());
    for (;;) {
        FrameReader::Result result = m_reader.next();
        switch (result.status) {
        case FrameReader::Status::Incomplete:
            return false;
        case FrameReader::Status::EndOfStream:
            m_ended = true;
            close();
            return false;
        case FrameReader::Status::Error:
            qDebug() << "Reply stream broken: empty frame";
            m_ended = true;
            close();
            return false;
        case FrameReader::Status::Frame:
            if (std::optional<QStringList> values = Wire::decodeBody(result.body)) {
                frame = *values;
                return true;
            }
            qDebug() << "Malformed reply frame skipped";
            break;
        }
    }
}

bool OperationChannel::isBusy() const
{
    return !m_ended && m_socket.state() != QAbstractSocket::UnconnectedState;
}

void OperationChannel::reportError(QWidget* parent)
{
    const QAbstractSocket::SocketError error = m_socket.error();
    const QString errorText = m_socket.errorString();
    // Closed before the box: its event loop must not deliver more of this socket's signals.
    close();
    if (error == QAbstractSocket::ConnectionRefusedError || error == QAbstractSocket::HostNotFoundError)
        QMessageBox::warning(parent, QStringLiteral("Error!"), QStringLiteral("Can not connect to server!!!"));
    else
        qDebug() << errorText;
}

void OperationChannel::close()
{
    m_socket.close();
}
