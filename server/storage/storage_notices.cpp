#include "storage.h"

namespace {

const QString noticeColumns = QStringLiteral(
    "n.id, n.kind, n.account_id, n.item, n.due_at, n.sequence, n.book_number, n.title, n.state, n.queued_at, "
    "n.attempts, n.next_attempt_at, n.first_failed_at, n.last_error, n.sent_at, n.message_id, a.name, a.email");

NoticeRow noticeFrom(const SqlRow& q)
{
    NoticeRow n;
    n.id = q.value(0).toLongLong();
    n.kind = q.value(1).toString();
    n.accountId = q.value(2).toString();
    n.item = q.value(3).toString();
    n.dueAt = q.value(4).toString();
    n.sequence = q.value(5).toInt();
    n.bookNumber = q.value(6).toString();
    n.title = q.value(7).toString();
    n.state = q.value(8).toString();
    n.queuedAt = q.value(9).toString();
    n.attempts = q.value(10).toInt();
    n.nextAttemptAt = q.value(11).toString();
    n.firstFailedAt = q.value(12).toString();
    n.lastError = q.value(13).toString();
    n.sentAt = q.value(14).toString();
    n.messageId = q.value(15).toString();
    n.name = q.value(16).toString();
    n.email = q.value(17).toString();
    return n;
}

const QString queuedState = QStringLiteral("queued");

} // namespace

QList<NoticeSubject> Storage::loansDueBetween(const QString& from, const QString& to)
{
    QList<NoticeSubject> rows;
    select(QStringLiteral("SELECT l.book_number, b.title, l.due_at, l.account_id, a.name, a.email, a.level, "
                          "a.due_soon_notices FROM loans l JOIN books b ON b.number = l.book_number "
                          "JOIN accounts a ON a.id = l.account_id "
                          "WHERE l.due_at <> '' AND l.due_at >= ? AND l.due_at < ? ORDER BY l.due_at, l.book_number"),
           {from, to}, [&](const SqlRow& q) {
               rows.append({q.value(0).toString(), q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                            q.value(3).toString(), q.value(4).toString(), q.value(5).toString(), q.value(6).toString(),
                            q.value(7).toInt() != 0});
           });
    return rows;
}

QList<NoticeSubject> Storage::holdsReady(const QString& now)
{
    QList<NoticeSubject> rows;
    QString lastBook;
    select(
        QStringLiteral("SELECT h.id, h.book_number, b.title, h.ready_until, h.account_id, a.name, a.email, a.level "
                       "FROM holds h JOIN books b ON b.number = h.book_number JOIN accounts a ON a.id = h.account_id "
                       "WHERE h.ready_until IS NOT NULL AND h.ready_until >= ? "
                       "AND NOT EXISTS (SELECT 1 FROM loans l WHERE l.book_number = h.book_number) "
                       "ORDER BY h.book_number, h.id"),
        {now}, [&](const SqlRow& q) {
            const QString book = q.value(1).toString();
            if (book == lastBook)
                return; // kept for the reader ahead
            lastBook = book;
            rows.append({q.value(0).toString(), book, q.value(2).toString(), q.value(3).toString(),
                         q.value(4).toString(), q.value(5).toString(), q.value(6).toString(), q.value(7).toString(),
                         true});
        });
    return rows;
}

