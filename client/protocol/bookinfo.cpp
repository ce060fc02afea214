#include "bookinfo.h"

BookInfo::BookInfo(const QString& name, const QString& author, const QString& type, const QString& press,
                   const QString& year, const QString& number, const QString& state, const QString& permission)
    : name(name)
    , author(author)
    , type(type)
    , press(press)
    , year(year)
    , number(number)
    , state(state)
    , permission(permission)
{
}

BookInfo BookInfo::fromFields(const QStringList& f)
{
    return {f.value(0), f.value(1), f.value(2), f.value(3), f.value(4), f.value(5), f.value(6), f.value(7)};
}

QStringList BookInfo::fields() const
{
    return {name, author, type, press, year, number, state, permission};
}
