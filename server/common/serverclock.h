#pragma once

#include <QDateTime>
#include <QString>

// The one time the server goes by: due dates, overdue days, pick-up deadlines, the audit trail, when
// accounts were made, sessions and the login throttle. It is the system clock, except in the test
// server, which installs a source that tests can move forward (server/testing/testclock.cpp) so that
// no test waits for a loan to fall due or a session to end.
namespace ServerClock {

QDateTime nowUtc();
// The same in milliseconds since the epoch.
qint64 nowMs();

// Replaces the system clock; called once, before any thread starts.
using Source = QDateTime (*)();
void setSource(Source source);

// A moment as stored in the database, the one format of every stored time: ISO 8601 in UTC to the
// millisecond ("2026-12-09T08:30:00.000Z"), one width, so that stored times compare as text in both
// databases.
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
