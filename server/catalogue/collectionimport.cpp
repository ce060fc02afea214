#include "collectionimport.h"

#include "catalogueimport.h"
#include "isbn.h"
#include "marctitle.h"
#include "messages.h"
#include "serverclock.h"

#include <QSet>

namespace {

constexpr char RecordTerminator = 0x1d;

QByteArray withoutLeadingSpace(const QByteArray& contents)
{
    qsizetype at = contents.startsWith("\xef\xbb\xbf") ? 3 : 0;
    while (at < contents.size() && QChar::isSpace(uchar(contents.at(at))))
        ++at;
    return contents.mid(at, 64);
}

// The record's syntax: what its own shape says.
MarcRecord::Syntax syntaxOf(const MarcRecord& record)
{
    return record.shapeSyntax();
}

} // namespace

CollectionImport::Format CollectionImport::formatOf(const QByteArray& contents)
{
    const QByteArray start = withoutLeadingSpace(contents);
    if (start.startsWith('<'))
        return Format::MarcXml;
    // An ISO 2709 record starts with its length in five digits and ends with a record terminator.
    bool digits = start.size() >= 24;
    for (int i = 0; digits && i < 5; ++i)
        digits = QChar::isDigit(uchar(start.at(i)));
    return digits && contents.contains(RecordTerminator) ? Format::Iso2709 : Format::Csv;
}

QString CollectionImport::Report::text() const
{
    QStringList lines;
    lines << QStringLiteral("format: %1").arg(format) << QStringLiteral("records read: %1").arg(read)
          << QStringLiteral("copies added: %1").arg(added)
          << QStringLiteral("skipped, the book number exists: %1").arg(skipped)
          << QStringLiteral("updated: %1").arg(updated) << QStringLiteral("refused: %1").arg(refused.size());
    for (const QString& why : refused)
        lines << QStringLiteral("  ") + why;
    if (!failure.isEmpty())
        lines << QStringLiteral("FAILED, nothing was changed: ") + failure;
    return lines.join(QLatin1Char('\n'));
}

std::optional<CollectionImport::Title> CollectionImport::titleOf(const MarcRecord& record, const QString& source,
                                                                 QString* why)
{
    Title title;
    title.source = source;
    title.syntax = syntaxOf(record);
    const MarcTitle fields = MarcTitle::from(record, title.syntax);
    if (fields.title.isEmpty()) {
        *why = QStringLiteral("no title");
        return std::nullopt;
    }
    BookRow book;
    book.title = fields.title;
    book.author = fields.author;
    book.type = fields.type;
    book.publisher = fields.publisher;
    book.year = fields.year;
    if (!fields.isbnText.isEmpty()) {
        const std::optional<QString> isbn = Isbn::normalised(fields.isbnText);
        if (!isbn) {
            *why = QStringLiteral("bad ISBN \"%1\"").arg(fields.isbnText);
            return std::nullopt;
        }
        book.isbn = *isbn;
    }
    const QList<MarcTitle::Copy> holdings =
        fields.copies.isEmpty() ? QList<MarcTitle::Copy>{MarcTitle::Copy{}} : fields.copies;
    for (const MarcTitle::Copy& copy : holdings) {
        BookRow c = book;
        c.number = copy.number;
        const std::optional<QString> permission = CatalogueCsv::permissionName(copy.permission);
        c.permission = permission.value_or(CatalogueCsv::permissionName(QString()).value());
        title.copies.append(c);
    }
    // Every copy must fit in one search result frame.
    BookRow asLent = book;
    asLent.lent = true;
    for (const BookRow& c : std::as_const(title.copies)) {
        asLent.number = c.number.isEmpty() ? QStringLiteral("PREFIX-000000") : c.number;
        asLent.permission = c.permission;
        if (Reply::row(asLent.record().fields()).isEmpty()) {
            *why = QStringLiteral("the record is too long for one frame");
            return std::nullopt;
        }
    }
    MarcRecord kept = record;
    kept.removeFields(MarcTitle::holdingsTags(title.syntax));
    title.record = kept;
    return title;
}

QList<CollectionImport::Title> CollectionImport::marcTitles(const QByteArray& contents, Format format, Report& report)
{
    QList<Title> titles;
    const auto take = [&](const MarcRecord& record, int number) {
        QString why;
        const QString source = QStringLiteral("record %1").arg(number);
        if (std::optional<Title> title = titleOf(record, source, &why))
            titles.append(*title);
        else
            report.refused.append(source + QStringLiteral(": ") + why);
    };
    if (format == Format::MarcXml) {
        const QList<MarcXmlEntry> entries = readMarcXml(contents);
        report.read = int(entries.size());
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (entries[i].record)
                take(*entries[i].record, int(i + 1));
            else
                report.refused.append(QStringLiteral("record %1: broken record (%2)").arg(i + 1).arg(entries[i].error));
        }
        return titles;
    }
    const QList<QByteArray> records = splitIso2709(contents);
    report.read = int(records.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        QString error;
        const std::optional<MarcRecord> record = MarcRecord::fromIso2709(records[i], &error);
        if (!record)
            report.refused.append(QStringLiteral("record %1: broken record (%2)").arg(i + 1).arg(error));
        else
            take(*record, int(i + 1));
    }
    return titles;
}

