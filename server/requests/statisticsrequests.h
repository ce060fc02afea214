#pragma once

#include "requesthandler.h"

// Reports for staff over the loan counts that every loan, return and renewal keeps: loans by month,
// the most borrowed titles, copies nobody borrowed, loans by level and by type, the overdue rate.
class StatisticsRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply statistics(const StatisticsQuery& query);
};
