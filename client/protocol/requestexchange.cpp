#include "requestexchange.h"

#include <QWidget>

RequestExchange::RequestExchange(QWidget* window)
    : QObject(window)
    , m_window(window)
{
    QTcpSocket* socket = &m_channel.socket();
    connect(socket, &QTcpSocket::connected, this, [this] { m_send(); });
    connect(socket, &QTcpSocket::readyRead, this, &RequestExchange::read);
    connect(socket, &QTcpSocket::errorOccurred, this, [this] { m_channel.reportError(m_window); });
}

void RequestExchange::begin()
{
    m_frames.clear();
    m_channel.start();
}

void RequestExchange::read()
{
    QStringList frame;
    while (m_channel.nextFrame(frame))
        m_frames.append(frame);
    if (m_channel.atEnd())
        emit finished(m_frames);
}

QString RequestExchange::refusalText(const QStringList& frame)
{
    return QStringLiteral("服务器拒绝了请求（%1）。").arg(frame.value(0));
}
