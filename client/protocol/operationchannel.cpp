#include "operationchannel.h"

#include "clientsettings.h"
#include "tlsfingerprint.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QMessageBox>

OperationChannel::OperationChannel(const QString& addressFile)
    : m_addressFile(addressFile)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &OperationChannel::onDeadline);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &OperationChannel::onSocketError);
    // The certificate is judged by its pin, not by a certificate authority: the handshake pauses on
    // its errors until decideTrust() has run, outside the socket's own signal.
    m_socket.setPauseMode(QAbstractSocket::PauseOnSslErrors);
    connect(&m_socket, &QSslSocket::sslErrors, this,
            [this] { QTimer::singleShot(0, this, &OperationChannel::decideTrust); });
    connect(&m_socket, &QSslSocket::encrypted, this, [this] {
        // A certificate that a certificate authority vouches for raises no errors; a pin still decides.
        if (!m_tls.fingerprint.isEmpty() && !TlsFingerprint::matches(m_socket.peerCertificate(), m_tls.fingerprint))
            decideTrust();
    });
}

OperationChannel::~OperationChannel()
{
    // The socket outlives this part of the object: its last signals must not reach the channel.
    disconnect(&m_socket, nullptr, this, nullptr);
    setWaiting(false);
}

void OperationChannel::start()
{
    m_address = ServerAddressFile::load(m_addressFile);
    // client.ini sits beside the address file.
    const ClientSettings settings(QFileInfo(m_addressFile).dir().filePath(ClientSettings::defaultPath()));
    m_tls = TlsSettings::load(TlsSettings::pathBeside(m_addressFile));
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    m_reader.reset();
    m_ended = false;
    m_written = false;
    m_failure = Failure::None;
    setWaiting(false);
    m_timeoutMs = qint64(settings.timeoutSeconds()) * 1000;
    m_remainingMs = m_timeoutMs;
    setWaiting(true);
    m_triedTls = m_tls.enabled && !m_tls.plainAccepted(m_address.host, m_address.port);
    if (m_triedTls)
        m_socket.connectToHostEncrypted(m_address.host, m_tls.port, QIODevice::ReadWrite);
    else
        m_socket.connectToHost(m_address.host, m_address.port, QIODevice::ReadWrite);
}

