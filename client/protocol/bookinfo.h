#pragma once

#include "records.h"

// A book record: eight strings in the order of a search result frame and of the result list's columns.
class BookInfo : public BookRecord
{
public:
    BookInfo() = default;
    BookInfo(const BookRecord& record)
        : BookRecord(record)
    {
    }
    BookInfo(const QString& name, const QString& author, const QString& type, const QString& press, const QString& year,
             const QString& number, const QString& state, const QString& permission)
        : BookRecord{name, author, type, press, year, number, state, permission}
    {
    }

    static BookInfo fromFields(const QStringList& fields) { return BookRecord::from(fields); }
};
