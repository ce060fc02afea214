#include "scriptedserver.h"

#include "frame.h"

#include <QFile>
#include <QTcpSocket>
#include <QTimer>

QByteArray frameOf(const QStringList& values)
{
    return Wire::encodeFrame(values);
}

ScriptedServer::ScriptedServer(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

void ScriptedServer::writeAddressFile() const
{
    QFile file(QStringLiteral("hostIP.txt"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write("127.0.0.1\n" + QByteArray::number(port()));
    writePlainClientSettings();
}

void writePlainClientSettings()
{
    QFile ini(QStringLiteral("client.ini"));
    if (ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ini.write("[tls]\nenabled=false\n");
}

void ScriptedServer::addReply(const QList<QByteArray>& chunks, bool closeAfter)
{
    m_replies.append({chunks, closeAfter, false});
}

void ScriptedServer::addFrames(const QList<QStringList>& frames, bool endOfStream)
{
    QByteArray bytes;
    for (const QStringList& frame : frames)
        bytes += frameOf(frame);
    if (endOfStream)
        bytes += Wire::endOfStreamFrame();
    addReply({bytes});
}

void ScriptedServer::addSilence()
{
    m_replies.append({{}, false, true});
}

void ScriptedServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        auto* reader = new FrameReader;
        connect(socket, &QObject::destroyed, socket, [reader] { delete reader; });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (!socket->property("background").toBool())
                ++m_closed;
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, reader] {
            reader->feed(socket->readAll());
            const FrameReader::Result result = reader->next();
            if (result.status != FrameReader::Status::Frame)
                return;
            const QStringList request = Wire::decodeBody(result.body).value_or(QStringList());
            // Windows ask some questions as they open (the personal information form the reader's choice
            // of reminders, the book dialog the copies of the title); this server answers them as one
            // that does not know them (the end of the stream alone), off the record, the queue and the
            // counts, so that scripts see only the operations they are about.
            const bool preferenceAsked = request.value(0) == QLatin1String("QUERY_TITLE_COPIES")
                || (request.value(0) == QLatin1String("QUERY_NOTICE_PREFERENCE") && request.value(2).isEmpty());
            if (preferenceAsked) {
                socket->setProperty("background", true);
            } else {
                ++m_connections;
                m_requests.append(request);
                emit requestReceived(request);
            }
            // Logout notices are fire and forget: answered here, so the queue stays for scripted operations.
            const bool logout = request.value(0) == QLatin1String("QUERY_USER_LOGOUT");
            const Reply reply = logout
                ? Reply{{frameOf({QStringLiteral("LOGOUT_SUCCESSFULLY")}) + Wire::endOfStreamFrame()}, true, false}
                : preferenceAsked || m_replies.isEmpty() ? Reply{{Wire::endOfStreamFrame()}, true, false}
                                                         : m_replies.takeFirst();
            if (reply.silent)
                return;
            // Write one chunk per event-loop turn so the client gets separate reads.
            auto chunks = std::make_shared<QList<QByteArray>>(reply.chunks);
            auto writeNext = std::make_shared<std::function<void()>>();
            *writeNext = [socket, chunks, writeNext, closeAfter = reply.closeAfter] {
                if (chunks->isEmpty()) {
                    if (closeAfter)
                        socket->disconnectFromHost();
                    return;
                }
                socket->write(chunks->takeFirst());
                socket->flush();
                QTimer::singleShot(chunks->isEmpty() ? 0 : 20, socket, *writeNext);
            };
            (*writeNext)();
        });
    }
}