void OperationChannel::offerPlainConnection()
{
    // The server has no TLS port. Its plain port carries passwords in clear text: only with the
    // user's word, asked once per server and remembered.
    setWaiting(false);
    const QMessageBox::StandardButton answer = QMessageBox::question(
        QApplication::activeWindow(), QStringLiteral("TLS"),
        QStringLiteral("服务器 %1 没有提供加密连接（TLS 端口 %2）。\n使用未加密的连接，密码等信息将以明文传送。"
                       "仍要连接吗？")
            .arg(m_address.host)
            .arg(m_tls.port),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (m_ended)
        return;
    if (answer != QMessageBox::Yes) {
        fail(Failure::Untrusted);
        return;
    }
    TlsSettings stored = TlsSettings::load(TlsSettings::pathBeside(m_addressFile));
    stored.plainServers.append(TlsSettings::serverName(m_address.host, m_address.port));
    stored.plainServers.removeDuplicates();
    stored.save(TlsSettings::pathBeside(m_addressFile));
    m_tls.plainServers = stored.plainServers;
    m_triedTls = false;
    m_socket.abort();
    setWaiting(true);
    m_socket.connectToHost(m_address.host, m_address.port, QIODevice::ReadWrite);
}

void OperationChannel::decideTrust()
{
    if (m_ended || m_socket.state() == QAbstractSocket::UnconnectedState)
        return;
    const QSslCertificate certificate = m_socket.peerCertificate();
    const QString seen = TlsFingerprint::of(certificate);
    QWidget* parent = QApplication::activeWindow();
    bool trusted = false;
    bool asked = false;
    // The user's time to read a fingerprint is not the server's.
    setWaiting(false);
    if (!m_tls.fingerprint.isEmpty()) {
        trusted = TlsFingerprint::matches(certificate, m_tls.fingerprint);
        if (!trusted) {
            QMessageBox::warning(parent, QStringLiteral("Error!"),
                                 QStringLiteral("服务器的证书已改变，连接已拒绝!\n信任的指纹:\n%1\n服务器的指纹:\n%2\n"
                                                "若证书确实已更换，请在 选项 → TLS设置 中忘记旧证书。")
                                     .arg(m_tls.fingerprint, seen));
        }
    } else if (!certificate.isNull()) {
        asked = true;
        // Trust on first use: the user compares the fingerprint with the one the server printed.
        const QMessageBox::StandardButton answer = QMessageBox::question(
            parent, QStringLiteral("TLS"),
            QStringLiteral("首次连接此服务器。证书指纹 (SHA-256):\n%1\n与服务器显示的指纹一致吗? 信任并记住该证书?")
                .arg(seen),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        trusted = answer == QMessageBox::Yes;
        if (trusted) {
            m_tls.fingerprint = seen;
            TlsSettings stored = TlsSettings::load(TlsSettings::pathBeside(m_addressFile));
            stored.fingerprint = seen;
            stored.save(TlsSettings::pathBeside(m_addressFile));
        }
    }
    if (m_ended || m_socket.state() == QAbstractSocket::UnconnectedState)
        return;
    if (!trusted) {
        // Told already (or the user said no): the error step ends the exchange without another box.
        m_socket.abort();
        fail(Failure::Untrusted);
        return;
    }
    setWaiting(true);
    if (asked) {
        // The server gives up on a handshake while the user reads the fingerprint: the request goes
        // out on a new connection, which meets the certificate pinned now (the sender runs again on
        // connected; nothing of the first one left the client unencrypted).
        m_socket.abort();
        m_reader.reset();
        m_socket.connectToHostEncrypted(m_address.host, m_tls.port, QIODevice::ReadWrite);
        return;
    }
    if (m_socket.isEncrypted())
        return;
    m_socket.ignoreSslErrors();
    m_socket.resume();
}

bool OperationChannel::flush(int timeoutMs)
{
    // Runs the event loop in short steps: the TLS handshake and the trust decision need it.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < timeoutMs) {
        if (m_ended || m_socket.state() == QAbstractSocket::UnconnectedState)
            return false;
        const bool secured = !m_triedTls || m_socket.isEncrypted();
        if (m_written && secured && m_socket.bytesToWrite() == 0 && m_socket.encryptedBytesToWrite() == 0)
            return true;
        QEventLoop step;
        QTimer::singleShot(10, &step, &QEventLoop::quit);
        step.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return false;
}

bool OperationChannel::writeFrame(const QByteArray& frame)
{
    if (frame.isEmpty()) {
        qDebug() << "Request too large for one frame; not sent";
        close();
        return false;
    }
    m_socket.write(frame);
    m_written = true;
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
            // Waiting for the server again, unless the connection is already gone.
            setWaiting(m_socket.state() != QAbstractSocket::UnconnectedState);
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
                // The window acts on the frame now, perhaps behind a message box: not the server's time.
                setWaiting(false);
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

void OperationChannel::onSocketError(QAbstractSocket::SocketError error)
{
    if (m_ended || m_failure != Failure::None)
        return;
    m_socketError = error;
    m_socketErrorText = m_socket.errorString();
    if (m_triedTls && error == QAbstractSocket::ConnectionRefusedError) {
        m_triedTls = false;
        // Outside the socket's own signal: the question runs an event loop.
        QTimer::singleShot(0, this, &OperationChannel::offerPlainConnection);
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError) {
        // The server may close right behind its reply while a window still holds a message box over an
        // earlier frame: with the end of the stream already here, nothing is lost.
        m_reader.feed(m_socket.readAll());
        if (replyComplete())
            return;
        fail(Failure::Lost);
        return;
    }
    fail(Failure::Socket);
}

void OperationChannel::onDeadline()
{
    if (m_ended || !m_waiting)
        return;
    m_socket.abort();
    fail(Failure::Timeout);
}

void OperationChannel::fail(Failure failure)
{
    m_failure = failure;
    m_ended = true;
    setWaiting(false);
    emit failed();
}

bool OperationChannel::replyComplete() const
{
    FrameReader rest = m_reader;
    for (;;) {
        switch (rest.next().status) {
        case FrameReader::Status::Frame:
            continue;
        case FrameReader::Status::EndOfStream:
        case FrameReader::Status::Error:
            return true;
        case FrameReader::Status::Incomplete:
            return false;
        }
    }
}

void OperationChannel::setWaiting(bool waiting)
{
    if (waiting == m_waiting)
        return;
    m_waiting = waiting;
    if (waiting) {
        m_waitClock.start();
        m_deadline.start(int(qMax<qint64>(0, m_remainingMs)));
    } else {
        m_remainingMs -= m_waitClock.elapsed();
        m_deadline.stop();
    }
    if (!m_showsBusyCursor)
        return;
    if (waiting)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
}

void OperationChannel::reportError(QWidget* parent)
{
    const Failure failure = m_failure;
    const QAbstractSocket::SocketError error = m_socketError;
    const QString errorText = m_socketErrorText;
    // Closed before the box: its event loop must not deliver more of this socket's signals.
    close();
    switch (failure) {
    case Failure::Timeout:
        QMessageBox::warning(parent, QStringLiteral("Error!"),
                             QStringLiteral("服务器在 %1 秒内没有应答，请稍后再试。").arg(m_timeoutMs / 1000));
        return;
    case Failure::Lost:
        qDebug() << errorText;
        QMessageBox::warning(parent, QStringLiteral("Error!"),
                             QStringLiteral("与服务器的连接中断，没有收到完整的回复，请重试。"));
        return;
    case Failure::Untrusted:
        return;
    case Failure::Socket:
    case Failure::None:
        break;
    }
    if (error == QAbstractSocket::ConnectionRefusedError || error == QAbstractSocket::HostNotFoundError) {
        QMessageBox::warning(parent, QStringLiteral("Error!"), QStringLiteral("Can not connect to server!!!"));
        return;
    }
    qDebug() << errorText;
    QMessageBox::warning(parent, QStringLiteral("Error!"),
                         QStringLiteral("与服务器的连接出错（%1），请重试。").arg(errorText));
}

void OperationChannel::close()
{
    setWaiting(false);
    m_socket.close();
}
