// Feeds arbitrary bytes to the frame reader, cut into pieces at places the input itself chooses, and
// decodes every frame it hands out. Any crash, hang or sanitizer report is a bug.
#include "frame.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int pieces = 1 + data[0] % 8;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    FrameReader reader;
    qsizetype pos = 0;
    for (int i = 0; i < pieces; ++i) {
        const qsizetype length = i == pieces - 1 ? bytes.size() - pos : (bytes.size() - pos) / 2;
        reader.feed(bytes.mid(pos, length));
        pos += length;
        for (;;) {
            const FrameReader::Result result = reader.next();
            if (result.status != FrameReader::Status::Frame)
                break;
            if (result.body.isEmpty() || result.body.size() > Wire::MaxBodySize)
                __builtin_trap(); // the reader must never hand out an empty or oversized body
            if (const auto values = Wire::decodeBody(result.body)) {
                // What decodes must encode back to the same body (null strings come back empty).
                const QByteArray again = Wire::encodeFrame(*values);
                if (again.size() - 2 > result.body.size())
                    __builtin_trap();
            }
        }
    }
    return 0;
}
