#include "Chunk.h"

#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace TextTree {

namespace {

std::atomic<std::uint64_t> nextId{1};
std::atomic<qsizetype> liveBytes{0};

// The chunks read last, decompressed: painting reads the same few chunks
// again and again, and a lookup scans one chunk, so a handful is enough.
class DecompressedChunks
{
public:
    std::shared_ptr<const unsigned char[]> find(std::uint64_t id)
    {
        for (Entry &entry : m_entries) {
            if (entry.id == id) {
                entry.lastUse = ++m_clock;
                return entry.characters;
            }
        }
        return nullptr;
    }

    void add(std::uint64_t id, std::shared_ptr<const unsigned char[]> characters)
    {
        if (m_entries.size() < Capacity) {
            m_entries.push_back({id, std::move(characters), ++m_clock});
            return;
        }
        Entry &oldest = *std::min_element(m_entries.begin(), m_entries.end(),
                                          [](const Entry &a, const Entry &b) { return a.lastUse < b.lastUse; });
        oldest = {id, std::move(characters), ++m_clock};
    }

    void forget(std::uint64_t id)
    {
        std::erase_if(m_entries, [id](const Entry &entry) { return entry.id == id; });
    }

private:
    static constexpr std::size_t Capacity = 32;
    struct Entry
    {
        std::uint64_t id = 0;
        std::shared_ptr<const unsigned char[]> characters;
        std::uint64_t lastUse = 0;
    };
    std::vector<Entry> m_entries;
    std::uint64_t m_clock = 0;
};

thread_local DecompressedChunks decompressed;

struct FreeDecompressor
{
    void operator()(ZSTD_DCtx *context) const { ZSTD_freeDCtx(context); }
};
thread_local std::unique_ptr<ZSTD_DCtx, FreeDecompressor> decompressor{ZSTD_createDCtx()};

} // namespace

Chunk::Chunk(bool wide, qsizetype capacity)
    : m_wide(wide)
    , m_capacity(capacity)
    , m_id(nextId.fetch_add(1, std::memory_order_relaxed))
{
    if (wide)
        m_utf16 = std::make_unique_for_overwrite<char16_t[]>(static_cast<std::size_t>(capacity));
    else
        m_latin1 = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(capacity));
    liveBytes.fetch_add(storedBytes(), std::memory_order_relaxed);
}

Chunk::~Chunk()
{
    liveBytes.fetch_sub(storedBytes(), std::memory_order_relaxed);
    if (m_packed)
        decompressed.forget(m_id);
}

void Chunk::append(QStringView text)
{
    Q_ASSERT(text.size() <= room() && fits(text) && !compressed());
    const auto at = static_cast<std::size_t>(m_used);
    if (m_wide) {
        std::memcpy(m_utf16.get() + at, text.utf16(), static_cast<std::size_t>(text.size()) * sizeof(char16_t));
    } else {
        unsigned char *out = m_latin1.get() + at;
        const char16_t *in = text.utf16();
        for (qsizetype i = 0; i < text.size(); ++i)
            out[i] = static_cast<unsigned char>(in[i]);
    }
    m_used += text.size();
}

bool Chunk::isLatin1(QStringView text)
{
    const char16_t *characters = text.utf16();
    char16_t any = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        any |= characters[i];
    return any < 0x100;
}

Chunk::Reading Chunk::read() const
{
    Reading reading;
    if (!m_packed) {
        reading.utf16 = m_utf16.get();
        reading.latin1 = m_latin1.get();
        return reading;
    }
    std::shared_ptr<const unsigned char[]> characters = decompressed.find(m_id);
    if (!characters) {
        auto plain = std::make_shared_for_overwrite<unsigned char[]>(static_cast<std::size_t>(plainSize()));
        const std::size_t size = ZSTD_decompressDCtx(decompressor.get(), plain.get(),
                                                     static_cast<std::size_t>(plainSize()), m_packed.get(),
                                                     static_cast<std::size_t>(m_packedSize));
        if (ZSTD_isError(size) || size != static_cast<std::size_t>(plainSize()))
            throw std::runtime_error("a compressed chunk of text did not decompress");
        characters = std::move(plain);
        decompressed.add(m_id, characters);
    }
    if (m_wide)
        reading.utf16 = reinterpret_cast<const char16_t *>(characters.get());
    else
        reading.latin1 = characters.get();
    reading.m_copy = std::move(characters);
    return reading;
}

char16_t Chunk::at(qsizetype position) const
{
    const Reading reading = read();
    return m_wide ? reading.utf16[position] : reading.latin1[position];
}

qsizetype Chunk::storedBytes() const
{
    return m_packed ? m_packedSize : plainSize();
}

qsizetype Chunk::bytesInUse()
{
    return liveBytes.load(std::memory_order_relaxed);
}

const char *Chunk::plainBytes() const
{
    Q_ASSERT(full() && !m_packed);
    return m_wide ? reinterpret_cast<const char *>(m_utf16.get()) : reinterpret_cast<const char *>(m_latin1.get());
}

void Chunk::install(std::shared_ptr<const char[]> packed, qsizetype size) const
{
    if (m_packed || !full())
        return;
    const qsizetype before = storedBytes();
    m_packed = std::move(packed);
    m_packedSize = size;
    m_latin1.reset();
    m_utf16.reset();
    liveBytes.fetch_add(storedBytes() - before, std::memory_order_relaxed);
}

} // namespace TextTree
