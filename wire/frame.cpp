#include "frame.h"

#include <QtEndian>

namespace Wire {

QByteArray encodeFrame(const QStringList& values)
{
    // The bytes QDataStream writes, put down directly: every reply row is a frame, and a stream of
    // 32-bit writes through a QBuffer cost eight thousand instructions a row.
    qsizetype bodySize = 0;
    for (const QString& value : values) {
        bodySize += 4 + 2 * value.size();
        if (bodySize > MaxBodySize)
            return {};
    }
    QByteArray buffer(2 + bodySize, Qt::Uninitialized);
    auto* out = reinterpret_cast<uchar*>(buffer.data());
    qToBigEndian(quint16(bodySize), out);
    out += 2;
    for (const QString& value : values) {
        qToBigEndian(value.isNull() ? NullStringCount : quint32(2 * value.size()), out);
        out += 4;
        const ushort* units = value.utf16();
        for (qsizetype i = 0; i < value.size(); ++i, out += 2)
            qToBigEndian(quint16(units[i]), out);
    }
    return buffer;
}

QByteArray endOfStreamFrame()
{
    return QByteArray(2, char(0xFF));
}

std::optional<QStringList> decodeBody(const QByteArray& body)
{
    QStringList values;
    const auto* bytes = reinterpret_cast<const uchar*>(body.constData());
    const qsizetype size = body.size();
    qsizetype pos = 0;
    while (pos < size) {
        if (size - pos < 4)
            return std::nullopt;
        const quint32 count = qFromBigEndian<quint32>(bytes + pos);
        pos += 4;
        if (count == NullStringCount) {
            values.append(QString());
            continue;
        }
        if (count % 2 != 0 || count > quint64(size - pos))
            return std::nullopt;
        QString text(qsizetype(count / 2), Qt::Uninitialized);
        auto* units = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 0; i < text.size(); ++i)
            units[i] = qFromBigEndian<quint16>(bytes + pos + 2 * i);
        pos += count;
        values.append(text);
    }
    return values;
}

} // namespace Wire

void FrameReader::feed(const QByteArray& bytes)
{
    if (m_ended || m_broken)
        return; // nothing after the end of a stream is read
    if (m_pos > 0 && m_pos >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
    m_buffer.append(bytes);
}

FrameReader::Result FrameReader::next()
{
    if (m_ended)
        return {Status::EndOfStream, {}};
    if (m_broken)
        return {Status::Error, {}};
    if (m_blockSize == 0) {
        if (bufferedBytes() < 2)
            return {};
        m_blockSize = qFromBigEndian<quint16>(m_buffer.constData() + m_pos);
        m_pos += 2;
        if (m_blockSize == Wire::EndOfStreamWord) {
            m_ended = true;
            return {Status::EndOfStream, {}};
        }
        if (m_blockSize == 0) {
            m_broken = true;
            return {Status::Error, {}};
        }
    }
    if (bufferedBytes() < m_blockSize)
        return {};
    Result result{Status::Frame, m_buffer.mid(m_pos, m_blockSize)};
    m_pos += m_blockSize;
    m_blockSize = 0;
    return result;
}

void FrameReader::reset()
{
    m_buffer.clear();
    m_pos = 0;
    m_blockSize = 0;
    m_ended = false;
    m_broken = false;
}
