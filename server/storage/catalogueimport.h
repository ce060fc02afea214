#pragma once

#include "storage.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

// Reads a catalogue in CSV form: UTF-8, a header row naming the columns title, author, type,
// publisher, year, number and permission (in any order, any case), and optionally isbn and copies,
// then one title per record: `copies` copies (default 1) numbered from `number` up (CopyNumbers). Fields
// may be quoted ("..." with "" for a quote inside) and then hold commas and line breaks. A bad record
// is reported with the line it starts on and skipped; the rest is kept.
class CatalogueCsv
{
public:
    struct Result {
        QList<BookRow> books;
        QStringList problems; // "line N: why"
        int records = 0; // records read after the header
    };

    static Result parse(const QByteArray& utf8);

    // The stored name of a permission as written in a catalogue: an English or Chinese level name;
    // empty means the lowest borrowing level. nullopt for anything else.
    static std::optional<QString> permissionName(const QString& text);
};

// Imports a parsed catalogue in one transaction, skipping (and reporting) book numbers that exist.
// Returns the number of books added.
int importCatalogue(Storage& storage, const CatalogueCsv::Result& parsed, QStringList* problems);