namespace {

// Numbers PREFIX1, PREFIX2, ... that neither the catalogue nor the file has taken.
class NumberSource
{
public:
    NumberSource(Storage& storage, const QString& prefix, const QSet<QString>& inFile)
        : m_storage(storage)
        , m_prefix(prefix)
        , m_inFile(inFile)
    {
    }
    QString next()
    {
        for (;;) {
            const QString number = m_prefix + QString::number(++m_last);
            if (!m_inFile.contains(number) && !m_storage.book(number))
                return number;
        }
    }

private:
    Storage& m_storage;
    QString m_prefix;
    const QSet<QString>& m_inFile;
    qint64 m_last = 0;
};

} // namespace

CollectionImport::Report CollectionImport::run(Storage& storage, const QByteArray& contents, const Options& options)
{
    Report report;
    const Format format = formatOf(contents);
    QList<Title> titles;
    if (format == Format::Csv) {
        report.format = QStringLiteral("CSV");
        const CatalogueCsv::Result parsed = CatalogueCsv::parse(contents);
        report.read = parsed.records;
        report.refused = parsed.problems;
        for (const BookRow& book : parsed.books)
            titles.append({QString(), {book}, std::nullopt, MarcRecord::Syntax::Marc21});
    } else {
        report.format = format == Format::MarcXml ? QStringLiteral("MARCXML") : QStringLiteral("ISO 2709");
        titles = marcTitles(contents, format, report);
    }

    // A number twice in the file: the later copy is refused.
    QSet<QString> numbers;
    for (Title& title : titles) {
        for (qsizetype i = 0; i < title.copies.size();) {
            const QString& number = title.copies[i].number;
            if (number.isEmpty()) {
                ++i;
            } else if (numbers.contains(number)) {
                report.refused.append(QStringLiteral("%1: book number %2 appears twice").arg(title.source, number));
                title.copies.removeAt(i);
            } else {
                numbers.insert(number);
                ++i;
            }
        }
    }

    Storage::WriteTransaction transaction(storage);
    if (!transaction.isOpen()) {
        report.failure = storage.lastError();
        return report;
    }
    // Into an empty catalogue the indexes are made once at the end (see importCatalogue).
    const bool intoEmpty = storage.bookCount() == 0;
    std::optional<QStringList> suspended;
    if (intoEmpty && !(suspended = storage.suspendBookIndexes())) {
        report.failure = storage.lastError();
        return report;
    }
    NumberSource numberSource(storage, options.numberPrefix, numbers);
    for (Title& title : titles) {
        qint64 recordId = 0;
        for (BookRow& copy : title.copies) {
            if (copy.number.isEmpty()) {
                if (options.numberPrefix.isEmpty()) {
                    report.refused.append(title.source
                                          + QStringLiteral(": no holdings, and no --numbers to number it"));
                    continue;
                }
                copy.number = numberSource.next();
            }
            const bool exists = !intoEmpty && storage.book(copy.number).has_value();
            if (exists && !options.update) {
                ++report.skipped;
                continue;
            }
            if (title.record && recordId == 0) {
                const QString syntax =
                    title.syntax == MarcRecord::Syntax::Unimarc ? QStringLiteral("unimarc") : QStringLiteral("marc21");
                recordId = storage.insertRecord(syntax, title.record->toIso2709());
                if (recordId == 0)
                    break;
            }
            copy.recordId = recordId;
            if (exists) {
                if (!storage.updateBook(copy))
                    break;
                ++report.updated;
            } else {
                if (!storage.insertBook(copy))
                    break;
                ++report.added;
            }
        }
        if (storage.failed())
            break;
    }
    if (!storage.failed() && suspended)
        storage.restoreBookIndexes(*suspended);
    if (!storage.failed() && !options.dryRun) {
        const AuditEvent event{ServerClock::nowStamp(),
                               QString(),
                               QStringLiteral("server --import"),
                               Wire::word(AuditAction::ImportCatalogue),
                               QString(),
                               QString(),
                               QStringLiteral("%1 added, %2 updated, %3 refused")
                                   .arg(report.added)
                                   .arg(report.updated)
                                   .arg(report.refused.size())};
        storage.appendAudit(event);
    }
    if (storage.failed()) {
        report.failure = storage.lastError();
        report.added = report.updated = 0;
        return report;
    }
    // A dry run rolls everything back: the same report, nothing changed.
    if (!options.dryRun && !transaction.commit()) {
        report.failure = storage.lastError();
        report.added = report.updated = 0;
    }
    return report;
}
