#pragma once

#include "requesthandler.h"

// Loans of a reader, asked for by the reader or by staff: listing, borrowing and returning.
class LoanRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply borrowedBooks(const UserBorrowBookQuery& query);
    HandlerReply borrowBook(const BorrowBookQuery& query);
    HandlerReply returnBook(const ReturnBookQuery& query);
};
