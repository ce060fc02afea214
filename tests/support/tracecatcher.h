#pragma once

#include <QStringList>
#include <QtMessageHandler>

// Records the program's debug output while it lives (and still passes it on), so a test can wait for
// a trace such as "Receive End" that marks the end of an exchange. One at a time.
class TraceCatcher
{
public:
    TraceCatcher();
    ~TraceCatcher();
    TraceCatcher(const TraceCatcher&) = delete;
    TraceCatcher& operator=(const TraceCatcher&) = delete;

    const QStringList& messages() const { return m_messages; }
    int count(const QString& message) const { return int(m_messages.count(message)); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message);

    QStringList m_messages;
    QtMessageHandler m_previous = nullptr;
};
