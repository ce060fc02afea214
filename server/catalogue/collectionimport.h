#pragma once

#include "marcrecord.h"
#include "storage.h"

#include <QByteArray>
#include <QStringList>

// `server --import FILE`: a catalogue in CSV or MARC (ISO 2709 or MARCXML, MARC 21 or UNIMARC, told
// apart by the content) loaded in one transaction beside a running server.
class CollectionImport
{
public:
    struct Options {
        bool dryRun = false; // report, change nothing
        bool update = false; // a copy whose number exists takes the file's fields
        QString numberPrefix; // numbers for records without holdings: PREFIX1, PREFIX2, ...
    };
    struct Report {
        int read = 0, added = 0, skipped = 0, updated = 0;
        QStringList refused; // "record N: why" or "line N: why"
        QString failure; // the database failed: nothing was changed
        QString format; // "CSV", "ISO 2709", "MARCXML"
        QString text() const;
    };

    // What the file holds, by its content.
    enum class Format { Csv, Iso2709, MarcXml };
    static Format formatOf(const QByteArray& contents);

    static Report run(Storage& storage, const QByteArray& contents, const Options& options);

    // One title of the file: its copies (the fields of the title in each) and the record it came in.
    struct Title {
        QString source; // "record 3", "line 7"
        QList<BookRow> copies; // numbers empty: to be numbered from the prefix
        std::optional<MarcRecord> record;
        MarcRecord::Syntax syntax = MarcRecord::Syntax::Marc21;
    };
    // The titles of a MARC file, with the records that could not be taken.
    static QList<Title> marcTitles(const QByteArray& contents, Format format, Report& report);
    // The title of one record, or why it cannot be taken.
    static std::optional<Title> titleOf(const MarcRecord& record, const QString& source, QString* why);
};
