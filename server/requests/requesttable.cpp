#include "requesttable.h"

#include "accountrequests.h"
#include "bookrequests.h"
#include "circulationrequests.h"
#include "loanrequests.h"

#include <array>

namespace {

struct Route {
    QLatin1String code;
    HandlerReply (*serve)(const Wire::DecodedRequest& request, Caller& caller);
};

template <class>
struct HandlerOf;
template <class Handlers, class Request>
struct HandlerOf<HandlerReply (Handlers::*)(const Request&)> {
    using Group = Handlers;
    using Query = Request;
};

// The route of one handler: its request type gives the code and the fields.
template <auto handle>
constexpr Route route()
{
    using Handler = HandlerOf<decltype(handle)>;
    return {Handler::Query::code, [](const Wire::DecodedRequest& request, Caller& caller) {
                typename Handler::Group group(caller);
                return (group.*handle)(request.as<typename Handler::Query>());
            }};
}

constexpr std::array routes{
    route<&BookRequests::searchBooks>(),      route<&BookRequests::addBook>(),
    route<&BookRequests::deleteBook>(),       route<&AccountRequests::login>(),
    route<&AccountRequests::registerUser>(),  route<&AccountRequests::updateUser>(),
    route<&AccountRequests::searchUsers>(),   route<&AccountRequests::unconfirmedUsers>(),
    route<&AccountRequests::deleteUser>(),    route<&AccountRequests::escalateUser>(),
    route<&AccountRequests::degradeUser>(),   route<&LoanRequests::borrowedBooks>(),
    route<&LoanRequests::borrowBook>(),       route<&LoanRequests::returnBook>(),
    route<&CirculationRequests::userLoans>(), route<&CirculationRequests::overdueLoans>(),
    route<&CirculationRequests::renewBook>(), route<&CirculationRequests::placeHold>(),
    route<&CirculationRequests::cancelHold>(), route<&CirculationRequests::userHolds>(),
    route<&CirculationRequests::checkinBook>(), route<&CirculationRequests::auditLog>(),
};

} // namespace

namespace RequestTable {

std::optional<HandlerReply> serve(const Wire::DecodedRequest& request, Caller& caller)
{
    for (const Route& route : routes) {
        if (request.code == route.code)
            return route.serve(request, caller);
    }
    return std::nullopt;
}

} // namespace RequestTable
