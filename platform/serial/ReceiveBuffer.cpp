#include "ReceiveBuffer.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Large enough that a fast line is read in few calls, small enough that a
// trickle does not hold much memory.
constexpr qsizetype ReadSize = 64 * 1024;

} // namespace

ReceiveBuffer::ReceiveBuffer(qsizetype limit, std::function<void()> notify)
    : m_limit(limit)
    , m_notify(std::move(notify))
{
}

ReceiveBuffer::ReadResult ReceiveBuffer::readFrom(int fd)
{
    const std::lock_guard lock(m_mutex);
    const qsizetype had = m_bytes.size();
    // As much as is waiting (a slow line brings a few bytes, and the buffer
    // then grows by those rather than by a whole read's room each time), at
    // least one byte so that an end or an error is read too.
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) < 0)
        waiting = 0;
    const qsizetype room = std::min({ReadSize, m_limit - had, std::max<qsizetype>(waiting, 1)});
    if (room <= 0 || m_starved)
        return {Read::Received, 0};
    try {
        // Doubling, so a line that is never read costs amortised constant
        // time per byte, never a copy of everything per read; never past the
        // limit, so growing holds at most half the limit and the limit at
        // once (SerialControl::receiveMemory).
        if (m_bytes.capacity() - had < room)
            m_bytes.reserve(std::min(m_limit, std::max(2 * m_bytes.capacity(), had + room)));
        m_bytes.resize(had + room);
    } catch (const std::bad_alloc &) {
        // Nothing was read, so nothing is lost: the line waits, as at the limit.
        m_bytes.resize(had);
        m_starved = true;
        m_overflowDue = true;
        notifyIfDue();
        return {Read::Received, 0};
    }

    const ssize_t got = ::read(fd, m_bytes.data() + had, static_cast<std::size_t>(room));
    const int error = errno;
    m_bytes.resize(had + std::max<qsizetype>(got, 0));
    if (got > 0) {
        if (m_bytes.size() >= m_limit)
            m_overflowDue = true;
        notifyIfDue();
        return {Read::Received, got};
    }
    if (got < 0 && (error == EAGAIN || error == EINTR))
        return {Read::NothingYet, 0};
    // 0 is end of file: a hung-up terminal reads as that for ever. Any error
    // (EIO from a pseudo-terminal whose other side closed, ENODEV from an
    // adapter pulled out) would repeat just the same on every try.
    return {Read::LineLost, 0};
}

bool ReceiveBuffer::full() const
{
    const std::lock_guard lock(m_mutex);
    return m_starved || m_bytes.size() >= m_limit;
}

void ReceiveBuffer::reportLineLost()
{
    const std::lock_guard lock(m_mutex);
    m_lost = true;
    m_lostDue = true;
    notifyIfDue();
}

ReceiveBuffer::Taken ReceiveBuffer::take()
{
    const std::lock_guard lock(m_mutex);
    Taken taken;
    taken.wasFull = m_starved || m_bytes.size() >= m_limit;
    taken.bytes = std::exchange(m_bytes, QByteArray());
    m_starved = false;
    return taken;
}

void ReceiveBuffer::setThreshold(qsizetype threshold)
{
    const std::lock_guard lock(m_mutex);
    m_threshold = threshold;
    notifyIfDue();
}

bool ReceiveBuffer::lineLost() const
{
    const std::lock_guard lock(m_mutex);
    return m_lost;
}

void ReceiveBuffer::restartLine()
{
    const std::lock_guard lock(m_mutex);
    m_lost = false;
    m_lostDue = false;
}

LineEvent ReceiveBuffer::nextEvent()
{
    const std::lock_guard lock(m_mutex);
    // Cleared first, so bytes that arrive while OnComm runs post exactly one
    // further delivery.
    m_notified = false;
    LineEvent event = LineEvent::None;
    if (m_overflowDue) {
        m_overflowDue = false;
        event = LineEvent::ReceiveOverflow;
    } else if (m_lostDue) {
        m_lostDue = false;
        event = LineEvent::LineLost;
    } else if (thresholdMet()) {
        event = LineEvent::Receive;
    }
    // A Receive event is not posted again for the same bytes: only new bytes
    // or a new threshold make it due again.
    if (m_overflowDue || m_lostDue) {
        m_notified = true;
        m_notify();
    }
    return event;
}

bool ReceiveBuffer::thresholdMet() const
{
    return m_threshold >= 1 && m_bytes.size() >= m_threshold;
}

void ReceiveBuffer::notifyIfDue()
{
    if (m_notified || !(m_overflowDue || m_lostDue || thresholdMet()))
        return;
    m_notified = true;
    m_notify();
}
