#include "requesthandler.h"

#include "databasepool.h"
#include "levels.h"
#include "serverclock.h"
#include "storage.h"

#include <QDateTime>

RequestHandler::RequestHandler(Caller& caller)
    : m_caller(caller)
{
}

HandlerReply RequestHandler::word(const QString& replyWord)
{
    return {{Reply::word(replyWord)}, replyWord};
}

HandlerReply RequestHandler::serverError(const QString& why)
{
    HandlerReply reply = word(Refusal::ServerError);
    reply.outcome += QStringLiteral(" (") + why + QLatin1Char(')');
    return reply;
}

HandlerReply RequestHandler::refusedStream(const QString& why)
{
    return {{}, QStringLiteral("refused, ") + why};
}

bool RequestHandler::read(const std::function<void(Storage&)>& job, QString* error)
{
    bool failed = false;
    const bool ran = context().database.read([&](Storage& storage) {
        job(storage);
        failed = storage.failed();
        if (failed)
            *error = storage.lastError();
    });
    if (!ran && error->isEmpty())
        *error = QStringLiteral("the database is unavailable");
    return ran && !failed;
}

bool RequestHandler::loggedIn(Storage&, const QString& userId) const
{
    return !m_caller.account.isEmpty() && m_caller.account == userId;
}

QString RequestHandler::callerId(Storage&) const
{
    return m_caller.account;
}

bool RequestHandler::audit(Storage& storage, const Change& change)
{
    AuditEvent event{ServerClock::nowStamp(), callerId(storage), peer(),       Wire::word(change.action),
                     change.accountId,        change.bookNumber, change.detail};
    m_auditNote = QStringLiteral(" by ") + (event.actor.isEmpty() ? QStringLiteral("(nobody)") : event.actor);
    if (!change.accountId.isEmpty())
        m_auditNote += QStringLiteral(" account=") + change.accountId;
    if (!change.bookNumber.isEmpty())
        m_auditNote += QStringLiteral(" book=") + change.bookNumber;
    if (!change.detail.isEmpty())
        m_auditNote += QLatin1Char(' ') + change.detail;
    return storage.appendAudit(event);
}

std::optional<QString> RequestHandler::adminRefusal(Storage& storage)
{
    m_callerLevel = -1;
    if (m_caller.account.isEmpty())
        return Wire::word(Refusal::AdminRequired);
    const std::optional<AccountRow> account = storage.account(m_caller.account);
    if (account)
        m_callerLevel = Levels::code(account->level);
    if (m_callerLevel < Levels::Administrator)
        return Wire::word(Refusal::AdminRequired);
    return std::nullopt;
}

HandlerReply RequestHandler::writeWord(const QString& successWord, const std::function<QString(Storage&)>& job)
{
    return writeFrame(successWord, [&](Storage& storage) {
        const QString result = job(storage);
        return result.isEmpty() ? QStringList() : QStringList{result};
    });
}

HandlerReply RequestHandler::writeFrame(const QString& successWord, const std::function<QStringList(Storage&)>& job)
{
    QStringList result;
    bool failed = false;
    QString error;
    const bool ran = context().database.write([&](Storage& storage) {
        result = job(storage);
        failed = storage.failed();
        if (failed)
            error = storage.lastError();
    });
    if (!ran || failed || result.isEmpty())
        return serverError(!ran ? QStringLiteral("not committed") : failed ? error : QStringLiteral("no change made"));
    HandlerReply reply{{Reply::row(result)}, result.first()};
    if (result.first() == successWord) {
        context().changes.ref();
        reply.note = m_auditNote;
    }
    return reply;
}

bool RequestHandler::actsFor(Storage& storage, const QString& userId)
{
    return loggedIn(storage, userId) || !adminRefusal(storage);
}

std::optional<QString> RequestHandler::readerAndCopy(Storage& storage, const QString& userId, const QString& number,
                                                     std::optional<AccountRow>& account, std::optional<BookRow>& book)
{
    if (!storage.lockAccount(userId) || !storage.lockBook(number))
        return QString();
    book = storage.book(number);
    if (!book)
        return Wire::word(Refusal::NoSuchBook);
    account = storage.account(userId);
    if (!account)
        return Wire::word(Refusal::NoSuchUser);
    const int level = Levels::code(account->level);
    if (level < Levels::Undergraduate)
        return Wire::word(Refusal::AccountUnconfirmed);
    if (level < Levels::code(book->permission))
        return Wire::word(Refusal::PermissionTooLow);
    if (book->lost)
        return Wire::word(Refusal::BookLost);
    return std::nullopt;
}
