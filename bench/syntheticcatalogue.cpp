#include "syntheticcatalogue.h"

#include "levels.h"

#include <array>
#include <limits>

namespace {

// splitmix64: cheap, well mixed, and the same on every machine.
quint64 mix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

template <class List> const char* pick(const List& list, quint64 h)
{
    return list[h % list.size()];
}

const std::array<const char*, 24> topics{
    "Principles of", "Introduction to", "A History of", "Advanced",    "Essays on",    "Notes on",
    "The Art of",    "Foundations of",  "Studies in",   "Handbook of", "Letters from", "Voyage to",
    "数据结构",      "线性代数",        "中国近代史",   "有机化学",    "计算机网络",   "古典诗词",
    "微观经济学",    "量子力学",        "世界文学",     "操作系统",    "统计学",       "城市与乡村"};
const std::array<const char*, 16> firstNames{"Alice",  "Wei",  "Hiroshi", "Maria", "John", "Li",   "Olga",   "Pierre",
                                             "Fatima", "Chen", "Sofia",   "David", "Ming", "Anna", "Carlos", "Yuki"};
const std::array<const char*, 16> lastNames{"Smith", "王", "Tanaka", "Garcia", "Brown", "张",    "Ivanova", "Dubois",
                                            "Khan",  "刘", "Rossi",  "Miller", "陈",    "Novak", "Silva",   "Sato"};
const std::array<const char*, 12> types{"Fiction",     "Computer Science",
                                        "Mathematics", "History",
                                        "Physics",     "Economics",
                                        "计算机",      "文学",
                                        "数学",        "历史",
                                        "哲学",        "物理"};
const std::array<const char*, 10> publishers{"Penguin Classics",         "MIT Press", "Farrar, Straus and Giroux",
                                             "Oxford University Press",  "Springer",  "高等教育出版社",
                                             "人民文学出版社",           "中华书局",  "清华大学出版社",
                                             "Little, Brown and Company"};
// Mostly open shelves, a few restricted copies: the shape of a real collection.
const std::array<int, 16> permissionCodes{0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 2, 3, 4, 5};

} // namespace

SyntheticCatalogue::SyntheticCatalogue(qint64 size)
    : m_size(qMax<qint64>(1, size))
{
}

QStringList SyntheticCatalogue::csvHeader()
{
    return {"title", "author", "type", "publisher", "year", "number", "permission"};
}

QStringList SyntheticCatalogue::csvRow(qint64 index) const
{
    const quint64 h = mix(quint64(index));
    const quint64 h2 = mix(h);
    const QString title = QString::fromUtf8(pick(topics, h)) + u' ' + word(qint64(h2 % quint64(vocabularySize())));
    const QString author =
        QString::fromUtf8(pick(firstNames, h >> 8)) + u' ' + QString::fromUtf8(pick(lastNames, h >> 16));
    return {title,
            author,
            QString::fromUtf8(pick(types, h >> 24)),
            QString::fromUtf8(pick(publishers, h >> 32)),
            QString::number(1950 + int((h >> 40) % 75)),
            number(index),
            Levels::englishName(permissionCodes[(h >> 48) % permissionCodes.size()])};
}

QStringList SyntheticCatalogue::bookRecord(qint64 index) const
{
    QStringList row = csvRow(index);
    row.insert(6, QStringLiteral("空闲"));
    return row;
}

QString SyntheticCatalogue::number(qint64 index)
{
    return QStringLiteral("SB%1").arg(index, 8, 10, QLatin1Char('0'));
}

QString SyntheticCatalogue::searchWord(qint64 k) const
{
    return word(qint64(mix(quint64(k) ^ 0x5EA4C4ULL) % quint64(vocabularySize())));
}

qint64 SyntheticCatalogue::vocabularySize() const
{
    return qMax<qint64>(1, m_size / titlesPerWord);
}

// Four consonant-vowel syllables (24 million words) after a "q" that no syllable and no topic uses,
// all of one length, so a word is a substring of no other title: "qkalomizu".
QString SyntheticCatalogue::word(qint64 k)
{
    static const char consonants[] = "bdfgklmnprstvz";
    static const char vowels[] = "aeiou";
    // Multiplying by a number prime to 70^4 permutes the words, so the last syllables vary as much
    // as the first even in a small vocabulary: no trigram is common to most titles.
    constexpr quint64 wordCount = 70ULL * 70 * 70 * 70;
    QString text(QStringLiteral("q"));
    quint64 rest = (quint64(k) % wordCount) * 1000003ULL % wordCount;
    for (int syllable = 0; syllable < 4; ++syllable) {
        text += QLatin1Char(consonants[rest % 14]);
        rest /= 14;
        text += QLatin1Char(vowels[rest % 5]);
        rest /= 5;
    }
    return text;
}

QByteArray SyntheticCatalogue::csvLine(const QStringList& values)
{
    QByteArray line;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            line += ',';
        QByteArray field = values[i].toUtf8();
        if (field.contains(',') || field.contains('"') || field.contains('\n') || field.contains('\r')) {
            field.replace("\"", "\"\"");
            field = '"' + field + '"';
        }
        line += field;
    }
    line += '\n';
    return line;
}

qint64 SyntheticCatalogue::parseSize(const QString& text)
{
    QString digits = text.trimmed();
    qint64 unit = 1;
    if (digits.endsWith(u'k', Qt::CaseInsensitive))
        unit = 1000;
    else if (digits.endsWith(u'm', Qt::CaseInsensitive))
        unit = 1000 * 1000;
    if (unit > 1)
        digits.chop(1);
    bool ok = false;
    const qint64 count = digits.toLongLong(&ok);
    if (!ok || count < 1 || count > std::numeric_limits<qint64>::max() / unit)
        return -1;
    return count * unit;
}
