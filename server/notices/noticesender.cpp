#include "noticesender.h"

#include "databasepool.h"
#include "holdqueue.h"
#include "levels.h"
#include "noticekind.h"
#include "serverclock.h"

#include <QRandomGenerator>

namespace {

constexpr int BatchLimit = 500;

SmtpSettings smtpOf(const NoticeSettings& n)
{
    SmtpSettings s;
    s.url = n.smtpUrl;
    s.user = n.smtpUser;
    s.password = n.smtpPassword;
    s.allowPlain = n.allowPlainSmtp;
    return s;
}

QString shownDate(const QString& stamp)
{
    // To the minute: the seconds of a due date mean nothing to a reader.
    return ServerClock::shown(stamp).left(16);
}

} // namespace

NoticeSender::NoticeSender(DatabasePool& database, const NoticeSettings& settings, const NoticeTemplates& templates,
                           LogFunction log)
    : m_database(database)
    , m_settings(settings)
    , m_templates(templates)
    , m_smtp(smtpOf(settings))
    , m_log(std::move(log))
{
}

qint64 NoticeSender::retryDelaySeconds(int failures)
{
    qint64 delay = 60;
    for (int i = 1; i < failures && delay < 3600; ++i)
        delay *= 2;
    return std::min<qint64>(delay, 3600);
}

MailMessage NoticeSender::compose(const QList<NoticeRow>& notices, const NoticeSettings& settings,
                                  const NoticeTemplates& templates)
{
    const NoticeRow& first = notices.first();
    const NoticeKind kind = noticeKindNamed(first.kind).value_or(NoticeKind::DueSoon);
    QStringList books;
    QString pickupUntil;
    for (const NoticeRow& n : notices) {
        books.append(QStringLiteral("- %1 (%2) %3").arg(n.title, n.bookNumber, shownDate(n.dueAt)));
        if (pickupUntil.isEmpty() || n.dueAt < pickupUntil)
            pickupUntil = n.dueAt;
    }
    const QString name = first.name.isEmpty() ? first.accountId : first.name;
    const NoticeTemplates::Text text = templates.render(kind,
                                                        {{QStringLiteral("library"), settings.libraryName},
                                                         {QStringLiteral("name"), name},
                                                         {QStringLiteral("userId"), first.accountId},
                                                         {QStringLiteral("books"), books.join(QLatin1Char('\n'))},
                                                         {QStringLiteral("count"), QString::number(books.size())},
                                                         {QStringLiteral("pickupUntil"), shownDate(pickupUntil)}});
    MailMessage message;
    message.fromAddress = settings.from;
    message.fromName = settings.libraryName;
    message.toAddress = first.email;
    message.toName = first.name;
    message.subject = text.subject;
    message.body = text.body;
    const QString domain = settings.from.section(QLatin1Char('@'), 1).trimmed();
    message.messageId = QStringLiteral("notice-%1-%2@%3")
                            .arg(first.id)
                            .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'))
                            .arg(domain.isEmpty() ? QStringLiteral("library.invalid") : domain);
    message.date = ServerClock::nowUtc();
    return message;
}

bool NoticeSender::stillTrue(Storage& storage, const NoticeRow& notice, const QDateTime& now)
{
    const std::optional<AccountRow> account = storage.account(notice.accountId);
    if (!account || Levels::code(account->level) < Levels::Undergraduate)
        return false;
    const QString nowStamp = ServerClock::stamp(now);
    if (notice.kind == Notice::HoldReady) {
        const std::optional<HoldRow> hold = storage.hold(notice.item.toLongLong());
        if (!hold || hold->accountId != notice.accountId || hold->readyUntil != notice.dueAt
            || hold->readyUntil < nowStamp || storage.loanOf(hold->number))
            return false;
        // Still this reader's turn: nobody ahead whose window is open.
        for (const HoldRow& other : storage.holdsOn(hold->number)) {
            if (other.id < hold->id && HoldQueue::isLive(other, nowStamp))
                return false;
        }
        return true;
    }
    const std::optional<ActiveLoan> loan = storage.loanOf(notice.bookNumber);
    if (!loan || loan->accountId != notice.accountId || loan->dueAt != notice.dueAt)
        return false;
    // A reminder that the loan is due soon is no use once it is overdue.
    return notice.kind != Notice::DueSoon || nowStamp < loan->dueAt;
}

