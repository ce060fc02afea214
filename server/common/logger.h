#pragma once

#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QWaitCondition>

#include <thread>

// The server's log. Any thread may call log(); a line goes to standard output (flushed) and is kept
// for the console window, which collects them with takeForDisplay(). Output is written by a thread of
// its own so that a reader of standard output that stops reading never stalls a request: past a
// bound, lines are counted as dropped instead of queued.
class Logger
{
public:
    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // One line; control characters in it are escaped (see escaped()).
    void log(const QString& line);
    static QString escaped(const QString& text);
    // Lines logged since the last call, oldest first (at most the last few thousand).
    QStringList takeForDisplay();

private:
    void writeLoop();

    QMutex m_mutex;
    QWaitCondition m_wake;
    QStringList m_pendingOutput;
    QStringList m_pendingDisplay;
    qint64 m_dropped = 0;
    bool m_stopping = false;
    std::thread m_writer;
};
