#include "logger.h"

#include <QDateTime>

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace {
constexpr int MaxQueuedLines = 20000;
constexpr int MaxDisplayLines = 2000;
// A busy server writes its lines in batches: the writer, woken by the first line, gathers what comes
// within this many milliseconds (or this many lines) and writes them at once, instead of being woken
// once per request.
constexpr int BatchMs = 20;
constexpr int WakeAtLines = 512;

// The local time a line is stamped with. Asking for local time re-reads the time zone file each time,
// once per request on a busy server; the offset from UTC changes only on the hour, so it is looked up
// when the minute changes and the rest is arithmetic. The text of the second is made once a second
// (in each thread); a line adds its milliseconds.
QString localStamp()
{
    static std::atomic<qint64> offsetMinute{-1};
    static std::atomic<int> offsetSeconds{0};
    thread_local qint64 shownSecond = -1;
    thread_local QString secondText;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 minute = nowMs / 60000;
    if (offsetMinute.load(std::memory_order_relaxed) != minute) {
        offsetSeconds.store(QDateTime::fromMSecsSinceEpoch(nowMs).offsetFromUtc(), std::memory_order_relaxed);
        offsetMinute.store(minute, std::memory_order_relaxed);
    }
    const qint64 localMs = nowMs + offsetSeconds.load(std::memory_order_relaxed) * qint64(1000);
    const qint64 second = localMs >= 0 ? localMs / 1000 : (localMs - 999) / 1000;
    if (second != shownSecond) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::UTC);
        const QDate date = local.date();
        const QTime time = local.time();
        char text[32];
        const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.", date.year(), date.month(),
                                         date.day(), time.hour(), time.minute(), time.second());
        secondText = QString::fromLatin1(text, qMax(0, length));
        shownSecond = second;
    }
    const int ms = int(localMs - second * 1000);
    const char16_t rest[] = {char16_t(u'0' + ms / 100), char16_t(u'0' + ms / 10 % 10), char16_t(u'0' + ms % 10), u' '};
    return secondText + QStringView(rest, 4);
}
} // namespace

Logger::Logger()
    : m_writer([this] { writeLoop(); })
{
}

Logger::~Logger()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stopping = true;
        m_wake.wakeAll();
    }
    m_writer.join();
}

QString Logger::escaped(const QString& text)
{
    // Control characters, line separators and invisible format characters would let a value forge or
    // hide log lines; they are written as escapes (and a backslash doubled, so that an escape cannot be
    // faked either). Most lines are printable ASCII and go as they are.
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) {
            const char16_t u = c.unicode();
            return u >= 0x20 && u < 0x7f && u != u'\\';
        }))
        return text;
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QLatin1String("\\\\");
        else if (u == u'\n')
            out += QLatin1String("\\n");
        else if (u == u'\r')
            out += QLatin1String("\\r");
        else if (u == u'\t')
            out += QLatin1String("\\t");
        else if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029
                 || c.category() == QChar::Other_Format) // e.g. right-to-left overrides that reorder a line
            out += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void Logger::log(const QString& line)
{
    const QString stamped = localStamp() + escaped(line);
    QMutexLocker lock(&m_mutex);
    if (m_pendingOutput.size() < MaxQueuedLines)
        m_pendingOutput.append(stamped);
    else
        ++m_dropped;
    m_pendingDisplay.append(stamped);
    if (m_pendingDisplay.size() > MaxDisplayLines)
        m_pendingDisplay.remove(0, m_pendingDisplay.size() - MaxDisplayLines);
    if (m_pendingOutput.size() == 1 || m_pendingOutput.size() >= WakeAtLines)
        m_wake.wakeOne();
}

QStringList Logger::takeForDisplay()
{
    QMutexLocker lock(&m_mutex);
    return std::exchange(m_pendingDisplay, {});
}

void Logger::writeLoop()
{
    QMutexLocker lock(&m_mutex);
    for (;;) {
        while (m_pendingOutput.isEmpty() && m_dropped == 0 && !m_stopping)
            m_wake.wait(&m_mutex);
        if (m_pendingOutput.isEmpty() && m_dropped == 0 && m_stopping)
            return;
        if (!m_stopping && m_pendingOutput.size() < WakeAtLines)
            m_wake.wait(&m_mutex, BatchMs);
        QStringList lines = std::exchange(m_pendingOutput, {});
        const qint64 dropped = std::exchange(m_dropped, 0);
        lock.unlock();
        QByteArray bytes;
        if (dropped > 0)
            bytes += "(" + QByteArray::number(dropped) + " log lines dropped: standard output is not read)\n";
        for (const QString& line : lines)
            bytes += line.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
        lock.relock();
    }
}
