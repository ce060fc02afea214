#pragma once

#include "messages.h"

#include <optional>

// What a registration must look like before the server spends a password hash on it: the account
// field rule (wire/accountfields.h) that the client's form checks apply too.
namespace RegistrationRules {

// Why the registration is refused, for the log; nullopt when it may go on.
std::optional<QString> refusal(const UserRegisterQuery& query);

} // namespace RegistrationRules
