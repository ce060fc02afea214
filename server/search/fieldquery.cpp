#include "fieldquery.h"

#include "searchtext.h"

FieldQuery FieldQuery::from(const QString& typed)
{
    FieldQuery q;
    if (typed.isEmpty()) // most searches fill one or two of the fields
        return q;
    q.folded = SearchText::fold(typed);
    q.pinyin = SearchText::pinyinQuery(q.folded);
    q.initials = q.pinyin.size() >= 2 && !q.folded.contains(QLatin1Char(' '));
    q.shortChinese = q.folded.size() <= 4 && q.folded.toStdU32String().size() <= 2 && SearchText::isChinese(q.folded);
    return q;
}

namespace {

bool isWordCharacter(const QString& text, qsizetype at)
{
    return at >= 0 && at < text.size() && text.at(at).isLetterOrNumber();
}

bool containsWholeWords(const QString& field, const QString& text)
{
    for (qsizetype at = field.indexOf(text); at >= 0; at = field.indexOf(text, at + 1)) {
        if (!isWordCharacter(field, at - 1) && !isWordCharacter(field, at + text.size()))
            return true;
    }
    return false;
}

} // namespace

FieldQuery::Tier FieldQuery::tier(const QString& storedFolded, const QString& storedPinyin,
                                  const QString& storedInitials) const
{
    const bool byPinyin = !pinyin.isEmpty() && !storedPinyin.isEmpty();
    const bool byInitials = initials && !storedInitials.isEmpty();
    if (storedFolded == folded || (byPinyin && storedPinyin == pinyin) || (byInitials && storedInitials == pinyin))
        return Exact;
    if (storedFolded.startsWith(folded) || (byPinyin && storedPinyin.startsWith(pinyin))
        || (byInitials && storedInitials.startsWith(pinyin)))
        return Beginning;
    if (containsWholeWords(storedFolded, folded))
        return WholeWords;
    return Inside;
}
