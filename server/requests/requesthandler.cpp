#include "requesthandler.h"

#include "databasepool.h"
#include "levels.h"
#include "loginsessions.h"
#include "storage.h"

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

bool RequestHandler::loggedIn(Storage& storage, const QString& userId) const
{
    return context().sessions.isLoggedIn(storage, peer(), userId);
}

std::optional<QString> RequestHandler::adminRefusal(Storage& storage) const
{
    const QString latest = context().sessions.latestLogin(storage, peer());
    if (latest.isEmpty())
        return QString(Refusal::AdminRequired);
    // The level is read afresh: an administrator who was lowered since the login has lost the right.
    const std::optional<AccountRow> account = storage.account(latest);
    if (!account || Levels::code(account->level) < Levels::Administrator)
        return QString(Refusal::AdminRequired);
    return std::nullopt;
}

HandlerReply RequestHandler::writeWord(const QString& successWord, const std::function<QString(Storage&)>& job)
{
    QString result;
    bool failed = false;
    const bool ran = context().database.write([&](Storage& storage) {
        result = job(storage);
        failed = storage.failed();
        if (failed)
            result = storage.lastError();
    });
    if (!ran || failed || result.isEmpty())
        return serverError(!ran ? QStringLiteral("not committed") : result.isEmpty() ? QStringLiteral("no change made") : result);
    if (result == successWord)
        context().changes.ref();
    return word(result);
}
