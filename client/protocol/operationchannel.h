#pragma once

#include "frame.h"
#include "messages.h"
#include "serveraddressfile.h"
#include "tlssettings.h"

#include <QSslSocket>

class QWidget;

// The channel of one client operation: its socket, the frame reader that cuts its replies, and the
// server address loaded for it. Each window holds one per operation and keeps the four steps
// (trigger, sender, reader, error) in its own slots; the channel does the work they share.
//
//   trigger:  channel.start();                       // loads the address file, connects
//   sender:   channel.send(LoginQuery{...});         // on socket().connected
//   reader:   while (channel.nextFrame(frame)) ...;  // on socket().readyRead
//             if (channel.atEnd()) ...               // end-of-stream arrived: socket is closed
//   error:    channel.reportError(this);             // on socket().errorOccurred
//
// With TLS on in client.ini, the same exchange runs inside TLS on the TLS port. A request written
// before the handshake waits in the socket until the server's certificate is trusted: the pinned one,
// or, on the first connection, one the user accepts (then pinned). A different certificate is refused
// with a warning showing both fingerprints, and the operation ends in its error step.
class OperationChannel
{
public:
    explicit OperationChannel(const QString& addressFile = ServerAddressFile::defaultPath());

    QTcpSocket& socket() { return m_socket; }
    // The dialog trust questions and warnings appear over; the main window when none is set.
    void setDialogParent(QWidget* parent) { m_dialogParent = parent; }

    // Loads the server address and connects. An exchange still open on this channel is dropped first,
    // so a second press never mixes two requests on one socket.
    void start();

    // Writes one request frame. A request too large for a frame is not sent: the socket is closed and
    // false returned.
    template <class Request>
    bool send(const Request& request)
    {
        return writeFrame(Wire::encodeRequest(request));
    }

    // Takes the next whole reply frame that has arrived, decoded into its strings. Returns false when
    // none is complete yet or the stream has ended. A frame whose body is malformed is skipped.
    bool nextFrame(QStringList& frame);

    // True once the end-of-stream frame (or a stream that breaks the framing) has been read; the
    // socket is then closed. Stays true until the next start().
    bool atEnd() const { return m_ended; }

    // True between start() and the end of the exchange.
    bool isBusy() const;

    // For the error slot: "Can not connect to server!!!" over `parent` when the server refused the
    // connection or the host is unknown, otherwise a trace of the socket's error text. Closes.
    void reportError(QWidget* parent);

    void close();

    const ServerAddress& address() const { return m_address; }

private:
    bool writeFrame(const QByteArray& frame);
    // Called once the handshake has paused on the certificate: trusts it (pinned, or accepted by the
    // user) or lets the handshake fail.
    void decideTrust();

    QString m_addressFile;
    ServerAddress m_address;
    TlsSettings m_tls;
    QWidget* m_dialogParent = nullptr;
    QSslSocket m_socket;
    FrameReader m_reader;
    bool m_ended = false;
};
