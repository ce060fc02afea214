#include "bookrequests.h"

#include "catalogueimport.h"
#include "searchtext.h"
#include "serversettings.h"
#include "storage.h"

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
        if (book.title.isEmpty() || book.number.isEmpty())
            return Wire::word(Refusal::MissingTitleOrNumber);
        const std::optional<QString> permission = CatalogueCsv::permissionName(query.permission);
        if (!permission)
            return Wire::word(Refusal::UnknownPermission);
        book.permission = *permission;
        // Measured as lent: the longer of the two state words.
        BookRow asLent = book;
        asLent.lent = true;
        if (Reply::row(asLent.record().fields()).isEmpty())
            return Wire::word(Refusal::RecordTooLong);
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
