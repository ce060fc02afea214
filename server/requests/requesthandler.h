#pragma once

#include "messages.h"
#include "requestcontext.h"

#include <functional>
#include <optional>

class Storage;
struct AccountRow;
struct BookRow;

// What the handlers of every group share: the caller, the database jobs and the replies.
// Handlers decide; Storage reads and writes.
class RequestHandler
{
public:
    explicit RequestHandler(Caller& caller);

protected:
    static HandlerReply word(const QString& replyWord);
    static HandlerReply word(Refusal refusal) { return word(Wire::word(refusal)); }
    // SERVER_ERROR, with why for the log.
    static HandlerReply serverError(const QString& why);
    // A row stream refused for lack of rights or a failure: the end-of-stream frame alone, since the
    // client reads fixed-size rows there.
    static HandlerReply refusedStream(const QString& why);
    static HandlerReply refusedStream(Refusal refusal) { return refusedStream(Wire::word(refusal)); }
    // Rows that do not fit in a frame are left out rather than sent with a size word that lies.
    template <class Row>
    static HandlerReply rowStream(const QList<Row>& rows, const std::function<QStringList(const Row&)>& toFields);

    // Runs a change on the writer; the reply word is what the job returns, or SERVER_ERROR when the
    // database failed. A reply of `successWord` counts as a stored change, so the console refreshes.
    HandlerReply writeWord(const QString& successWord, const std::function<QString(Storage&)>& job);
    // The same for a reply frame that carries more than its word: the job returns the frame's strings
    // (a refusal is a frame of its word alone).
    HandlerReply writeFrame(const QString& successWord, const std::function<QStringList(Storage&)>& job);
    // Runs a read; false with the reason in `error` when it did not run or the database failed.
    bool read(const std::function<void(Storage&)>& job, QString* error);
    // nullopt when the caller is an Administrator or above (the level read afresh, so an administrator
    // lowered since the login has lost the right), else the refusal. Remembers the caller's level.
    std::optional<QString> adminRefusal(Storage& storage);
    // Whether the caller may act as the account: the session of the request is that account's.
    bool loggedIn(Storage& storage, const QString& userId) const;
    // Whether the caller may act for the account: logged in as it, or staff (an administrator).
    bool actsFor(Storage& storage, const QString& userId);
    // The account the caller is logged in as, or an empty string: for the audit trail.
    QString callerId(Storage& storage) const;
    // The caller's level as adminRefusal() last read it.
    int callerLevel() const { return m_callerLevel; }

    // Locks and loads the reader and the copy a loan or a hold is about, and checks that the reader may
    // borrow that copy at all. nullopt with both filled in, or the reply word (empty: the database failed).
    std::optional<QString> readerAndCopy(Storage& storage, const QString& userId, const QString& number,
                                         std::optional<AccountRow>& account, std::optional<BookRow>& book);

    // Records a change in the audit trail, inside the change's transaction (before its commit), and
    // notes it for the log line of the request.
    struct Change {
        AuditAction action;
        QString accountId, bookNumber, detail;
    };
    bool audit(Storage& storage, const Change& change);

    ServerContext& context() const { return m_caller.context; }
    const QString& peer() const { return m_caller.peer; }

    Caller& m_caller;
    QString m_auditNote; // what the stored change touched, for the log
    int m_callerLevel = -1;
};

template <class Row>
HandlerReply RequestHandler::rowStream(const QList<Row>& rows, const std::function<QStringList(const Row&)>& toFields)
{
    HandlerReply reply;
    int skipped = 0;
    for (const Row& row : rows) {
        QByteArray frame = Reply::row(toFields(row));
        if (frame.isEmpty())
            ++skipped;
        else
            reply.frames.append(std::move(frame));
    }
    reply.outcome = QStringLiteral("%1 rows").arg(reply.frames.size());
    if (skipped > 0)
        reply.outcome += QStringLiteral(" (%1 too long for a frame, left out)").arg(skipped);
    return reply;
}
