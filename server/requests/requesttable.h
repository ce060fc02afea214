#pragma once

#include "messages.h"
#include "requestcontext.h"

// The one table from query code to handler. A request comes in decoded; the table authorises it
// (finds the session it comes with), builds its typed struct and runs the handler of its code.
namespace RequestTable {

// The handler's reply, or nullopt for a code that no handler serves.
std::optional<HandlerReply> serve(const Wire::DecodedRequest& request, Caller& caller);

} // namespace RequestTable
