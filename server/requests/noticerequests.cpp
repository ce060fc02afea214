#include "noticerequests.h"

#include "serverclock.h"
#include "storage.h"

namespace {

constexpr int ListLimit = 1000;
constexpr int ListDays = 30;
// A notice still not delivered after this long shows as failed.
constexpr int FailingHours = 24;

std::optional<qint64> noticeId(const QString& text)
{
    bool ok = false;
    const qint64 id = text.trimmed().toLongLong(&ok);
    return ok && id > 0 ? std::optional<qint64>(id) : std::nullopt;
}

} // namespace

HandlerReply NoticeRequests::notices(const NoticesQuery& query)
{
    const QDateTime now = ServerClock::nowUtc();
    const QString failingSince = ServerClock::stamp(now.addSecs(-FailingHours * 3600));
    const NoticeFilter filter{query.state.trimmed(), query.userId.trimmed(), ServerClock::stamp(now.addDays(-ListDays)),
                              failingSince};
    QList<NoticeRow> rows;
    bool allowed = false;
    QString error;
    if (!read(
            [&](Storage& storage) {
                allowed = !adminRefusal(storage);
                if (allowed)
                    rows = storage.notices(filter, ListLimit);
            },
            &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    if (!allowed)
        return refusedStream(Refusal::AdminRequired);
    return rowStream<NoticeRow>(rows, [&](const NoticeRow& n) {
        const bool failing = n.state == Notice::Queued && !n.firstFailedAt.isEmpty() && n.firstFailedAt < failingSince;
        return NoticeRecord{QString::number(n.id),
                            ServerClock::shown(n.queuedAt),
                            n.kind,
                            n.accountId,
                            n.name,
                            n.email,
                            failing ? QString(Notice::Failed) : n.state,
                            n.lastError}
            .fields();
    });
}

HandlerReply NoticeRequests::resendNotice(const ResendNoticeQuery& query)
{
    const std::optional<qint64> id = noticeId(query.noticeId);
    return writeWord(Reply::ResendNoticeSuccessfully, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        if (!id)
            return Wire::word(Refusal::NoSuchNotice);
        if (storage.resendNotice(*id, ServerClock::nowStamp()))
            return Reply::ResendNoticeSuccessfully;
        return storage.failed() ? QString() : Wire::word(Refusal::NoSuchNotice);
    });
}

HandlerReply NoticeRequests::markLettersPrinted(const MarkLettersPrintedQuery& query)
{
    QList<qint64> ids;
    for (const QString& part : query.noticeIds.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (const std::optional<qint64> id = noticeId(part); id && ids.size() < ListLimit)
            ids.append(*id);
    }
    return writeWord(Reply::MarkLettersPrintedSuccessfully, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        Storage::WriteTransaction transaction(storage);
        storage.markLettersPrinted(ids);
        if (storage.failed() || !transaction.commit())
            return QString();
        return Reply::MarkLettersPrintedSuccessfully;
    });
}

HandlerReply NoticeRequests::noticePreference(const NoticePreferenceQuery& query)
{
    const QString preference = query.preference.trimmed().toLower();
    if (preference.isEmpty()) {
        std::optional<bool> wanted;
        bool allowed = false;
        QString error;
        if (!read(
                [&](Storage& storage) {
                    allowed = actsFor(storage, query.userId);
                    if (allowed)
                        wanted = storage.dueSoonNotices(query.userId);
                },
                &error))
            return serverError(error);
        if (!allowed)
            return word(Refusal::NotLoggedIn);
        if (!wanted)
            return word(Refusal::NoSuchUser);
        HandlerReply reply;
        reply.frames.append(
            Reply::row({QString(Reply::NoticePreference), QString(*wanted ? Notice::On : Notice::Off)}));
        reply.outcome = QString(Reply::NoticePreference);
        return reply;
    }
    if (preference != Notice::On && preference != Notice::Off)
        return word(Refusal::InvalidAccountField);
    return writeWord(Reply::NoticePreferenceSuccessfully, [&](Storage& storage) -> QString {
        if (!actsFor(storage, query.userId))
            return Wire::word(Refusal::NotLoggedIn);
        if (storage.setDueSoonNotices(query.userId, preference == Notice::On))
            return Reply::NoticePreferenceSuccessfully;
        return storage.failed() ? QString() : Wire::word(Refusal::NoSuchUser);
    });
}
