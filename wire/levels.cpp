#include "levels.h"

#include <array>

namespace Levels {
namespace {

struct Level {
    const char* english;
    const char* chinese; // nullptr: the level has no Chinese name
};

// Source literals are UTF-8, which is what QString::fromUtf8 expects.
constexpr std::array<Level, 6> table{{
    {"Guest", nullptr},
    {"Undergraduate", "本科生"},
    {"Postgraduate", "研究生"},
    {"VIP", "VIP"},
    {"Administrator", "管理员"},
    {"Super Admin", "超级管理员"},
}};

const QString guestName = QStringLiteral("Guest");

} // namespace

int code(const QString& englishName)
{
    for (int i = 0; i < int(table.size()); ++i) {
        if (englishName == QLatin1String(table[i].english))
            return i;
    }
    return Unknown;
}

QString englishName(int levelCode)
{
    if (levelCode < Undergraduate || levelCode > SuperAdmin)
        return guestName;
    return QLatin1String(table[levelCode].english);
}

QString lowered(const QString& name)
{
    const int c = code(name);
    if (c == SuperAdmin)
        return name;
    return englishName(qMax(c - 1, Guest));
}

QString raised(const QString& name)
{
    int c = code(name);
    if (c <= Vip)
        ++c;
    return englishName(c);
}

QString toChinese(const QString& name)
{
    const int c = code(name);
    if (c < Undergraduate)
        return guestName;
    return QString::fromUtf8(table[c].chinese);
}

QString toEnglish(const QString& chineseName)
{
    for (int i = Undergraduate; i < int(table.size()); ++i) {
        if (chineseName == QString::fromUtf8(table[i].chinese))
            return QLatin1String(table[i].english);
    }
    return guestName;
}

} // namespace Levels
