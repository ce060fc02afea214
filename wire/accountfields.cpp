#include "accountfields.h"

#include <QRegularExpression>

namespace AccountFields {
namespace {

bool isControl(char32_t c, bool allowLineBreaks)
{
    if (allowLineBreaks && (c == U'\n' || c == U'\r' || c == U'\t'))
        return false;
    const QChar::Category category = QChar::category(c);
    return category == QChar::Other_Control || category == QChar::Other_Format || category == QChar::Other_Surrogate
        || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

bool hasControl(const QString& text, bool allowLineBreaks)
{
    for (const char32_t c : text.toUcs4()) {
        if (isControl(c, allowLineBreaks))
            return true;
    }
    return false;
}

QString fieldName(Field field)
{
    switch (field) {
    case Field::Id:
        return QStringLiteral("user ID");
    case Field::Password:
        return QStringLiteral("password");
    case Field::Name:
        return QStringLiteral("name");
    case Field::StudentNumber:
        return QStringLiteral("student number");
    case Field::Phone:
        return QStringLiteral("phone");
    case Field::Email:
        return QStringLiteral("e-mail");
    case Field::Notes:
        return QStringLiteral("notes");
    }
    return QString();
}

} // namespace

int characterCount(const QString& text)
{
    int count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!(text.at(i).isLowSurrogate() && i > 0 && text.at(i - 1).isHighSurrogate()))
            ++count;
    }
    return count;
}

int maxLength(Field field)
{
    switch (field) {
    case Field::Id:
        return MaxIdLength;
    case Field::Password:
        return MaxPasswordLength;
    case Field::Name:
        return MaxNameLength;
    case Field::StudentNumber:
    case Field::Phone:
        return MaxShortFieldLength;
    case Field::Email:
        return MaxEmailLength;
    case Field::Notes:
        return MaxInfoLength;
    }
    return 0;
}

std::optional<Problem> problemOf(Field field, const QString& value)
{
    const bool required = field == Field::Id || field == Field::Password;
    if (value.isEmpty())
        return required ? std::optional<Problem>(Problem::Empty) : std::nullopt;
    const int length = characterCount(value);
    if (field == Field::Password && length < MinPasswordLength)
        return Problem::TooShort;
    if (length > maxLength(field))
        return Problem::TooLong;
    // A password may hold any character but a control one; other fields are shown and exported.
    if (hasControl(value, field == Field::Notes))
        return Problem::ControlCharacter;
    if (field == Field::Id && (value.front().isSpace() || value.back().isSpace()))
        return Problem::SpaceAtEnd;
    if (field == Field::Email) {
        static const QRegularExpression plausible(QStringLiteral("^[^@\\s]+@[^@\\s.]+(\\.[^@\\s.]+)+$"));
        if (!plausible.match(value).hasMatch())
            return Problem::NotAnEmail;
    }
    return std::nullopt;
}

std::optional<Finding> registrationProblem(const QString& id, const QString& password, const QString& name,
                                           const QString& studentNumber, const QString& phone, const QString& email,
                                           const QString& notes)
{
    const std::pair<Field, const QString&> fields[] = {
        {Field::Id, id},       {Field::Password, password},
        {Field::Name, name},   {Field::StudentNumber, studentNumber},
        {Field::Phone, phone}, {Field::Email, email},
        {Field::Notes, notes},
    };
    for (const auto& [field, value] : fields) {
        if (const std::optional<Problem> problem = problemOf(field, value))
            return Finding{field, *problem};
    }
    return std::nullopt;
}

std::optional<Finding> detailsProblem(const QString& name, const QString& phone, const QString& email,
                                      const QString& notes, const QString& newPassword)
{
    const std::pair<Field, const QString&> fields[] = {
        {Field::Name, name}, {Field::Phone, phone}, {Field::Email, email}, {Field::Notes, notes}};
    for (const auto& [field, value] : fields) {
        if (const std::optional<Problem> problem = problemOf(field, value))
            return Finding{field, *problem};
    }
    if (!newPassword.isEmpty()) {
        if (const std::optional<Problem> problem = problemOf(Field::Password, newPassword))
            return Finding{Field::Password, *problem};
    }
    return std::nullopt;
}

QString describe(const Finding& finding)
{
    const QString field = fieldName(finding.field);
    switch (finding.problem) {
    case Problem::Empty:
        return field + QStringLiteral(" empty");
    case Problem::TooShort:
        return field + QStringLiteral(" shorter than %1 characters").arg(MinPasswordLength);
    case Problem::TooLong:
        return field + QStringLiteral(" longer than %1 characters").arg(maxLength(finding.field));
    case Problem::ControlCharacter:
        return field + QStringLiteral(" with a control or unprintable character");
    case Problem::SpaceAtEnd:
        return field + QStringLiteral(" starts or ends with a space");
    case Problem::NotAnEmail:
        return field + QStringLiteral(" not of the form name@host.domain");
    }
    return field;
}

QString csvSafe(const QString& value)
{
    static const QRegularExpression formula(QStringLiteral("^[\\t\\r]*[=+\\-@\\t\\r]"));
    // A telephone number ("+86 10 1234 5678", "-") is no formula and keeps its look.
    static const QRegularExpression phoneLike(QStringLiteral("^[-+0-9 ().]*$"));
    if (!formula.match(value).hasMatch() || phoneLike.match(value).hasMatch())
        return value;
    return QLatin1Char('\'') + value;
}

} // namespace AccountFields
