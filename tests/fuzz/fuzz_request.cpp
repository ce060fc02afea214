// Decodes an arbitrary frame body as a request, as the server does, and builds the typed request the
// handlers receive. Any crash or sanitizer report is a bug.
#include "messages.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto request = Wire::decodeRequest(body);
    if (!request)
        return 0;
    Wire::visitRequestType(request->code, [&](auto type) {
        using Request = decltype(type);
        const Request typed = request->as<Request>();
        if (typed.fields() != request->fields)
            __builtin_trap();
    });
    return 0;
}
