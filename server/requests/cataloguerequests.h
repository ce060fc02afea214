#pragma once

#include "requesthandler.h"

// Copy cataloguing for staff: the server asks other libraries' catalogues ([cataloguing] targets),
// so that the desk PCs need no outside network access.
class CatalogueRequests : public RequestHandler
{
public:
    using RequestHandler::RequestHandler;

    HandlerReply lookup(const CatalogueLookupQuery& query);
};
