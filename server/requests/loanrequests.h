#pragma once

#include "requesthandler.h"

#include <QDateTime>

// Loans of a reader, asked for by the reader or by staff: listing, borrowing and returning.
class LoanRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply borrowedBooks(const UserBorrowBookQuery& query);
    HandlerReply borrowBook(const BorrowBookQuery& query);
    HandlerReply returnBook(const ReturnBookQuery& query);

private:
    // The reader's holds on the other copies of a title just borrowed are given up.
    bool dropTitleHolds(Storage& storage, const QString& userId, const BookRow& borrowed, const QDateTime& now);
};
