#pragma once

#include "messages.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QStringList>

#include <memory>

class QTcpSocket;

// A blocking client of the server's protocol, for tests: one connection per request, like the real
// client. Needs no event loop, so it also works on plain threads. An optional source address
// (127.0.0.x) lets one test speak as several machines.
class WireClient
{
public:
    explicit WireClient(quint16 port, const QString& host = QStringLiteral("127.0.0.1"));

    void setSourceAddress(const QString& address) { m_source = address; }
    // A session token to send with every request, as our client does while logged in.
    void setToken(const QString& token) { m_token = token; }
    QString sourceAddress() const { return m_source; }
    // Speaks TLS and accepts only the certificate of this SHA-256 digest (hex, colons allowed).
    void setTlsPin(const QString& fingerprint) { m_pin = fingerprint; }

    struct Reply {
        QList<QStringList> frames; // every frame before the end of stream, decoded
        bool endOfStream = false; // the FF FF word arrived
        bool closedByServer = false;
        QString error; // connection failure, timeout or an undecodable frame

        // The first string of the first frame: the reply word of a word reply.
        QString word() const { return frames.isEmpty() ? QString() : ::Reply::wordOf(frames.first()); }
    };

    template <class Request> Reply send(const Request& request, int timeoutMs = 60000) const
    {
        // Extension fields go only where a test set them, so a request left as documented stays so.
        return sendBytes(
            Wire::encodeRequest(request, m_token.isEmpty() ? std::nullopt : std::optional<QString>(m_token)),
            timeoutMs);
    }
    // The request with a session token as its last field, as our client sends it while logged in.
    template <class Request> Reply send(const Request& request, const QString& token, int timeoutMs = 60000) const
    {
        return sendBytes(Wire::encodeRequest(request, token), timeoutMs);
    }
    // Any bytes, well-formed or not.
    Reply sendBytes(const QByteArray& bytes, int timeoutMs = 60000) const;

    // A connection that has sent `bytes` (maybe nothing) and waits; read its reply with readReply().
    std::unique_ptr<QTcpSocket> openConnection(const QByteArray& bytes = {}) const;
    static Reply readReply(QTcpSocket& socket, int timeoutMs = 60000);

private:
    QString m_host;
    quint16 m_port;
    QString m_source;
    QString m_token;
    QString m_pin;
};
