#include "Chunk.h"

#include <zstd.h>

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
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

// Where the characters of chunks of 4 to 8 KiB and of 8 to 16 KiB live:
// slots of whole pages, carved from large mappings. A slot given back
// returns its pages to the system at once, so compressing a chunk really
// shrinks the process; from the allocator, a buffer straddling pages would
// keep those it shares with its neighbours.
class Slots
{
public:
    explicit Slots(std::size_t slotBytes)
        : m_slotBytes(slotBytes)
    {
    }

    bool fits(std::size_t bytes) const { return bytes > m_slotBytes / 2 && bytes <= m_slotBytes; }

    void *take()
    {
        const std::lock_guard lock(m_mutex);
        if (m_free.empty()) {
            constexpr std::size_t mapping = 2 * 1024 * 1024;
            // Room for the new slots first: a failure after the mapping
            // would lose it.
            m_free.reserve(mapping / m_slotBytes);
            void *memory = ::mmap(nullptr, mapping, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (memory == MAP_FAILED)
                throw std::bad_alloc();
            for (std::size_t offset = mapping; offset >= m_slotBytes; offset -= m_slotBytes)
                m_free.push_back(static_cast<char *>(memory) + offset - m_slotBytes);
        }
        void *slot = m_free.back();
        m_free.pop_back();
        return slot;
    }

    void give(void *slot)
    {
        ::madvise(slot, m_slotBytes, MADV_DONTNEED);
        const std::lock_guard lock(m_mutex);
        m_free.push_back(slot);
    }

private:
    const std::size_t m_slotBytes;
    std::mutex m_mutex;
    std::vector<void *> m_free;
};

Slots &slotsFor(std::size_t bytes)
{
    static Slots small(8192);
    static Slots large(16384);
    return small.fits(bytes) ? small : large;
}

bool inSlot(std::size_t bytes)
{
    return slotsFor(bytes).fits(bytes);
}

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
    const auto bytes = static_cast<std::size_t>(plainSize());
    m_characters = inSlot(bytes) ? slotsFor(bytes).take() : std::malloc(bytes);
    if (!m_characters)
        throw std::bad_alloc();
    liveBytes.fetch_add(storedBytes(), std::memory_order_relaxed);
}

Chunk::~Chunk()
{
    liveBytes.fetch_sub(storedBytes(), std::memory_order_relaxed);
    releaseCharacters();
    if (m_packed)
        decompressed.forget(m_id);
}

void Chunk::releaseCharacters() const
{
    if (!m_characters)
        return;
    const auto bytes = static_cast<std::size_t>(plainSize());
    if (inSlot(bytes))
        slotsFor(bytes).give(m_characters);
    else
        std::free(m_characters);
    m_characters = nullptr;
}

void Chunk::append(QStringView text)
{
    Q_ASSERT(text.size() <= room() && fits(text) && !compressed());
    const auto at = static_cast<std::size_t>(m_used);
    if (m_wide) {
        std::memcpy(utf16() + at, text.utf16(), static_cast<std::size_t>(text.size()) * sizeof(char16_t));
    } else {
        unsigned char *out = latin1() + at;
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
        reading.utf16 = m_wide ? utf16() : nullptr;
        reading.latin1 = m_wide ? nullptr : latin1();
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
    return (m_packed ? m_packedSize : plainSize()) + Overhead;
}

qsizetype Chunk::bytesInUse()
{
    return liveBytes.load(std::memory_order_relaxed);
}

const char *Chunk::plainBytes() const
{
    Q_ASSERT(full() && !m_packed);
    return static_cast<const char *>(m_characters);
}

void Chunk::install(std::shared_ptr<const char[]> packed, qsizetype size) const
{
    if (m_packed || !full())
        return;
    const qsizetype before = storedBytes();
    m_packed = std::move(packed);
    m_packedSize = size;
    releaseCharacters();
    liveBytes.fetch_add(storedBytes() - before, std::memory_order_relaxed);
}

} // namespace TextTree
