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
{
}

int NoticeScan::overdueStep(const QDateTime& due, const QDateTime& now, int everyDays, int maxSteps)
{
    if (!due.isValid() || maxSteps <= 0 || everyDays <= 0)
        return 0;
    const qint64 days = due.secsTo(now) / Day;
    if (days < 1)
        return 0;
    return int(std::min<qint64>(1 + (days - 1) / everyDays, maxSteps));
}

QString NoticeScan::keyOf(const NoticeRow& n)
{
    return n.accountId + QLatin1Char('\n') + n.item + QLatin1Char('\n') + n.dueAt + QLatin1Char('\n')
        + QString::number(n.sequence);
}

QList<NoticeRow> NoticeScan::run(Storage& storage, bool dryRun)
{
    QList<NoticeRow> queued;
    const QString now = ServerClock::stamp(m_now);
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
        for (const NoticeSubject& loan : storage.loansDueBetween(QString(), dayAgo)) {
            const int step = overdueStep(ServerClock::fromStamp(loan.dueAt), m_now, m_settings.overdueEveryDays,
                                         m_settings.overdueMax);
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
    notice.queuedAt = ServerClock::stamp(m_now);
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
