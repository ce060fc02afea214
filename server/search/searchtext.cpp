#include "searchtext.h"

#include "pinyintable.h"
#include "transliteratorpool.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>

#include <algorithm>

namespace {

struct Engines {
    const icu::Normalizer2* nfkcCasefold = nullptr;
    const icu::Normalizer2* nfd = nullptr;
    const icu::Normalizer2* nfc = nullptr;
    TransliteratorPool toSimplified{"Traditional-Simplified"};
    PinyinTable pinyin = PinyinTable::fromIcu();

    Engines()
    {
        UErrorCode status = U_ZERO_ERROR;
        nfkcCasefold = icu::Normalizer2::getNFKCCasefoldInstance(status);
        nfd = icu::Normalizer2::getNFDInstance(status);
        nfc = icu::Normalizer2::getNFCInstance(status);
        if (U_FAILURE(status))
            qFatal("ICU normalisation data missing: %s", u_errorName(status));
        if (pinyin.isEmpty())
            qWarning("ICU has no Han-Latin rules: pinyin search is off");
    }
};

// Built once, on first use; the Normalizer2 instances and the table are immutable afterwards.
Engines& engines()
{
    static Engines e;
    return e;
}

icu::UnicodeString toIcu(const QString& s)
{
    return icu::UnicodeString(reinterpret_cast<const UChar*>(s.utf16()), int32_t(s.size()));
}

QString fromIcu(const icu::UnicodeString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

bool isAscii(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// The combining marks that are accents on Latin, Greek and Cyrillic letters. Other scripts' marks
// (Indic vowel signs, the kana voicing marks) carry meaning and stay.
bool isAccent(UChar32 c)
{
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF)
        || (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F);
}

icu::UnicodeString withoutAccents(const icu::UnicodeString& text)
{
    UErrorCode status = U_ZERO_ERROR;
    const Engines& e = engines();
    const icu::UnicodeString decomposed = e.nfd->normalize(text, status);
    icu::UnicodeString kept;
    bool removed = false;
    for (int32_t i = 0; i < decomposed.length(); i = decomposed.moveIndex32(i, 1)) {
        const UChar32 c = decomposed.char32At(i);
        if (isAccent(c))
            removed = true;
        else
            kept.append(c);
    }
    return removed ? e.nfc->normalize(kept, status) : text;
}

// Pinyin is typed with "v" for ü, and ü is stored as u; stored and typed pinyin both go through this.
QChar pinyinLetter(QChar c)
{
    return c == QLatin1Char('v') ? QLatin1Char('u') : c;
}

QString collapseSpaces(const QString& text)
{
    QString out;
    out.reserve(text.size());
    bool space = false;
    for (QChar c : text) {
        if (c.isSpace()) {
            space = !out.isEmpty();
            continue;
        }
        if (space)
            out += QLatin1Char(' ');
        space = false;
        out += c;
    }
    return out;
}

} // namespace

void SearchText::warmUp()
{
    engines();
}

QString SearchText::fold(const QString& text)
{
    if (isAscii(text)) // most titles: compatibility and case folding come down to lower case
        return collapseSpaces(text.toLower());
    Engines& e = engines();
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString u = e.nfkcCasefold->normalize(toIcu(text), status);
    if (U_FAILURE(status))
        return collapseSpaces(text.toLower());
    if (e.toSimplified.sourceSet().span(u, 0, USET_SPAN_NOT_CONTAINED) < u.length())
        e.toSimplified.transliterate(u);
    return collapseSpaces(fromIcu(withoutAccents(u)));
}

SearchText::Pinyin SearchText::pinyin(const QString& folded)
{
    const PinyinTable& table = engines().pinyin;
    const std::u32string chars = folded.toStdU32String();
    Pinyin out;
    bool chinese = false;
    bool inWord = false; // inside a run of letters and digits that have no reading
    for (size_t i = 0; i < chars.size(); ++i) {
        char32_t next = i + 1 < chars.size() ? chars[i + 1] : 0;
        if (next == U' ' && i + 2 < chars.size())
            next = chars[i + 2];
        const QString syllable = table.reading(chars[i], next);
        if (!syllable.isEmpty()) {
            chinese = true;
            inWord = false;
            out.syllables += syllable;
            out.initials += syllable[0];
        } else if (u_isalnum(UChar32(chars[i]))) {
            QString c = QString::fromUcs4(&chars[i], 1);
            if (c.size() == 1)
                c[0] = pinyinLetter(c[0]);
            out.syllables += c;
            if (!inWord)
                out.initials += c;
            inWord = true;
        } else {
            inWord = false;
        }
    }
    return chinese ? out : Pinyin{};
}

QString SearchText::pinyinQuery(const QString& folded)
{
    QString out;
    for (QChar c : folded) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\''))
            continue;
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('0') && c <= QLatin1Char('9')))
            out += pinyinLetter(c);
        else
            return {};
    }
    for (QChar c : out) {
        if (c.isLetter())
            return out;
    }
    return {};
}

QString SearchText::bookNumberKey(const QString& number)
{
    QString key;
    for (QChar c : fold(number)) {
        if (!c.isSpace() && !u_hasBinaryProperty(c.unicode(), UCHAR_DASH))
            key += c;
    }
    return key;
}

bool SearchText::isChinese(const QString& text)
{
    const std::u32string chars = text.toStdU32String();
    return !chars.empty() && std::all_of(chars.begin(), chars.end(), [](char32_t c) {
        return u_hasBinaryProperty(UChar32(c), UCHAR_IDEOGRAPHIC);
    });
}

QString SearchText::grams(const QString& folded)
{
    const std::u32string chars = folded.toStdU32String();
    const auto chinese = [](char32_t c) { return u_hasBinaryProperty(UChar32(c), UCHAR_IDEOGRAPHIC); };
    QString singles, pairs;
    for (size_t i = 0; i < chars.size(); ++i) {
        if (!chinese(chars[i]))
            continue;
        singles += (singles.isEmpty() ? QString() : QStringLiteral(" ")) + QString::fromUcs4(&chars[i], 1);
        if (i + 1 < chars.size() && chinese(chars[i + 1]))
            pairs += QLatin1Char(' ') + QString::fromUcs4(&chars[i], 2);
    }
    return singles + pairs;
}
