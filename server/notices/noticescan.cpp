#include "noticescan.h"

#include "levels.h"
#include "mailmessage.h"
#include "serverclock.h"

namespace {

constexpr qint64 Day = 24 * 3600;

} // namespace

NoticeScan::NoticeScan(const NoticeSettings& settings, const QDateTime& now)
    : m_settings(settings)
    , m_now(now)
    , m_nowStamp(ServerClock::stamp(now))
{
}

QString NoticeScan::keyOf(const NoticeRow& n)
{
    return n.accountId + QLatin1Char('\n') + n.item + QLatin1Char('\n') + n.dueAt + QLatin1Char('\n')
        + QString::number(n.sequence);
}

QList<NoticeRow> NoticeScan::run(Storage& storage, bool dryRun)
{
    QList<NoticeRow> queued;
    const QString& now = m_nowStamp;
    if (m_settings.dueSoonDays > 0) {
        const QString until = ServerClock::stamp(m_now.addDays(m_settings.dueSoonDays));
        for (const NoticeSubject& loan : storage.loansDueBetween(now, until)) {
            if (loan.dueSoonWanted)
                consider(storage, NoticeKind::DueSoon, loan, 0, dryRun, queued);
        }
    }
    if (m_settings.overdueMax > 0) {
        const QString dayAgo = ServerClock::stamp(m_now.addSecs(-Day));
        m_overdueQueued = storage.noticeKeys(QString(Notice::Overdue), dayAgo);
        // Step k is reached by loans due at or before now less 1 + (k - 1) * overdueEveryDays days;
        // stored times compare as text, so no due date needs to be parsed.
        QStringList reachedBy;
        for (int step = 1; step <= m_settings.overdueMax; ++step)
            reachedBy.append(
                ServerClock::stamp(m_now.addSecs(-Day * (1 + qint64(step - 1) * m_settings.overdueEveryDays))));
        for (const NoticeSubject& loan : storage.loansDueBetween(QString(), dayAgo)) {
            int step = 0;
            while (step < reachedBy.size() && loan.dueAt <= reachedBy[step])
                ++step;
            if (step > 0)
                consider(storage, NoticeKind::Overdue, loan, step, dryRun, queued);
        }
    }
    for (const NoticeSubject& hold : storage.holdsReady(now))
        consider(storage, NoticeKind::HoldReady, hold, 0, dryRun, queued);
    return queued;
}

void NoticeScan::consider(Storage& storage, NoticeKind kind, const NoticeSubject& subject, int sequence, bool dryRun,
                          QList<NoticeRow>& queued)
{
    if (Levels::code(subject.level) < Levels::Undergraduate)
        return;
    NoticeRow notice;
    notice.kind = noticeKindName(kind);
    notice.accountId = subject.accountId;
    notice.item = subject.item;
    notice.dueAt = subject.dueAt;
    notice.sequence = sequence;
    notice.bookNumber = subject.bookNumber;
    notice.title = subject.title;
    notice.state = MailMessage::plausibleAddress(subject.email) ? QString(Notice::Queued) : QString(Notice::Letter);
    notice.queuedAt = m_nowStamp;
    notice.nextAttemptAt = notice.queuedAt;
    notice.name = subject.name;
    notice.email = subject.email;
    if (kind == NoticeKind::Overdue && m_overdueQueued.contains(keyOf(notice)))
        return;
    bool inserted = false;
    if (dryRun)
        inserted = !storage.noticeExists(notice);
    else
        storage.queueNotice(notice, &inserted);
    if (inserted)
        queued.append(notice);
}
