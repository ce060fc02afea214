#pragma once

#include "requesthandler.h"

// The catalogue: searching it, adding copies one or many at a time, correcting and deleting them
// (administrators),
// and how many copies a title has.
class BookRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply searchBooks(const BookQuery& query);
    HandlerReply addBook(const AddBookQuery& query);
    HandlerReply deleteBook(const DeleteBookQuery& query);
    HandlerReply addCopies(const AddCopiesQuery& query);
    HandlerReply titleCopies(const TitleCopiesQuery& query);
    HandlerReply editBook(const EditBookQuery& query);
};
