#include "bookrequests.h"

#include "catalogueimport.h"
#include "copynumbers.h"
#include "isbn.h"
#include "searchtext.h"
#include "serversettings.h"
#include "storage.h"

namespace {

// The most copies one request adds.
constexpr int MaxCopies = 500;

// What every book record passes before it is stored: a title and a number, an ISBN (when one is
// given) with its check digit, a known level, and a search result frame that holds it as lent (the
// longer of the two state words) with `measuredNumber`. Fills in the normalised ISBN and the level's
// name; the refusal word, or nothing.
std::optional<QString> bookRecordRefusal(BookRow& book, const QString& permission, const QString& isbn,
                                         const QString& measuredNumber)
{
    if (book.title.isEmpty() || book.number.isEmpty())
        return Wire::word(Refusal::MissingTitleOrNumber);
    if (!isbn.trimmed().isEmpty()) {
        const std::optional<QString> normalised = Isbn::normalised(isbn);
        if (!normalised)
            return Wire::word(Refusal::BadIsbn);
        book.isbn = *normalised;
    }
    const std::optional<QString> name = CatalogueCsv::permissionName(permission);
    if (!name)
        return Wire::word(Refusal::UnknownPermission);
    book.permission = *name;
    BookRow asLent = book;
    asLent.lent = true;
    asLent.number = measuredNumber;
    if (Reply::row(asLent.record().fields()).isEmpty())
        return Wire::word(Refusal::RecordTooLong);
    return std::nullopt;
}

} // namespace

HandlerReply BookRequests::searchBooks(const BookQuery& query)
{
    BookFilter filter;
    filter.title = query.title.trimmed();
    filter.author = query.author.trimmed();
    filter.number = query.number.trimmed();
    filter.type = query.type.trimmed();
    filter.publisher = query.press.trimmed();
    // Years typed with a Chinese input method come in full-width digits.
    bool ok = false;
    if (const int from = SearchText::fold(query.yearFrom).toInt(&ok); ok)
        filter.yearFrom = from;
    if (const int to = SearchText::fold(query.yearTo).toInt(&ok); ok)
        filter.yearTo = to;
    // A range typed the wrong way round (2020 to 2010) means the years between.
    if (filter.yearFrom && filter.yearTo && *filter.yearFrom > *filter.yearTo)
        std::swap(filter.yearFrom, filter.yearTo);

    QList<BookRow> books;
    QString error;
    if (!read([&](Storage& storage) { books = storage.searchBooks(filter, context().settings.maxSearchRows); }, &error))
        return refusedStream(QStringLiteral("database error: ") + error);
    return rowStream<BookRow>(books, [](const BookRow& b) { return b.record().fields(); });
}

HandlerReply BookRequests::addBook(const AddBookQuery& query)
{
    BookRow book{query.title.trimmed(),
                 query.author.trimmed(),
                 query.type.trimmed(),
                 query.press.trimmed(),
                 query.year.trimmed(),
                 query.number.trimmed(),
                 QString(),
                 false};
    return writeWord(Reply::AddBookSuccessfully, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        if (const std::optional<QString> refusal = bookRecordRefusal(book, query.permission, {}, book.number))
            return *refusal;
        Storage::WriteTransaction transaction(storage);
        if (storage.book(book.number))
            return Wire::word(Refusal::BookNumberExists);
        if (!storage.insertBook(book) || !audit(storage, {AuditAction::AddBook, {}, book.number, book.title})
            || !transaction.commit())
            return QString();
        return Reply::AddBookSuccessfully;
    });
}

HandlerReply BookRequests::deleteBook(const DeleteBookQuery& query)
{
    const QString& number = query.book.number;
    return writeWord(Reply::DeleteBookSuccessfully, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        Storage::WriteTransaction transaction(storage);
        if (!storage.lockBook(number))
            return QString();
        const std::optional<BookRow> book = storage.book(number);
        if (!book)
            return Wire::word(Refusal::NoSuchBook);
        if (book->lent)
            return Wire::word(Refusal::BookOnLoan);
        if (!storage.deleteBook(number) || !audit(storage, {AuditAction::DeleteBook, {}, number, book->title})
            || !transaction.commit())
            return QString();
        return Reply::DeleteBookSuccessfully;
    });
}

