#include "catalogueimport.h"

#include "copynumbers.h"
#include "isbn.h"
#include "levels.h"
#include "messages.h"

#include <QSet>

namespace {

struct Record {
    int line = 0;
    QStringList fields;
};

// Cuts the text into records of fields, following the usual CSV quoting rules.
QList<Record> splitRecords(const QString& text)
{
    QList<Record> records;
    Record current;
    QString field;
    bool quoted = false;
    bool fieldStarted = false;
    int line = 1;
    current.line = 1;
    const auto endField = [&] {
        current.fields.append(field);
        field.clear();
        fieldStarted = false;
    };
    const auto endRecord = [&] {
        endField();
        const bool blank = current.fields.size() == 1 && current.fields.first().trimmed().isEmpty();
        if (!blank)
            records.append(current);
        current = Record{};
        current.line = line;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                field += c;
            }
            continue;
        }
        if (c == QLatin1Char('"') && field.trimmed().isEmpty() && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
            field.clear();
        } else if (c == QLatin1Char(',')) {
            endField();
        } else if (c == QLatin1Char('\n')) {
            ++line;
            endRecord();
        } else if (c != QLatin1Char('\r')) {
            field += c;
        }
    }
    if (!field.isEmpty() || !current.fields.isEmpty())
        endRecord();
    return records;
}

const QStringList columnNames = {
    QStringLiteral("title"), QStringLiteral("author"), QStringLiteral("type"),       QStringLiteral("publisher"),
    QStringLiteral("year"),  QStringLiteral("number"), QStringLiteral("permission"),
};
// Columns a file may leave out.
const QStringList optionalColumns = {QStringLiteral("isbn"), QStringLiteral("copies")};

// The most copies one line adds.
constexpr int MaxCopiesPerLine = 500;

} // namespace

std::optional<QString> CatalogueCsv::permissionName(const QString& text)
{
    const QString name = text.trimmed();
    if (name.isEmpty())
        return Levels::englishName(Levels::Undergraduate);
    if (Levels::code(name) >= Levels::Guest)
        return name;
    const QString english = Levels::toEnglish(name);
    if (Levels::toChinese(english) == name)
        return english;
    return std::nullopt;
}

CatalogueCsv::Result CatalogueCsv::parse(const QByteArray& utf8)
{
    Result result;
    QString text = QString::fromUtf8(utf8);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const QList<Record> records = splitRecords(text);
    if (records.isEmpty()) {
        result.problems.append(QStringLiteral("line 1: no header row"));
        return result;
    }

    // Where each column sits, from the header.
    QList<int> position(columnNames.size(), -1);
    QList<int> optionalPosition(optionalColumns.size(), -1);
    const Record& header = records.first();
    for (int i = 0; i < header.fields.size(); ++i) {
        const QString name = header.fields[i].trimmed().toLower();
        if (const int column = int(columnNames.indexOf(name)); column >= 0)
            position[column] = i;
        if (const int column = int(optionalColumns.indexOf(name)); column >= 0)
            optionalPosition[column] = i;
    }
    if (position.contains(-1)) {
        result.problems.append(QStringLiteral("line %1: the header must name the columns %2")
                                   .arg(header.line)
                                   .arg(columnNames.join(QStringLiteral(", "))));
        return result;
    }

    QSet<QString> numbers;
    for (qsizetype r = 1; r < records.size(); ++r) {
        const Record& record = records[r];
        ++result.records;
        const auto problem = [&](const QString& why) {
            result.problems.append(QStringLiteral("line %1: %2").arg(record.line).arg(why));
        };
        if (record.fields.size() != header.fields.size()) {
            problem(QStringLiteral("%1 fields, the header has %2").arg(record.fields.size()).arg(header.fields.size()));
            continue;
        }
        const auto field = [&](int column) { return record.fields[position[column]].trimmed(); };
        BookRow book;
        book.title = field(0);
        book.author = field(1);
        book.type = field(2);
        book.publisher = field(3);
        book.year = field(4);
        book.number = field(5);
        if (book.title.isEmpty() || book.number.isEmpty()) {
            problem(QStringLiteral("a book needs a title and a number"));
            continue;
        }
        const std::optional<QString> permission = permissionName(field(6));
        if (!permission) {
            problem(QStringLiteral("unknown permission \"%1\"").arg(field(6)));
            continue;
        }
        book.permission = *permission;
        const auto optional = [&](int column) {
            return optionalPosition[column] < 0 ? QString() : record.fields[optionalPosition[column]].trimmed();
        };
        if (const QString isbn = optional(0); !isbn.isEmpty()) {
            const std::optional<QString> normalised = Isbn::normalised(isbn);
            if (!normalised) {
                problem(QStringLiteral("bad ISBN \"%1\"").arg(isbn));
                continue;
            }
            book.isbn = *normalised;
        }
        int copies = 1;
        if (const QString count = optional(1); !count.isEmpty()) {
            bool ok = false;
            copies = count.toInt(&ok);
            if (!ok || copies < 1 || copies > MaxCopiesPerLine) {
                problem(QStringLiteral("copies must be 1 to %1, not \"%2\"").arg(MaxCopiesPerLine).arg(count));
                continue;
            }
        }
        const QStringList copyNumbers = CopyNumbers::from(book.number, copies);
        const auto twice = std::find_if(copyNumbers.cbegin(), copyNumbers.cend(),
                                        [&](const QString& n) { return numbers.contains(n); });
        if (twice != copyNumbers.cend()) {
            problem(QStringLiteral("book number %1 appears twice").arg(*twice));
            continue;
        }
        // Every book must fit in one search result frame.
        if (Reply::row({book.title, book.author, book.type, book.publisher, book.year, copyNumbers.last(),
                        BookState::lentOut(), book.permission})
                .isEmpty()) {
            problem(QStringLiteral("the record is too long for one frame"));
            continue;
        }
        for (const QString& number : copyNumbers) {
            numbers.insert(number);
            book.number = number;
            result.books.append(book);
        }
    }
    return result;
}

int importCatalogue(Storage& storage, const CatalogueCsv::Result& parsed, QStringList* problems)
{
    Storage::WriteTransaction transaction(storage);
    if (!transaction.isOpen()) {
        problems->append(storage.lastError());
        return 0;
    }
    // Into an empty catalogue the indexes are made once at the end; the file's numbers are already
    // known to be distinct, so none can be taken.
    const bool intoEmpty = storage.bookCount() == 0;
    std::optional<QStringList> suspended;
    if (intoEmpty && !(suspended = storage.suspendBookIndexes())) {
        problems->append(storage.lastError());
        return 0;
    }
    int added = 0;
    for (const BookRow& book : parsed.books) {
        if (!intoEmpty && storage.book(book.number)) {
            problems->append(QStringLiteral("book number %1 is already in the catalogue").arg(book.number));
            continue;
        }
        if (!storage.insertBook(book)) {
            problems->append(storage.lastError());
            return 0;
        }
        ++added;
    }
    if (suspended && !storage.restoreBookIndexes(*suspended)) {
        problems->append(storage.lastError());
        return 0;
    }
    if (!transaction.commit()) {
        problems->append(storage.lastError());
        return 0;
    }
    return added;
}
