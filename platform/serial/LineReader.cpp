#include "LineReader.h"

#include "ErrorReport.h"
#include "ExitList.h"
#include "ReceiveBuffer.h"
#include "SystemError.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include <poll.h>
#include <time.h>
#include <sys/eventfd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Always OpenFailed: an eventfd or a thread that cannot be had is the
// system running short, whatever its errno (eventfd's ENODEV included), and
// says nothing about the device.
[[noreturn]] void failToStart(const QString &device, int error)
{
    throw ErrorReport(ErrorNumber::OpenFailed,
                      u"%1: cannot start reading: %2"_s.arg(device, SystemError::description(error)));
}

UniqueFd makeWakeUp(const QString &device)
{
    UniqueFd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd.valid())
        failToStart(device, errno);
    return fd;
}

} // namespace

LineReader::LineReader(const QString &device, int fd, ReceiveBuffer &buffer, std::int32_t baudRate)
    : m_fd(fd)
    , m_buffer(buffer)
    , m_wakeUp(makeWakeUp(device))
    , m_gatherMicroseconds(gatherTime(baudRate).count())
{
    // Listed after its device: stopped at exit before the device is put back.
    RunningReaders::add(this);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error &failure) {
        RunningReaders::remove(this);
        failToStart(device, failure.code().value());
    }
}

LineReader::~LineReader()
{
    RunningReaders::remove(this);
    stop();
}

void LineReader::stop() noexcept
{
    m_stop.store(true);
    wake();
    if (m_thread.joinable())
        m_thread.join();
}

void LineReader::wake() noexcept
{
    const std::uint64_t one = 1;
    // Only EAGAIN can fail this (the counter is full), and then a wake-up is
    // pending anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeUp.get(), &one, sizeof one);
}

void LineReader::setBaudRate(std::int32_t baudRate) noexcept
{
    m_gatherMicroseconds.store(gatherTime(baudRate).count());
}

std::chrono::microseconds LineReader::gatherTime(std::int32_t baudRate) noexcept
{
    // Ten bits a character: a start bit, eight data bits and a stop bit,
    // near enough for every framing.
    const std::int64_t charactersPerSecond = std::max<std::int64_t>(1, baudRate / 10);
    const std::chrono::microseconds filling(GatherBelow * 1'000'000 / charactersPerSecond);
    return std::min(filling, GatherAtMost);
}

void LineReader::gather() noexcept
{
    const std::int64_t microseconds = m_gatherMicroseconds.load();
    const timespec wait{static_cast<time_t>(microseconds / 1'000'000),
                        static_cast<long>(microseconds % 1'000'000 * 1000)};
    // Only the wake-up: a stop, or room after a full buffer, ends the wait
    // early. An interrupted wait just reads sooner.
    pollfd wakeUp{m_wakeUp.get(), POLLIN, 0};
    ::ppoll(&wakeUp, 1, &wait, nullptr);
}

void LineReader::run() noexcept
{
    using Clock = std::chrono::steady_clock;
    // Whether the line is slow, and small reads are gathered. The baud rate
    // alone cannot tell: a USB device or a pseudo-terminal ignores it.
    bool slow = true;
    while (!m_stop.load()) {
        // A full buffer leaves the device out of the poll altogether: its
        // POLLHUP would otherwise wake the thread again and again.
        const bool full = m_buffer.full();
        pollfd watched[2] = {{m_wakeUp.get(), POLLIN, 0}, {full ? -1 : m_fd, POLLIN, 0}};
        const Clock::time_point waitStart = Clock::now();
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            // Only a lack of kernel memory fails poll() on valid descriptors;
            // spinning on it would not help the line.
            m_buffer.reportLineLost();
            return;
        }
        if (Clock::now() - waitStart >= GatherAtMost)
            slow = true; // silent for a while: whatever comes next may trickle
        if (watched[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(m_wakeUp.get(), &count, sizeof count);
        }
        const short device = watched[1].revents;
        if (device == 0)
            continue;
        const ReceiveBuffer::ReadResult result = (device & POLLNVAL) != 0
            ? ReceiveBuffer::ReadResult{ReceiveBuffer::Read::LineLost, 0}
            : m_buffer.readFrom(m_fd);
        const bool hungUp = (device & (POLLHUP | POLLERR)) != 0;
        if (result.read == ReceiveBuffer::Read::LineLost
            || (result.read == ReceiveBuffer::Read::NothingYet && hungUp)) {
            m_buffer.reportLineLost();
            return;
        }
        if (result.bytes >= GatherBelow)
            slow = false;
        else if (slow && result.bytes > 0 && !hungUp)
            gather();
    }
}