HandlerReply BookRequests::addCopies(const AddCopiesQuery& query)
{
    BookRow title{query.title.trimmed(),
                  query.author.trimmed(),
                  query.type.trimmed(),
                  query.press.trimmed(),
                  query.year.trimmed(),
                  query.firstNumber.trimmed(),
                  QString(),
                  false};
    return writeFrame(Reply::AddBookSuccessfully, [&](Storage& storage) -> QStringList {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return {*refusal};
        if (title.title.isEmpty() || title.number.isEmpty())
            return {Wire::word(Refusal::MissingTitleOrNumber)};
        bool ok = false;
        const int count = query.count.trimmed().toInt(&ok);
        if (!ok || count < 1 || count > MaxCopies)
            return {Wire::word(Refusal::BadCount)};
        const QStringList numbers = CopyNumbers::from(title.number, count);
        const QString longest = numbers.last().size() > numbers.first().size() ? numbers.last() : numbers.first();
        if (const std::optional<QString> refusal = bookRecordRefusal(title, query.permission, query.isbn, longest))
            return {*refusal};
        Storage::WriteTransaction transaction(storage);
        if (const QString taken = storage.firstTakenNumber(numbers); !taken.isEmpty())
            return {Wire::word(Refusal::BookNumberExists), taken};
        if (storage.failed())
            return {};
        // New copies of a title that came with a MARC record share it.
        if (!title.isbn.isEmpty())
            title.recordId = storage.recordOfIsbn(title.isbn);
        for (const QString& number : numbers) {
            BookRow copy = title;
            copy.number = number;
            if (!storage.insertBook(copy))
                return {};
        }
        const QString detail = count == 1
            ? title.title
            : QStringLiteral("%1 copies to %2: %3").arg(count).arg(numbers.last(), title.title);
        if (!audit(storage, {AuditAction::AddBook, {}, numbers.first(), detail}) || !transaction.commit())
            return {};
        return {Reply::AddBookSuccessfully, numbers.first(), numbers.last()};
    });
}

HandlerReply BookRequests::titleCopies(const TitleCopiesQuery& query)
{
    std::optional<BookRow> book;
    QList<BookRow> copies;
    QString error;
    if (!read(
            [&](Storage& storage) {
                book = storage.book(query.number.trimmed());
                if (book)
                    copies = book->isbn.isEmpty() ? QList<BookRow>{*book} : storage.copiesOf(book->isbn);
            },
            &error))
        return serverError(error);
    if (!book)
        return word(Refusal::NoSuchBook);
    const auto free =
        std::count_if(copies.cbegin(), copies.cend(), [](const BookRow& c) { return !c.lent && !c.reserved; });
    return {
        {Reply::row({QString(Reply::TitleCopies), book->isbn, QString::number(copies.size()), QString::number(free)})},
        QString(Reply::TitleCopies)};
}

HandlerReply BookRequests::editBook(const EditBookQuery& query)
{
    const QString number = query.number.trimmed();
    return writeWord(Reply::EditBookSuccessfully, [&](Storage& storage) -> QString {
        if (const std::optional<QString> refusal = adminRefusal(storage))
            return *refusal;
        BookRow edited{query.title.trimmed(),
                       query.author.trimmed(),
                       query.type.trimmed(),
                       query.press.trimmed(),
                       query.year.trimmed(),
                       number,
                       QString(),
                       false};
        if (const std::optional<QString> refusal = bookRecordRefusal(edited, query.permission, query.isbn, number))
            return *refusal;
        Storage::WriteTransaction transaction(storage);
        if (!storage.lockBook(number))
            return QString();
        const std::optional<BookRow> book = storage.book(number);
        if (!book)
            return Wire::word(Refusal::NoSuchBook);
        // A copy keeps its MARC record while its ISBN stays; a new ISBN takes that title's record.
        edited.recordId = edited.isbn == book->isbn ? book->recordId
            : edited.isbn.isEmpty()                 ? 0
                                                    : storage.recordOfIsbn(edited.isbn);
        QStringList changes;
        const auto note = [&](const char* field, const QString& before, const QString& after) {
            if (before != after)
                changes.append(QStringLiteral("%1: %2 -> %3").arg(QLatin1String(field), before, after));
        };
        note("title", book->title, edited.title);
        note("author", book->author, edited.author);
        note("type", book->type, edited.type);
        note("publisher", book->publisher, edited.publisher);
        note("year", book->year, edited.year);
        note("permission", book->permission, edited.permission);
        note("ISBN", book->isbn, edited.isbn);
        if (changes.isEmpty())
            return Reply::EditBookSuccessfully;
        if (!storage.updateBook(edited)
            || !audit(storage, {AuditAction::EditBook, {}, number, changes.join(QStringLiteral("; "))})
            || !transaction.commit())
            return QString();
        return Reply::EditBookSuccessfully;
    });
}
