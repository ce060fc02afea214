#include "tracecatcher.h"

namespace {
QStringList* activeMessages = nullptr;
QtMessageHandler passOn = nullptr;
} // namespace

TraceCatcher::TraceCatcher()
{
    activeMessages = &m_messages;
    m_previous = qInstallMessageHandler(&TraceCatcher::handle);
    passOn = m_previous;
}

TraceCatcher::~TraceCatcher()
{
    qInstallMessageHandler(m_previous);
    activeMessages = nullptr;
    passOn = nullptr;
}

void TraceCatcher::handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (activeMessages)
        activeMessages->append(message);
    if (passOn)
        passOn(type, context, message);
}
