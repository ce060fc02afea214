#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

// The frame format both programs speak: a 16-bit big-endian size word, then that many bytes of
// QDataStream-encoded strings (32-bit big-endian byte count, UTF-16BE code units; 0xFFFFFFFF for a
// null string). The size word 0xFFFF has no body and ends every reply stream.
namespace Wire {

constexpr quint16 EndOfStreamWord = 0xFFFF;
constexpr int MaxBodySize = 0xFFFE; // 65535 is reserved for the end-of-stream word
constexpr quint32 NullStringCount = 0xFFFFFFFF;

// One frame holding the given strings. Returns an empty array when the body would not fit in a frame,
// so a caller can refuse instead of sending a size word that lies.
QByteArray encodeFrame(const QStringList& values);

// The two bytes FF FF.
QByteArray endOfStreamFrame();

// Every string of one frame body, in order. Null strings come back as empty strings.
// std::nullopt when a byte count runs past the body or is odd: nothing of such a body is trusted.
std::optional<QStringList> decodeBody(const QByteArray& body);

} // namespace Wire

// Cuts a byte stream into frames. Feed it whatever arrived; take frames out with next().
// It never reads beyond a frame: a body is handed out whole, so a malformed body cannot knock the
// following frames out of step.
class FrameReader
{
public:
    enum class Status {
        Incomplete, // wait for more bytes
        Frame, // body holds one whole frame
        EndOfStream, // the 0xFFFF word arrived; sticky until reset()
        Error // size word 0: a body is never empty, the peer does not speak this protocol
    };

    struct Result {
        Status status = Status::Incomplete;
        QByteArray body;
    };

    void feed(const QByteArray& bytes);
    Result next();
    void reset();

    // The size word of the frame being awaited; 0 while none has been read.
    quint16 pendingSize() const { return m_blockSize; }
    qsizetype bufferedBytes() const { return m_buffer.size() - m_pos; }

private:
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    quint16 m_blockSize = 0;
    bool m_ended = false;
    bool m_broken = false;
};
