#include "vocabulary.h"

namespace Wire {
namespace {

template <class Enum, std::size_t Count>
std::optional<Enum> named(const std::array<QLatin1String, Count>& spellings, QStringView word)
{
    for (std::size_t i = 0; i < Count; ++i) {
        if (word == spellings[i])
            return Enum(i);
    }
    return std::nullopt;
}

} // namespace

std::optional<Refusal> refusalNamed(QStringView word)
{
    return named<Refusal>(refusalSpellings, word);
}

std::optional<AuditAction> auditActionNamed(QStringView word)
{
    return named<AuditAction>(auditActionSpellings, word);
}

} // namespace Wire
