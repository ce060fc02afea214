#pragma once

#include "requesthandler.h"

// Notices for staff (the list, resending a failing one, the letters printed) and a reader's choice
// of due-soon reminders.
class NoticeRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply notices(const NoticesQuery& query);
    HandlerReply resendNotice(const ResendNoticeQuery& query);
    HandlerReply markLettersPrinted(const MarkLettersPrintedQuery& query);
    HandlerReply noticePreference(const NoticePreferenceQuery& query);
};
