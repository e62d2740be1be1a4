#include "MemoryBudget.h"

#include "MemoryLimit.h"
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

bool MemoryBudget::isFull() const
{
    // A reserve of more than half would leave a small limit no room at all.
    const bool full = TextValue::bytesInUse() > m_limit - std::min(m_reserve, m_limit / 2);
    if (full && !m_watch.isActive())
        m_watch.start();
    return full;
}

bool MemoryBudget::allows(qsizetype bytes) const
{
    return TextValue::bytesInUse() + bytes <= m_limit;
}

qsizetype MemoryBudget::storageOf(QStringView text)
{
    const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x100; });
    return latin1 ? text.size() : 2 * text.size();
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
