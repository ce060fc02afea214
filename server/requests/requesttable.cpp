#include "requesttable.h"

#include "accountrequests.h"
#include "bookrequests.h"
#include "cataloguerequests.h"
#include "circulationrequests.h"
#include "databasepool.h"
#include "inventoryrequests.h"
#include "loanrequests.h"
#include "noticerequests.h"
#include "serversettings.h"
#include "sessionstore.h"
#include "statisticsrequests.h"
#include "storage.h"

#include <array>

namespace {

struct Route {
    QLatin1String code;
    HandlerReply (*serve)(const Wire::DecodedRequest& request, Caller& caller);
};

template <class> struct HandlerOf;
template <class Handlers, class Request> struct HandlerOf<HandlerReply (Handlers::*)(const Request&)> {
    using Group = Handlers;
    using Query = Request;
};

// The route of one handler: its request type gives the code and the fields.
template <auto handle> constexpr Route route()
{
    using Handler = HandlerOf<decltype(handle)>;
    return {Handler::Query::code, [](const Wire::DecodedRequest& request, Caller& caller) {
                typename Handler::Group group(caller);
                return (group.*handle)(request.as<typename Handler::Query>());
            }};
}

constexpr std::array routes{
    route<&BookRequests::searchBooks>(),
    route<&BookRequests::addBook>(),
    route<&BookRequests::deleteBook>(),
    route<&BookRequests::editBook>(),
    route<&BookRequests::addCopies>(),
    route<&BookRequests::titleCopies>(),
    route<&CatalogueRequests::lookup>(),
    route<&AccountRequests::login>(),
    route<&AccountRequests::registerUser>(),
    route<&AccountRequests::updateUser>(),
    route<&AccountRequests::searchUsers>(),
    route<&AccountRequests::unconfirmedUsers>(),
    route<&AccountRequests::deleteUser>(),
    route<&AccountRequests::escalateUser>(),
    route<&AccountRequests::degradeUser>(),
    route<&LoanRequests::borrowedBooks>(),
    route<&LoanRequests::borrowBook>(),
    route<&LoanRequests::returnBook>(),
    route<&CirculationRequests::userLoans>(),
    route<&CirculationRequests::overdueLoans>(),
    route<&CirculationRequests::renewBook>(),
    route<&CirculationRequests::placeHold>(),
    route<&CirculationRequests::cancelHold>(),
    route<&CirculationRequests::userHolds>(),
    route<&CirculationRequests::checkinBook>(),
    route<&CirculationRequests::auditLog>(),
    route<&AccountRequests::logout>(),
    route<&AccountRequests::userDetails>(),
    route<&AccountRequests::registrationState>(),
    route<&AccountRequests::deleteUnconfirmed>(),
    route<&AccountRequests::editUser>(),
    route<&AccountRequests::resetPassword>(),
    route<&NoticeRequests::notices>(),
    route<&NoticeRequests::resendNotice>(),
    route<&NoticeRequests::markLettersPrinted>(),
    route<&NoticeRequests::noticePreference>(),
    route<&StatisticsRequests::statistics>(),
    route<&InventoryRequests::start>(),
    route<&InventoryRequests::scan>(),
    route<&InventoryRequests::report>(),
    route<&InventoryRequests::list>(),
    route<&InventoryRequests::markLost>(),
    route<&InventoryRequests::markFound>(),
};

constexpr bool sameCode(QLatin1String a, QLatin1String b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.data()[i] != b.data()[i])
            return false;
    }
    return true;
}

constexpr int routesOf(QLatin1String code)
{
    int found = 0;
    for (const Route& r : routes)
        found += sameCode(r.code, code) ? 1 : 0;
    return found;
}

template <class... Requests> constexpr bool routedOnce(Wire::RequestList<Requests...>)
{
    return sizeof...(Requests) == routes.size() && ((routesOf(Requests::code) == 1) && ...);
}
static_assert(routedOnce(Wire::Requests{}), "every request in Wire::Requests has exactly one route, and no other");

// Whether the caller's account still has the password the server generated, which was shown on the
// console: it serves for nothing but setting a new one. Read afresh, as levels are, until the
// session has seen a chosen one; nullopt when the account could not be read (or is gone).
std::optional<bool> mustChangePassword(const Caller& caller)
{
    std::optional<bool> must;
    caller.context.database.read([&](Storage& storage) {
        const std::optional<AccountRow> account = storage.account(caller.account);
        if (account && !storage.failed())
            must = account->mustChangePassword;
    });
    return must;
}

// Finds the session a request is authorised by. A token that is unknown, expired or revoked refuses
// the request before any handler runs; without a token, the address's latest login counts (unless
// the library has turned address sessions off). The login's extra field asks for a token and the
// logout ends its own session, so neither is looked up here.
std::optional<HandlerReply> authorise(const QString& code, Caller& caller)
{
    if (code == Query::UserLogin || code == Query::UserLogout)
        return std::nullopt;
    SessionStore& sessions = caller.context.sessions;
    std::optional<Session> session;
    if (caller.token && caller.token->isEmpty()) {
        // Our client with nobody logged in: no session, and not the address's either.
    } else if (caller.token) {
        session = sessions.byToken(*caller.token);
        if (!session)
            return HandlerReply{{Reply::word(Refusal::SessionExpired)},
                                Wire::word(Refusal::SessionExpired)
                                    + QStringLiteral(" (unknown, expired or ended token)")};
    } else if (caller.context.settings.addressSessions) {
        session = sessions.byAddress(caller.peer);
    }
    if (session) {
        caller.account = session->account;
        caller.sessionKey = session->key;
        caller.loginAtMs = session->loginAtMs;
        if (code != Query::UserInfoUpdate && !sessions.knownChosenPassword(*session)) {
            const std::optional<bool> must = mustChangePassword(caller);
            if (must.value_or(false))
                return HandlerReply{{Reply::word(Refusal::PasswordChangeRequired)},
                                    Wire::word(Refusal::PasswordChangeRequired) + QStringLiteral(" (") + caller.account
                                        + QStringLiteral(" still has its generated password)")};
            if (must)
                sessions.noteChosenPassword(*session);
        }
    }
    return std::nullopt;
}

} // namespace

namespace RequestTable {

std::optional<HandlerReply> serve(const Wire::DecodedRequest& request, Caller& caller)
{
    for (const Route& route : routes) {
        if (request.code != route.code)
            continue;
        if (std::optional<HandlerReply> refusal = authorise(request.code, caller))
            return refusal;
        return route.serve(request, caller);
    }
    return std::nullopt;
}

} // namespace RequestTable
