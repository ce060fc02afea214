#include "registrationrules.h"

namespace {

bool hasControl(const QString& text, bool allowLineBreaks)
{
    for (const QChar c : text) {
        if (allowLineBreaks && (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t')))
            continue;
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            return true;
    }
    return false;
}

} // namespace

namespace RegistrationRules {

std::optional<QString> refusal(const UserRegisterQuery& q)
{
    const QString& id = q.userId;
    if (id.isEmpty() || id.size() > MaxIdLength)
        return QStringLiteral("user ID of %1 characters, not 1 to %2").arg(id.size()).arg(MaxIdLength);
    for (const QChar c : id) {
        if (!c.isPrint() || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            return QStringLiteral("user ID with a control or unprintable character");
    }
    if (id.front().isSpace() || id.back().isSpace())
        return QStringLiteral("user ID starts or ends with a space");
    if (q.password.size() < MinPasswordLength)
        return QStringLiteral("password shorter than %1 characters").arg(MinPasswordLength);
    if (q.password.size() > MaxPasswordLength)
        return QStringLiteral("password longer than %1 characters").arg(MaxPasswordLength);
    const struct {
        const QString& value;
        int max;
        const char* what;
        bool lineBreaks;
    } fields[] = {
        {q.name, MaxNameLength, "name", false},
        {q.studentNumber, MaxShortFieldLength, "student number", false},
        {q.phoneNumber, MaxShortFieldLength, "phone", false},
        {q.email, MaxEmailLength, "e-mail", false},
        {q.userInfo, MaxInfoLength, "notes", true},
    };
    for (const auto& field : fields) {
        if (field.value.size() > field.max)
            return QStringLiteral("%1 longer than %2 characters").arg(QLatin1String(field.what)).arg(field.max);
        if (hasControl(field.value, field.lineBreaks))
            return QStringLiteral("%1 with a control character").arg(QLatin1String(field.what));
    }
    return std::nullopt;
}

} // namespace RegistrationRules
