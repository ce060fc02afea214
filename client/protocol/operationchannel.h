#pragma once

#include "frame.h"
#include "loginsession.h"
#include "messages.h"
#include "serveraddressfile.h"
#include "tlssettings.h"

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTimer>

class QWidget;

// The channel of one client operation: its socket, the frame reader that cuts its replies, the server
// address loaded for it and the deadline of its exchange. Each window holds one per operation and
// keeps the four steps (trigger, sender, reader, error) in its own slots; the channel does the work
// they share.
//
//   wiring:   channel.wire(this, &W::sender, &W::reader, &W::onError);
//   trigger:  channel.start();                       // loads the address file, connects
//   sender:   channel.send(LoginQuery{...});         // on socket().connected
//   reader:   while (channel.nextFrame(frame)) ...;  // on socket().readyRead
//             if (channel.atEnd()) ...               // end-of-stream arrived: socket is closed
//   error:    channel.reportError(this);             // on failed()
//
// Nothing waits forever: while the channel waits for the server (connecting, or for more of the
// reply) a deadline runs ([network] timeoutSeconds of client.ini) and a busy cursor shows. The clock
// stops while the window handles a frame it was given, so a message box the user leaves open does not
// count against the server.
//
// With TLS on in client.ini, the same exchange runs inside TLS on the TLS port. A request written
// before the handshake waits in the socket until the server's certificate is trusted: the pinned one,
// or, on the first connection, one the user accepts (then pinned, and the request sent again on a new
// connection, since the server does not wait for the user). A different certificate is refused
// with a warning showing both fingerprints, and the operation ends in its error step without a
// second box.
class OperationChannel : public QObject
{
    Q_OBJECT

public:
    explicit OperationChannel(const QString& addressFile = ServerAddressFile::defaultPath());
    ~OperationChannel() override;

    QTcpSocket& socket() { return m_socket; }

    // Connects the socket's connected() to the window's sender, readyRead() to its reader and the
    // channel's failed() to its error slot.
    template <class Window>
    void wire(Window* window, void (Window::*sender)(), void (Window::*reader)(), void (Window::*onError)())
    {
        connect(&m_socket, &QTcpSocket::connected, window, sender);
        connect(&m_socket, &QTcpSocket::readyRead, window, reader);
        connect(this, &OperationChannel::failed, window, onError);
    }

    // Loads the server address and the deadline, and connects. An exchange still open on this channel
    // is dropped first, so a second press never mixes two requests on one socket.
    void start();

    // Writes one request frame: the code, the request's fields and the login's last field (the
    // session token while logged in; see LoginSession::lastField). A request too large for a frame
    // is not sent: the socket is closed and false returned.
    template <class Request> bool send(const Request& request)
    {
        return send(request, LoginSession::instance().lastField(Request::code));
    }
    // The same with a last field of the caller's (the logout's captured token).
    template <class Request> bool send(const Request& request, const std::optional<QString>& lastField)
    {
        return writeFrame(Wire::encodeRequest(request, lastField));
    }

    // Takes the next whole reply frame that has arrived, decoded into its strings. Returns false when
    // none is complete yet or the stream has ended. A frame whose body is malformed is skipped.
    bool nextFrame(QStringList& frame);

    // True once the end-of-stream frame (or a stream that breaks the framing) has been read, or the
    // exchange failed; the socket is then closed. Stays true until the next start().
    bool atEnd() const { return m_ended; }

    // True between start() and the end of the exchange.
    bool isBusy() const;

    // Whether the busy cursor shows while this channel waits; on by default. Off for exchanges that
    // nobody waits for (the logout notice).
    void setShowsBusyCursor(bool shows) { m_showsBusyCursor = shows; }

    // For the error slot, over `parent`: "Can not connect to server!!!" when the server refused the
    // connection or the host is unknown; that the server did not answer in time; that the connection
    // was lost before the reply was whole. Closes.
    void reportError(QWidget* parent);

    // Waits, with the event loop running, until the request written has left this client (inside TLS
    // when TLS is on), at most timeoutMs. For a notice sent while the program quits.
    bool flush(int timeoutMs);

    void close();

    const ServerAddress& address() const { return m_address; }
    const QString& addressFile() const { return m_addressFile; }

signals:
    // The exchange failed: no connection, the connection lost before the end of the reply, or no
    // answer before the deadline.
    void failed();

private:
    enum class Failure { None, Socket, Lost, Timeout, Untrusted };

    bool writeFrame(const QByteArray& frame);
    void onSocketError(QAbstractSocket::SocketError error);
    void onDeadline();
    void fail(Failure failure);
    // Starts or pauses the deadline and the busy cursor.
    void setWaiting(bool waiting);
    // True when the bytes already received hold the end-of-stream frame.
    bool replyComplete() const;
    // Called once the handshake has paused on the certificate: trusts it (pinned, or accepted by the
    // user) and lets the handshake go on, or ends the exchange.
    void decideTrust();
    // The TLS port refused: asks whether to use the plain one, and connects there if so.
    void offerPlainConnection();

    QString m_addressFile;
    ServerAddress m_address;
    TlsSettings m_tls;
    QSslSocket m_socket;
    FrameReader m_reader;
    bool m_ended = false;
    bool m_written = false; // the request of this exchange has been handed to the socket
    bool m_triedTls = false; // connecting to the TLS port, a refusal not yet answered

    QTimer m_deadline;
    QElapsedTimer m_waitClock;
    qint64 m_timeoutMs = 0;
    qint64 m_remainingMs = 0;
    bool m_waiting = false;
    bool m_showsBusyCursor = true;
    Failure m_failure = Failure::None;
    QAbstractSocket::SocketError m_socketError = QAbstractSocket::UnknownSocketError;
    QString m_socketErrorText;
};
