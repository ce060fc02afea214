#include "registrationrules.h"

#include "accountfields.h"

namespace RegistrationRules {

std::optional<QString> refusal(const UserRegisterQuery& q)
{
    const std::optional<AccountFields::Finding> finding = AccountFields::registrationProblem(
        q.userId, q.password, q.name, q.studentNumber, q.phoneNumber, q.email, q.userInfo);
    if (!finding)
        return std::nullopt;
    return AccountFields::describe(*finding);
}

} // namespace RegistrationRules
