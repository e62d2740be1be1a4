#include "TextValue.h"

#include <algorithm>
#include <cstring>

void TextValue::Buffer::append(QStringView text)
{
    const char16_t *source = text.utf16();
    qsizetype left = text.size();
    while (left > 0) {
        const qsizetype offset = size & ChunkMask;
        if (offset == 0 && size >> ChunkBits == static_cast<qsizetype>(chunks.size()))
            chunks.push_back(std::make_unique_for_overwrite<char16_t[]>(ChunkSize));
        const qsizetype count = std::min(left, ChunkSize - offset);
        std::memcpy(chunks[static_cast<size_t>(size >> ChunkBits)].get() + offset, source,
                    static_cast<size_t>(count) * sizeof(char16_t));
        source += count;
        left -= count;
        size += count;
    }
}

TextValue::TextValue(QStringView text)
{
    if (text.isEmpty())
        return;
    m_buffer = std::make_shared<Buffer>();
    m_buffer->append(text);
    m_size = text.size();
}

QStringView TextValue::piece(qsizetype from, qsizetype to) const
{
    const qsizetype offset = from & ChunkMask;
    const qsizetype length = std::min(to - from, ChunkSize - offset);
    return QStringView(m_buffer->chunks[static_cast<size_t>(from >> ChunkBits)].get() + offset, length);
}

QChar TextValue::at(qsizetype position) const
{
    Q_ASSERT(position >= 0 && position < m_size);
    return QChar(m_buffer->chunks[static_cast<size_t>(position >> ChunkBits)][position & ChunkMask]);
}

QString TextValue::mid(qsizetype position, qsizetype length) const
{
    position = std::clamp<qsizetype>(position, 0, m_size);
    length = std::clamp<qsizetype>(length, 0, m_size - position);
    QString text;
    text.reserve(length);
    forEachPiece(position, position + length, [&text](QStringView part) { text.append(part); });
    return text;
}

TextValue TextValue::appended(QStringView tail) const
{
    if (tail.isEmpty())
        return *this;
    TextValue joined;
    if (m_buffer && m_buffer->size == m_size) {
        // The newest value of its buffer: the tail goes at its end, and every
        // older value still ends where it did.
        joined.m_buffer = m_buffer;
    } else {
        joined.m_buffer = std::make_shared<Buffer>();
        forEachPiece(0, m_size, [&joined](QStringView part) { joined.m_buffer->append(part); });
    }
    joined.m_buffer->append(tail);
    joined.m_size = m_size + tail.size();
    return joined;
}

TextValue TextValue::replaced(qsizetype from, qsizetype removed, QStringView inserted) const
{
    from = std::clamp<qsizetype>(from, 0, m_size);
    removed = std::clamp<qsizetype>(removed, 0, m_size - from);
    TextValue result;
    result.m_buffer = std::make_shared<Buffer>();
    Buffer &buffer = *result.m_buffer;
    forEachPiece(0, from, [&buffer](QStringView part) { buffer.append(part); });
    buffer.append(inserted);
    forEachPiece(from + removed, m_size, [&buffer](QStringView part) { buffer.append(part); });
    result.m_size = buffer.size;
    return result;
}

bool TextValue::extends(const TextValue &earlier) const
{
    if (earlier.m_size > m_size)
        return false;
    if (earlier.m_size == 0 || earlier.m_buffer == m_buffer)
        return true;
    // Every buffer is chunked from its start alike, so the pieces of the two
    // values line up and compare one against one.
    for (qsizetype position = 0; position < earlier.m_size;) {
        const QStringView part = earlier.piece(position, earlier.m_size);
        if (part != piece(position, position + part.size()))
            return false;
        position += part.size();
    }
    return true;
}

bool operator==(const TextValue &a, const TextValue &b)
{
    return a.size() == b.size() && a.extends(b);
}

bool operator==(const TextValue &a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    qsizetype position = 0;
    bool same = true;
    a.forEachPiece(0, a.size(), [&](QStringView part) {
        if (same) {
            same = part == b.sliced(position, part.size());
            position += part.size();
        }
    });
    return same;
}
