#include "collectionexport.h"

#include "marcrecord.h"
#include "marctitle.h"

#include <QFileInfo>

namespace CollectionExport {

std::optional<Format> formatFor(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return Format::Csv;
    if (suffix == QLatin1String("xml"))
        return Format::MarcXml;
    if (suffix == QLatin1String("mrc"))
        return Format::Iso2709;
    return std::nullopt;
}

QString csvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

namespace {

// The copies of one title as the export walks them.
struct TitleGroup {
    QList<BookRow> copies;
    bool sameTitle(const BookRow& b) const
    {
        const BookRow& a = copies.first();
        if (a.recordId > 0 || b.recordId > 0)
            return a.recordId == b.recordId;
        if (!a.isbn.isEmpty() || !b.isbn.isEmpty())
            return a.isbn == b.isbn && a.title == b.title;
        return false; // a copy without record or ISBN is a title of its own
    }
};

MarcRecord recordFor(Storage& storage, const TitleGroup& group)
{
    const BookRow& first = group.copies.first();
    MarcRecord record;
    MarcRecord::Syntax syntax = MarcRecord::Syntax::Marc21;
    bool kept = false;
    if (first.recordId > 0) {
        if (const std::optional<Storage::KeptRecord> stored = storage.record(first.recordId)) {
            QString error;
            if (std::optional<MarcRecord> parsed = MarcRecord::fromIso2709(stored->iso2709, &error)) {
                record = *parsed;
                syntax = stored->syntax == QLatin1String("unimarc") ? MarcRecord::Syntax::Unimarc
                                                                    : MarcRecord::Syntax::Marc21;
                kept = true;
            }
        }
    }
    if (!kept) {
        MarcTitle fields;
        fields.title = first.title;
        fields.author = first.author;
        fields.type = first.type;
        fields.publisher = first.publisher;
        fields.year = first.year;
        record = MarcTitle::recordOf(fields, first.isbn);
    }
    record.removeFields(MarcTitle::holdingsTags(syntax));
    for (const BookRow& copy : group.copies)
        record.fields.append(MarcTitle::holdingsField(syntax, {copy.number, copy.permission}));
    return record;
}

} // namespace

bool write(Storage& storage, Format format, QIODevice& out, int* copies, int* titles, QString* error)
{
    *copies = 0;
    *titles = 0;
    bool written = true;
    const auto put = [&](const QByteArray& bytes) {
        if (written && out.write(bytes) != bytes.size()) {
            written = false;
            *error = out.errorString();
        }
    };
    if (format == Format::Csv) {
        put("title,author,type,publisher,year,number,permission,isbn\n");
        const bool ok = storage.forEachBook([&](const BookRow& b) {
            QStringList fields;
            for (const QString& f : {b.title, b.author, b.type, b.publisher, b.year, b.number, b.permission, b.isbn})
                fields.append(csvField(f));
            put(fields.join(QLatin1Char(',')).toUtf8() + '\n');
            ++*copies;
        });
        *titles = *copies;
        if (!ok)
            *error = storage.lastError();
        return ok && written;
    }
    if (format == Format::MarcXml)
        put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<collection xmlns=\"http://www.loc.gov/MARC21/slim\">\n");
    // Rows come grouped by kept record and ISBN; the records are read once the walk is over, since a
    // SQLite statement stays open during the walk.
    QList<TitleGroup> groups;
    const bool ok = storage.forEachBook([&](const BookRow& b) {
        if (groups.isEmpty() || !groups.last().sameTitle(b))
            groups.append(TitleGroup{{b}});
        else
            groups.last().copies.append(b);
        ++*copies;
    });
    if (!ok) {
        *error = storage.lastError();
        return false;
    }
    for (const TitleGroup& group : std::as_const(groups)) {
        const MarcRecord record = recordFor(storage, group);
        put(format == Format::MarcXml ? record.toMarcXml() : record.toIso2709());
        ++*titles;
    }
    if (format == Format::MarcXml)
        put("</collection>\n");
    return written && !storage.failed();
}

} // namespace CollectionExport
