#pragma once

#include <QDateTime>
#include <QString>

// The time the server's circulation rules go by: due dates, overdue days, pick-up deadlines. It is the
// system clock, except in the test server, which installs a source that tests can move forward
// (server/testing/testclock.cpp) so that no test waits for a loan to fall due.
namespace ServerClock {

QDateTime nowUtc();

// Replaces the system clock; called once, before any thread starts.
using Source = QDateTime (*)();
void setSource(Source source);

// A moment as stored in the database: ISO 8601 in UTC to the second, so that stored times compare
// as text in both databases.
QString stamp(const QDateTime& time);
inline QString nowStamp()
{
    return stamp(nowUtc());
}
QDateTime fromStamp(const QString& stored);

// A stored moment in the server's local time, as the lists show dates ("yyyy-MM-dd HH:mm:ss"); the
// stored text itself when it is not a moment.
QString shown(const QString& stored);

// Whole days started since `due` (0 when it is not past): one hour late is one day overdue.
int daysOverdue(const QString& dueStamp, const QDateTime& now);

} // namespace ServerClock
