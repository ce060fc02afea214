// Decodes an arbitrary frame body as a request, as the server does, and builds the typed request the
// handlers receive. Any crash or sanitizer report is a bug.
#include "messages.h"

#include <cstdint>

template <class Request>
static void build(const QStringList& fields)
{
    const Request request = Request::fromFields(fields);
    if (request.fields().size() != fields.size())
        __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto request = Wire::decodeRequest(body);
    if (!request)
        return 0;
    const QString& code = request->code;
    const QStringList& f = request->fields;
    if (code == BookQuery::code)
        build<BookQuery>(f);
    else if (code == LoginQuery::code)
        build<LoginQuery>(f);
    else if (code == UserRegisterQuery::code)
        build<UserRegisterQuery>(f);
    else if (code == UserUpdateQuery::code)
        build<UserUpdateQuery>(f);
    else if (code == SearchUserQuery::code)
        build<SearchUserQuery>(f);
    else if (code == DeleteUserQuery::code)
        build<DeleteUserQuery>(f);
    else if (code == EscalateUserQuery::code || code == DegradeUserQuery::code)
        build<LevelChangeQuery>(f);
    else if (code == UserBorrowBookQuery::code)
        build<UserBorrowBookQuery>(f);
    else if (code == ReturnBookQuery::code)
        build<ReturnBookQuery>(f);
    else if (code == BorrowBookQuery::code)
        build<BorrowBookQuery>(f);
    else if (code == DeleteBookQuery::code)
        build<DeleteBookQuery>(f);
    else if (code == AddBookQuery::code)
        build<AddBookQuery>(f);
    return 0;
}
