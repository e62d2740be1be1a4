#pragma once

#include <QtCore/QLatin1StringView>
#include <QtCore/QStringView>

#include <cstdint>
#include <memory>

namespace TextTree {

// Characters stored one byte each when all are U+0000..U+00FF, else in
// UTF-16. A chunk is written only at its end, and only by the newest value of
// the text that owns it; everything already written stays as it is, so every
// leaf sees a prefix that never changes.
//
// A full chunk may be compressed (ChunkCompressor): its characters then take
// their compressed size, and are read through a small cache of decompressed
// chunks. Chunks are read on one thread, the application's; the compressor
// only ever reads a full chunk's characters before they are compressed.
class Chunk
{
public:
    Chunk(bool wide, qsizetype capacity);
    ~Chunk();
    Chunk(const Chunk &) = delete;
    Chunk &operator=(const Chunk &) = delete;

    bool wide() const { return m_wide; }
    qsizetype capacity() const { return m_capacity; }
    qsizetype used() const { return m_used; }
    qsizetype room() const { return m_capacity - m_used; }
    bool full() const { return m_used == m_capacity; }
    // Whether `text` could go in without changing the kind of storage.
    bool fits(QStringView text) const { return m_wide || isLatin1(text); }
    // Only where it fits() and there is room.
    void append(QStringView text);
    static bool isLatin1(QStringView text);

    // The characters, readable while the reading is held: for a compressed
    // chunk, a decompressed copy.
    class Reading
    {
    public:
        // When wide(), the characters; else their bytes.
        const char16_t *utf16 = nullptr;
        const unsigned char *latin1 = nullptr;

    private:
        friend class Chunk;
        std::shared_ptr<const void> m_copy;
    };
    Reading read() const;

    char16_t at(qsizetype position) const;
    // Calls visit(QLatin1StringView) or visit(QStringView) for [from, to).
    template<typename Visit>
    void visit(qsizetype from, qsizetype to, Visit &&visit) const
    {
        const Reading reading = read();
        if (m_wide)
            visit(QStringView(reading.utf16 + from, to - from));
        else
            visit(QLatin1StringView(reinterpret_cast<const char *>(reading.latin1) + from, to - from));
    }

    bool compressed() const { return m_packed != nullptr; }
    // What the chunk costs in memory: its characters as they are, or
    // compressed, and Overhead.
    qsizetype storedBytes() const;
    // What every chunk costs together.
    static qsizetype bytesInUse();
    // What holding a chunk costs besides its characters: the chunk itself,
    // the leaf that shows it and a share of the inner nodes above, their
    // reference counts, the compressed bytes' own block, the allocator's
    // headers and the gaps between them. Measured with a repeated line,
    // which compresses to a few bytes a chunk and so is all but this: a
    // budget that left it out would count a thirtieth of what such a text
    // holds.
    static constexpr qsizetype Overhead = 576;

    // For the compressor: the characters as bytes, of a full chunk not yet
    // compressed.
    const char *plainBytes() const;
    qsizetype plainSize() const { return m_capacity * (m_wide ? 2 : 1); }
    // Puts `packed` (the characters, compressed) in their place, on the
    // thread that reads the chunk, between readings.
    void install(std::shared_ptr<const char[]> packed, qsizetype size) const;

private:
    const bool m_wide;
    const qsizetype m_capacity;
    qsizetype m_used = 0;
    // What the cache of decompressed chunks knows a chunk by: an address is
    // used again once freed, an id never.
    const std::uint64_t m_id;
    unsigned char *latin1() const { return static_cast<unsigned char *>(m_characters); }
    char16_t *utf16() const { return static_cast<char16_t *>(m_characters); }
    void releaseCharacters() const;

    // Either the characters (null once compressed) or the packed bytes.
    // Which one it is does not change what a reading sees.
    mutable void *m_characters = nullptr;
    mutable std::shared_ptr<const char[]> m_packed;
    mutable qsizetype m_packedSize = 0;
};

} // namespace TextTree
