#include "MemoryBudget.h"

#include "ChunkCompressor.h"
#include "MemoryLimit.h"
#include "TextTree.h"
#include "TextValue.h"

#include <algorithm>

MemoryBudget::MemoryBudget(QObject *parent)
    : QObject(parent)
    , m_limit(static_cast<qsizetype>(MemoryLimit::available() / 2))
{
    // Compression is done within a fraction of a second of text coming in.
    m_watch.setInterval(100);
    connect(&m_watch, &QTimer::timeout, this, &MemoryBudget::lookForRoom);
}

namespace {

// Whether `fits` holds of what is stored, once the chunks waiting for
// compression are compressed: they count at their full size until then.
template<typename Fits>
bool fitsOnceCompressed(Fits fits)
{
    if (fits(TextValue::bytesInUse()))
        return true;
    if (TextTree::ChunkCompressor::pending() == 0)
        return false;
    TextTree::ChunkCompressor::finish();
    return fits(TextValue::bytesInUse());
}

} // namespace

bool MemoryBudget::isFull() const
{
    // A reserve of more than half would leave a small limit no room at all.
    const qsizetype room = m_limit - std::min(m_reserve, m_limit / 2);
    const bool full = !fitsOnceCompressed([room](qsizetype stored) { return stored <= room; });
    if (full && !m_watch.isActive())
        m_watch.start();
    return full;
}

bool MemoryBudget::allows(qsizetype bytes) const
{
    return fitsOnceCompressed([this, bytes](qsizetype stored) { return stored + bytes <= m_limit; });
}

qsizetype MemoryBudget::storageOf(QStringView text)
{
    const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x100; });
    return latin1 ? text.size() : 2 * text.size();
}

qsizetype MemoryBudget::appendCost(qsizetype characters)
{
    // The chunks the characters fill, and the open one they may start in.
    return characters + (characters / TextTree::LeafSize + 2) * TextTree::Chunk::Overhead;
}

qsizetype MemoryBudget::receiveLimitFor(qint64 memory)
{
    constexpr qsizetype Least = 256 * 1024;
    constexpr qsizetype Most = 64 * 1024 * 1024;
    return static_cast<qsizetype>(std::clamp<qint64>(memory / 64, Least, Most));
}

void MemoryBudget::setReserve(qsizetype bytes)
{
    m_reserve = std::max<qsizetype>(bytes, 0);
}

void MemoryBudget::setLimit(qsizetype bytes)
{
    m_limit = std::max<qsizetype>(bytes, 0);
}

void MemoryBudget::lookForRoom()
{
    if (isFull())
        return;
    m_watch.stop();
    Q_EMIT roomAvailable();
}
