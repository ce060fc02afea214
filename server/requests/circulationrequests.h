#pragma once

#include "requesthandler.h"

// The circulation desk: due dates and renewals, hold queues, the overdue list, check-in by book
// number, and the audit trail. Every reader request may come from the reader or from staff.
class CirculationRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply userLoans(const UserLoansQuery& query);
    HandlerReply overdueLoans(const OverdueLoansQuery& query);
    HandlerReply renewBook(const RenewBookQuery& query);
    HandlerReply placeHold(const PlaceHoldQuery& query);
    HandlerReply cancelHold(const CancelHoldQuery& query);
    HandlerReply userHolds(const UserHoldsQuery& query);
    HandlerReply checkinBook(const CheckinBookQuery& query);
    HandlerReply auditLog(const AuditLogQuery& query);

private:
    // A row stream read for the account (the reader or staff), or for staff only when `userId` is
    // nullopt; refused with the end-of-stream frame alone otherwise.
    template <class Row>
    HandlerReply readRows(const std::optional<QString>& userId, const std::function<QList<Row>(Storage&)>& load,
                          const std::function<QStringList(const Row&)>& toFields);
};
