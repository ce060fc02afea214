#pragma once

#include <QString>
#include <QStringList>

// A book record: eight strings in the order of a search result frame and of the result list's columns.
class BookInfo
{
public:
    BookInfo() = default;
    BookInfo(const QString& name, const QString& author, const QString& type, const QString& press,
             const QString& year, const QString& number, const QString& state, const QString& permission);

    static BookInfo fromFields(const QStringList& fields);
    QStringList fields() const;

    QString name;
    QString author;
    QString type;
    QString press;
    QString year;
    QString number;
    QString state;
    QString permission;
};
