#include "callnumber.h"

#include <QRegularExpression>

QString CallNumber::of(const QString& bookNumber, const QString& type)
{
    static const QRegularExpression copySuffix(QStringLiteral("^(.*\\S)-\\d+$"));
    // The last group of a hyphenated ISBN is its check digit, not a copy.
    static const QRegularExpression isbn(QStringLiteral("^97[89](-?\\d){10}$|^\\d{1,5}-\\d+-\\d+-[\\dXx]$"));
    const QRegularExpressionMatch m = copySuffix.match(bookNumber.trimmed());
    if (m.hasMatch() && !isbn.match(bookNumber.trimmed()).hasMatch())
        return m.captured(1);
    if (!type.trimmed().isEmpty())
        return type.trimmed();
    return bookNumber.trimmed();
}

QStringList CallNumber::lines(const QString& callNumber)
{
    QStringList out;
    for (const QString& part : callNumber.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        // "I242.4" reads as class I, then 242.4: break between the class letters and the digits.
        static const QRegularExpression classThenDigits(QStringLiteral("^([A-Za-z]+)(\\d.*)$"));
        const QRegularExpressionMatch m = classThenDigits.match(part.trimmed());
        if (m.hasMatch() && m.captured(2).size() > 4)
            out << m.captured(1) << m.captured(2);
        else
            out << part.trimmed();
    }
    if (out.isEmpty())
        out << callNumber;
    return out;
}
