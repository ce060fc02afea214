#pragma once

#include "requesthandler.h"

// The catalogue: searching it, and adding and deleting copies (administrators).
class BookRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply searchBooks(const BookQuery& query);
    HandlerReply addBook(const AddBookQuery& query);
    HandlerReply deleteBook(const DeleteBookQuery& query);
};
