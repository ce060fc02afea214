#include "catalogueimport.h"

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
    const Record& header = records.first();
    for (int i = 0; i < header.fields.size(); ++i) {
        const int column = int(columnNames.indexOf(header.fields[i].trimmed().toLower()));
        if (column >= 0)
            position[column] = i;
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
        if (numbers.contains(book.number)) {
            problem(QStringLiteral("book number %1 appears twice").arg(book.number));
            continue;
        }
        // Every book must fit in one search result frame.
        if (Reply::row({book.title, book.author, book.type, book.publisher, book.year, book.number,
                        BookState::lentOut(), book.permission})
                .isEmpty()) {
            problem(QStringLiteral("the record is too long for one frame"));
            continue;
        }
        numbers.insert(book.number);
        result.books.append(book);
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
