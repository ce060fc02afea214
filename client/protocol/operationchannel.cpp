#include "operationchannel.h"

#include "tlsfingerprint.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>
#include <QTimer>

OperationChannel::OperationChannel(const QString& addressFile)
    : m_addressFile(addressFile)
{
    // The certificate is judged by its pin, not by a certificate authority: the handshake pauses on
    // its errors until decideTrust() has run outside the socket's own signal.
    m_socket.setPauseMode(QAbstractSocket::PauseOnSslErrors);
    QObject::connect(&m_socket, &QSslSocket::sslErrors, &m_socket,
                     [this] { QTimer::singleShot(0, &m_socket, [this] { decideTrust(); }); });
    QObject::connect(&m_socket, &QSslSocket::encrypted, &m_socket, [this] {
        // A certificate a certificate authority vouches for raises no errors; a pin still decides.
        if (!m_tls.fingerprint.isEmpty() && !TlsFingerprint::matches(m_socket.peerCertificate(), m_tls.fingerprint)) {
            m_socket.abort();
            qDebug() << "Server certificate does not match the pinned fingerprint";
        }
    });
}

void OperationChannel::start()
{
    m_address = ServerAddressFile::load(m_addressFile);
    m_tls = TlsSettings::load(TlsSettings::pathBeside(m_addressFile));
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_reader.reset();
    m_ended = false;
    if (m_tls.enabled)
        m_socket.connectToHostEncrypted(m_address.host, m_tls.port, QIODevice::ReadWrite);
    else
        m_socket.connectToHost(m_address.host, m_address.port, QIODevice::ReadWrite);
}

void OperationChannel::decideTrust()
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return;
    const QSslCertificate certificate = m_socket.peerCertificate();
    const QString seen = TlsFingerprint::of(certificate);
    QWidget* parent = m_dialogParent ? m_dialogParent : QApplication::activeWindow();
    bool trusted = false;
    if (!m_tls.fingerprint.isEmpty()) {
        trusted = TlsFingerprint::matches(certificate, m_tls.fingerprint);
        if (!trusted) {
            QMessageBox::warning(parent, QStringLiteral("Error!"),
                                 QStringLiteral("服务器的证书已改变，连接已拒绝!\n信任的指纹:\n%1\n服务器的指纹:\n%2\n"
                                                "若证书确实已更换，请在 选项 → TLS设置 中忘记旧证书。")
                                     .arg(m_tls.fingerprint, seen));
        }
    } else if (!certificate.isNull()) {
        // Trust on first use: the user compares the fingerprint with the one the server printed.
        const QMessageBox::StandardButton answer = QMessageBox::question(
            parent, QStringLiteral("TLS"),
            QStringLiteral("首次连接此服务器。证书指纹 (SHA-256):\n%1\n与服务器显示的指纹一致吗? 信任并记住该证书?").arg(seen),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        trusted = answer == QMessageBox::Yes;
        if (trusted) {
            m_tls.fingerprint = seen;
            TlsSettings stored = TlsSettings::load(TlsSettings::pathBeside(m_addressFile));
            stored.fingerprint = seen;
            stored.save(TlsSettings::pathBeside(m_addressFile));
        }
    }
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return;
    // Without ignoring, resuming fails the handshake: the operation gets its error signal.
    if (trusted)
        m_socket.ignoreSslErrors();
    m_socket.resume();
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
