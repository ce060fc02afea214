#pragma once

#include "noticekind.h"
#include "serversettings.h"
#include "storage.h"

#include <QDateTime>

// Decides which notices are due at a moment and queues each one that is not queued yet, inside the
// caller's write transaction: the notices table's unique key makes a second scan, a restart or another
// server on the same database queue nothing twice.
//
// Due soon: a loan due within `dueSoonDays`, once per loan and due date (a renewal moves the date, so
// the renewed loan is reminded again), unless the reader turned these reminders off. Overdue: a day
// after the due date, then every `overdueEveryDays`, `overdueMax` times at most; a scan after a long
// pause queues only the latest of the steps it missed. Hold ready: the reader a returned copy is kept
// for, once per pick-up window. Readers at level Guest get nothing; readers without a usable e-mail
// address get letters instead.
class NoticeScan
{
public:
    NoticeScan(const NoticeSettings& settings, const QDateTime& now);

    // The notices queued now (with `dryRun`, those that would be, and nothing changes).
    QList<NoticeRow> run(Storage& storage, bool dryRun);

    // A notice's key as Storage::noticeKeys() returns it.
    static QString keyOf(const NoticeRow& notice);

private:
    void consider(Storage& storage, NoticeKind kind, const NoticeSubject& subject, int sequence, bool dryRun,
                  QList<NoticeRow>& queued);

    // The overdue notices queued already: a library with many loans long overdue writes nothing for
    // them scan after scan.
    QSet<QString> m_overdueQueued;

    NoticeSettings m_settings;
    QDateTime m_now;
    QString m_nowStamp;
};
