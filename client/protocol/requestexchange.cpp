#include "requestexchange.h"

#include "refusals.h"

#include <QWidget>

RequestExchange::RequestExchange(QWidget* window, int rowSize)
    : QObject(window)
    , m_window(window)
    , m_rowSize(rowSize)
{
    QTcpSocket* socket = &m_channel.socket();
    connect(socket, &QTcpSocket::connected, this, [this] { m_send(); });
    connect(socket, &QTcpSocket::readyRead, this, &RequestExchange::read);
    connect(&m_channel, &OperationChannel::failed, this, [this] {
        if (!m_quiet)
            m_channel.reportError(m_window);
    });
}

void RequestExchange::begin()
{
    m_frames.clear();
    m_refused = false;
    m_channel.start();
}

void RequestExchange::read()
{
    QStringList frame;
    while (m_channel.nextFrame(frame))
        m_frames.append(frame);
    if (!m_channel.atEnd())
        return;
    if (m_rowSize > 0 && m_frames.size() == 1 && m_frames.first().size() == 1 && m_rowSize != 1) {
        m_refused = true;
        Refusals::report(m_window, m_frames.first());
        m_frames.clear();
    }
    emit finished(m_frames);
}

QString RequestExchange::refusalText(const QStringList& frame)
{
    return Refusals::message(frame.value(0), frame.value(1));
}

bool RequestExchange::reportIfLoginEnded(QWidget* window, const QStringList& frame)
{
    const std::optional<Refusal> refusal = Wire::refusalNamed(frame.value(0));
    if (refusal != Refusal::SessionExpired && refusal != Refusal::NotLoggedIn)
        return false;
    Refusals::report(window, frame);
    return true;
}
