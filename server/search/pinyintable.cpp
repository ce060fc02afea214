#include "pinyintable.h"

#include <unicode/translit.h>
#include <unicode/uniset.h>

#include <QRegularExpression>

#include <memory>

namespace {

// "zhōng" -> "zhong", "lǜ" -> "lu": decompose, drop the tone and diaeresis marks.
QString toneless(const QString& reading)
{
    QString out;
    for (QChar c : reading.normalized(QString::NormalizationForm_D)) {
        if (c.unicode() < 0x0300 || c.unicode() > 0x036F)
            out += c.toLower();
    }
    return out;
}

icu::UnicodeString toIcu(const QString& s)
{
    return icu::UnicodeString(reinterpret_cast<const UChar*>(s.utf16()), int32_t(s.size()));
}

} // namespace

PinyinTable PinyinTable::fromIcu()
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> hanLatin(
        icu::Transliterator::createInstance(icu::UnicodeString("Han-Latin", -1, US_INV), UTRANS_FORWARD, status));
    if (U_FAILURE(status) || !hanLatin)
        return {};
    icu::UnicodeString rules;
    hanLatin->toRules(rules, false);
    return fromRules(QString(reinterpret_cast<const QChar*>(rules.getBuffer()), rules.length()));
}

PinyinTable PinyinTable::fromRules(const QString& rules)
{
    static const QRegularExpression setRule(QStringLiteral("^(\\[.*\\]|\\S) > ([^;\\s]+);$"));
    static const QRegularExpression contextRule(QStringLiteral("^\\{(\\S)\\}' '\\?(\\S) > ([^;\\s]+);$"));
    PinyinTable table;
    for (const QString& line : rules.split(QLatin1Char('\n'))) {
        const QString rule = line.trimmed();
        if (const QRegularExpressionMatch m = contextRule.match(rule); m.hasMatch()) {
            const QList<uint> c = m.captured(1).toUcs4(), next = m.captured(2).toUcs4();
            table.m_inContext.insert(quint64(c[0]) << 32 | next[0], table.syllable(m.captured(3)));
            continue;
        }
        const QRegularExpressionMatch m = setRule.match(rule);
        if (!m.hasMatch())
            continue; // "::Han-Spacedhan();" and the like
        UErrorCode status = U_ZERO_ERROR;
        const icu::UnicodeSet set(toIcu(m.captured(1)), status);
        if (U_FAILURE(status))
            continue;
        const int index = table.syllable(m.captured(2));
        for (int32_t r = 0; r < set.getRangeCount(); ++r) {
            for (UChar32 c = set.getRangeStart(r); c <= set.getRangeEnd(r); ++c)
                table.m_readings.insert(char32_t(c), index);
        }
    }
    return table;
}

int PinyinTable::syllable(const QString& reading)
{
    const QString plain = toneless(reading);
    const qsizetype at = m_syllables.indexOf(plain);
    if (at >= 0)
        return int(at);
    m_syllables.append(plain);
    return int(m_syllables.size() - 1);
}

QString PinyinTable::reading(char32_t c, char32_t next) const
{
    if (!m_inContext.isEmpty()) {
        const auto it = m_inContext.constFind(quint64(c) << 32 | next);
        if (it != m_inContext.cend())
            return m_syllables[*it];
    }
    const auto it = m_readings.constFind(c);
    return it == m_readings.cend() ? QString() : m_syllables[*it];
}
