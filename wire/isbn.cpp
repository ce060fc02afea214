#include "isbn.h"

namespace {

// The digits of the text (X kept as 'X'), or an empty string when something else than digits,
// hyphens and spaces is in it.
QString digitsOf(const QString& text)
{
    QString digits;
    for (const QChar c : text.trimmed()) {
        if (c == QLatin1Char('-') || c.isSpace())
            continue;
        // Full-width digits from a Chinese input method count as digits too.
        if (const int value = c.digitValue(); value >= 0 && value <= 9)
            digits += QChar(QLatin1Char('0' + value));
        else if (c == QLatin1Char('X') || c == QLatin1Char('x'))
            digits += QLatin1Char('X');
        else
            return QString();
    }
    return digits;
}

bool shaped(const QString& digits)
{
    const qsizetype x = digits.indexOf(QLatin1Char('X'));
    if (digits.size() == 13)
        return x < 0 && (digits.startsWith(QLatin1String("978")) || digits.startsWith(QLatin1String("979")));
    return digits.size() == 10 && (x < 0 || x == 9);
}

int isbn13Check(const QString& first12)
{
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += first12.at(i).digitValue() * (i % 2 == 0 ? 1 : 3);
    return (10 - sum % 10) % 10;
}

} // namespace

namespace Isbn {

bool hasShape(const QString& text)
{
    return shaped(digitsOf(text));
}

std::optional<QString> normalised(const QString& text)
{
    const QString digits = digitsOf(text);
    if (!shaped(digits))
        return std::nullopt;
    if (digits.size() == 10) {
        int sum = 0;
        for (int i = 0; i < 10; ++i)
            sum += (digits.at(i) == QLatin1Char('X') ? 10 : digits.at(i).digitValue()) * (10 - i);
        if (sum % 11 != 0)
            return std::nullopt;
        const QString first12 = QStringLiteral("978") + digits.left(9);
        return first12 + QChar(QLatin1Char('0' + isbn13Check(first12)));
    }
    if (isbn13Check(digits) != digits.at(12).digitValue())
        return std::nullopt;
    return digits;
}

} // namespace Isbn
