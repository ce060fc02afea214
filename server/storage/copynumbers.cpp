#include "copynumbers.h"

namespace CopyNumbers {

QStringList from(const QString& first, int count)
{
    QStringList numbers;
    if (count <= 0)
        return numbers;
    numbers.append(first);
    qsizetype digitsAt = first.size();
    while (digitsAt > 0 && first.at(digitsAt - 1).isDigit() && first.at(digitsAt - 1).unicode() < 128)
        --digitsAt;
    const QString stem = first.left(digitsAt);
    const QString digits = first.mid(digitsAt);
    // Eighteen digits still fit in a 64-bit count; a longer tail counts its last eighteen.
    const qsizetype counted = std::min<qsizetype>(digits.size(), 18);
    const QString fixed = stem + digits.left(digits.size() - counted);
    const qulonglong start = digits.right(counted).toULongLong();
    for (int i = 1; i < count; ++i) {
        if (digits.isEmpty())
            numbers.append(first + QStringLiteral("-%1").arg(i));
        else
            numbers.append(fixed + QStringLiteral("%1").arg(start + qulonglong(i), int(counted), 10, QLatin1Char('0')));
    }
    return numbers;
}

} // namespace CopyNumbers
