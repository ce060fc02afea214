#pragma once

#include <QString>

// Permission levels. They travel and are stored as English names, are shown as Chinese names and are
// compared as codes 0..5. Any other name has the code -1, below every level.
namespace Levels {

constexpr int Unknown = -1;
constexpr int Guest = 0;
constexpr int Undergraduate = 1;
constexpr int Postgraduate = 2;
constexpr int Vip = 3;
constexpr int Administrator = 4;
constexpr int SuperAdmin = 5;

int code(const QString& englishName);
// "Guest" for 0 and for every code outside 1..5.
QString englishName(int code);
// One level lower; "Super Admin" is never lowered; the floor and any unknown name give "Guest".
QString lowered(const QString& englishName);
// One level higher, never reaching "Super Admin"; any unknown name gives "Guest".
QString raised(const QString& englishName);
// The shown name; "Guest" (in English) for Guest and for any unknown name.
QString toChinese(const QString& englishName);
// Back from the shown name; "Guest" for anything that is not a Chinese level name.
QString toEnglish(const QString& chineseName);

} // namespace Levels