bool Storage::queueNotice(const NoticeRow& n, bool* inserted)
{
    int rows = 0;
    const bool ok = change(
        QStringLiteral("INSERT INTO notices (kind, account_id, item, due_at, sequence, book_number, title, state, "
                       "queued_at, next_attempt_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                       "ON CONFLICT (kind, account_id, item, due_at, sequence) DO NOTHING"),
        {n.kind, n.accountId, n.item, n.dueAt, n.sequence, n.bookNumber, n.title, n.state, n.queuedAt, n.nextAttemptAt},
        &rows);
    if (inserted)
        *inserted = ok && rows == 1;
    return ok;
}

bool Storage::noticeExists(const NoticeRow& n)
{
    return scalar(QStringLiteral("SELECT COUNT(*) FROM notices WHERE kind = ? AND account_id = ? AND item = ? "
                                 "AND due_at = ? AND sequence = ?"),
                  {n.kind, n.accountId, n.item, n.dueAt, n.sequence})
        > 0;
}

QSet<QString> Storage::noticeKeys(const QString& kind, const QString& dueBefore)
{
    QSet<QString> keys;
    select(QStringLiteral("SELECT account_id, item, due_at, sequence FROM notices WHERE kind = ? AND due_at < ?"),
           {kind, dueBefore}, [&](const SqlRow& q) {
               keys.insert(q.value(0).toString() + QLatin1Char('\n') + q.value(1).toString() + QLatin1Char('\n')
                           + q.value(2).toString() + QLatin1Char('\n') + q.value(3).toString());
           });
    return keys;
}

QList<NoticeRow> Storage::dueNotices(const QString& now, int limit)
{
    QList<NoticeRow> rows;
    select(QStringLiteral("SELECT ") + noticeColumns
               + QStringLiteral(" FROM notices n JOIN accounts a ON a.id = n.account_id "
                                "WHERE n.state = ? AND n.next_attempt_at <= ? ORDER BY n.account_id, n.kind, n.id "
                                "LIMIT ?"),
           {queuedState, now, limit}, [&](const SqlRow& q) { rows.append(noticeFrom(q)); });
    return rows;
}

bool Storage::claimNotice(qint64 id, const QString& seenNextAttempt, const QString& until)
{
    int rows = 0;
    change(QStringLiteral("UPDATE notices SET next_attempt_at = ? WHERE id = ? AND state = ? AND next_attempt_at = ?"),
           {until, id, queuedState, seenNextAttempt}, &rows);
    return rows == 1;
}

bool Storage::markNoticeSent(qint64 id, const QString& at, const QString& messageId)
{
    return change(QStringLiteral("UPDATE notices SET state = 'sent', sent_at = ?, message_id = ?, last_error = '', "
                                 "attempts = attempts + 1 WHERE id = ?"),
                  {at, messageId, id});
}

bool Storage::markNoticeFailed(qint64 id, const QString& nextAttemptAt, const QString& failedAt, const QString& error)
{
    return change(QStringLiteral("UPDATE notices SET attempts = attempts + 1, next_attempt_at = ?, last_error = ?, "
                                 "first_failed_at = CASE WHEN first_failed_at = '' THEN ? ELSE first_failed_at END "
                                 "WHERE id = ? AND state = ?"),
                  {nextAttemptAt, error.left(500), failedAt, id, queuedState});
}

bool Storage::setNoticeState(qint64 id, const QString& state)
{
    return change(QStringLiteral("UPDATE notices SET state = ? WHERE id = ?"), {state, id});
}

QList<NoticeRow> Storage::notices(const NoticeFilter& filter, int limit)
{
    QString where = QStringLiteral("n.queued_at >= ?");
    QVariantList values{filter.queuedSince};
    const QString failing = QStringLiteral("(n.first_failed_at <> '' AND n.first_failed_at < ?)");
    if (filter.state == QLatin1String("failed")) {
        where += QStringLiteral(" AND n.state = ? AND ") + failing;
        values << queuedState << filter.failingSince;
    } else if (filter.state == queuedState) {
        where += QStringLiteral(" AND n.state = ? AND NOT ") + failing;
        values << queuedState << filter.failingSince;
    } else if (!filter.state.isEmpty()) {
        where += QStringLiteral(" AND n.state = ?");
        values << filter.state;
    }
    if (!filter.accountId.isEmpty()) {
        where += QStringLiteral(" AND n.account_id = ?");
        values << filter.accountId;
    }
    values << limit;
    QList<NoticeRow> rows;
    select(QStringLiteral("SELECT ") + noticeColumns
               + QStringLiteral(" FROM notices n JOIN accounts a ON a.id = n.account_id WHERE ") + where
               + QStringLiteral(" ORDER BY n.queued_at DESC, n.id DESC LIMIT ?"),
           values, [&](const SqlRow& q) { rows.append(noticeFrom(q)); });
    return rows;
}

bool Storage::resendNotice(qint64 id, const QString& now)
{
    int rows = 0;
    change(QStringLiteral("UPDATE notices SET next_attempt_at = ?, attempts = 0, first_failed_at = '', "
                          "last_error = '' WHERE id = ? AND state = ?"),
           {now, id, queuedState}, &rows);
    return rows == 1;
}

int Storage::markLettersPrinted(const QList<qint64>& ids)
{
    int marked = 0;
    for (const qint64 id : ids) {
        int rows = 0;
        change(QStringLiteral("UPDATE notices SET state = 'printed' WHERE id = ? AND state = 'letter'"), {id}, &rows);
        marked += rows;
    }
    return marked;
}

bool Storage::setDueSoonNotices(const QString& accountId, bool wanted)
{
    int rows = 0;
    change(QStringLiteral("UPDATE accounts SET due_soon_notices = ? WHERE id = ?"), {wanted ? 1 : 0, accountId}, &rows);
    return rows == 1;
}

std::optional<bool> Storage::dueSoonNotices(const QString& accountId)
{
    std::optional<bool> wanted;
    select(QStringLiteral("SELECT due_soon_notices FROM accounts WHERE id = ?"), {accountId},
           [&](const SqlRow& q) { wanted = q.value(0).toInt() != 0; });
    return wanted;
}

std::optional<HoldRow> Storage::hold(qint64 id)
{
    std::optional<HoldRow> found;
    select(QStringLiteral("SELECT h.id, h.book_number, h.account_id, h.placed_at, COALESCE(h.ready_until, ''), "
                          "b.title FROM holds h JOIN books b ON b.number = h.book_number WHERE h.id = ?"),
           {id}, [&](const SqlRow& q) {
               found = HoldRow{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString(),
                               q.value(3).toString(),   q.value(4).toString(), q.value(5).toString()};
           });
    return found;
}
