#pragma once

#include "requesthandler.h"

// Stocktaking for staff: a stocktake of a part of the collection, every copy found on the shelves
// scanned into it, the report of what needs staff, and copies marked lost or found again.
class InventoryRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply start(const InventoryStartQuery& query);
    HandlerReply scan(const InventoryScanQuery& query);
    HandlerReply report(const InventoryReportQuery& query);
    HandlerReply list(const InventoryListQuery& query);
    HandlerReply markLost(const MarkLostQuery& query);
    HandlerReply markFound(const MarkFoundQuery& query);

private:
    // Marks each copy of the list lost or found, all or none: the frame of the success word and how
    // many changed, or the refusal and the number it is about.
    HandlerReply markAll(const QString& numbers, bool lost);
};