QList<NoticeRow> NoticeSender::claim(const QList<NoticeRow>& group, const QDateTime& now)
{
    QList<NoticeRow> toSend;
    QStringList obsolete;
    const QString until = ServerClock::stamp(now.addSecs(ClaimMinutes * 60));
    const bool committed = m_database.write([&](Storage& storage) {
        toSend.clear();
        obsolete.clear();
        Storage::WriteTransaction transaction(storage);
        for (NoticeRow notice : group) {
            if (!storage.claimNotice(notice.id, notice.nextAttemptAt, until))
                continue; // another sender has it, or it changed
            const std::optional<AccountRow> account = storage.account(notice.accountId);
            if (!stillTrue(storage, notice, now)) {
                storage.setNoticeState(notice.id, QString(Notice::Obsolete));
                obsolete.append(notice.bookNumber);
                continue;
            }
            if (account && !MailMessage::plausibleAddress(account->email)) {
                storage.setNoticeState(notice.id, QString(Notice::Letter));
                continue;
            }
            if (account) {
                notice.email = account->email;
                notice.name = account->name;
            }
            notice.nextAttemptAt = until;
            toSend.append(notice);
        }
        if (!transaction.commit())
            toSend.clear();
    });
    if (!committed)
        return {};
    if (!obsolete.isEmpty())
        m_log(QStringLiteral("notice obsolete: %1 to %2, %3 (returned, renewed, collected or cancelled since queued)")
                  .arg(group.first().kind, group.first().accountId, obsolete.join(QStringLiteral(", "))));
    return toSend;
}

int NoticeSender::sendDue(const QDateTime& now)
{
    QList<NoticeRow> due;
    if (!m_database.read([&](Storage& storage) { due = storage.dueNotices(ServerClock::stamp(now), BatchLimit); }))
        return 0;
    int accepted = 0;
    for (qsizetype start = 0; start < due.size();) {
        qsizetype end = start + 1;
        while (end < due.size() && due[end].accountId == due[start].accountId && due[end].kind == due[start].kind)
            ++end;
        const QList<NoticeRow> group = claim(due.mid(start, end - start), now);
        start = end;
        if (group.isEmpty())
            continue;
        const MailMessage message = compose(group, m_settings, m_templates);
        const SmtpSender::Result result = m_smtp.send(message);
        const QDateTime after = ServerClock::nowUtc();
        const QString afterStamp = ServerClock::stamp(after);
        const NoticeRow& first = group.first();
        if (result.accepted) {
            ++accepted;
            m_database.write([&](Storage& storage) {
                for (const NoticeRow& n : group)
                    storage.markNoticeSent(n.id, afterStamp, message.messageId);
            });
            m_log(QStringLiteral("notice sent: %1 to %2 (%3 books), message id <%4>")
                      .arg(first.kind, first.accountId)
                      .arg(group.size())
                      .arg(message.messageId));
            continue;
        }
        const int failures = first.attempts + 1;
        const QDateTime next = after.addSecs(retryDelaySeconds(failures));
        m_database.write([&](Storage& storage) {
            for (const NoticeRow& n : group)
                storage.markNoticeFailed(n.id, ServerClock::stamp(next), afterStamp, result.error);
        });
        m_log(QStringLiteral("notice failed: %1 to %2 (%3 books), attempt %4: %5; next try %6")
                  .arg(first.kind, first.accountId)
                  .arg(group.size())
                  .arg(failures)
                  .arg(result.error, ServerClock::shown(ServerClock::stamp(next))));
    }
    return accepted;
}
