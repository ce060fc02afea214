#pragma once

#include "messages.h"

#include <optional>

// What a registration must look like before the server spends a password hash on it.
namespace RegistrationRules {

constexpr int MaxIdLength = 32;
constexpr int MinPasswordLength = 6;
constexpr int MaxPasswordLength = 128;
constexpr int MaxNameLength = 64;
constexpr int MaxShortFieldLength = 32; // student number, phone
constexpr int MaxEmailLength = 128;
constexpr int MaxInfoLength = 500;

// Why the registration is refused, for the log; nullopt when it may go on.
std::optional<QString> refusal(const UserRegisterQuery& query);

} // namespace RegistrationRules
