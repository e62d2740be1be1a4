#include "LineReader.h"

#include "ErrorReport.h"
#include "ReceiveBuffer.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void failToStart(const QString &device, int error)
{
    throw ErrorReport(ErrorNumber::OpenFailed,
                      u"%1: cannot start reading: %2"_s.arg(device,
                                                            QString::fromLocal8Bit(std::strerror(error))));
}

UniqueFd makeWakeUp(const QString &device)
{
    UniqueFd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!fd.valid())
        failToStart(device, errno);
    return fd;
}

} // namespace

LineReader::LineReader(const QString &device, int fd, ReceiveBuffer &buffer)
    : m_fd(fd)
    , m_buffer(buffer)
    , m_wakeUp(makeWakeUp(device))
{
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error &failure) {
        failToStart(device, failure.code().value());
    }
}

LineReader::~LineReader()
{
    m_stop.store(true);
    wake();
    m_thread.join();
}

void LineReader::wake() noexcept
{
    const std::uint64_t one = 1;
    // Only EAGAIN can fail this (the counter is full), and then a wake-up is
    // pending anyway.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeUp.get(), &one, sizeof one);
}

void LineReader::run() noexcept
{
    while (!m_stop.load()) {
        // A full buffer leaves the device out of the poll altogether: its
        // POLLHUP would otherwise wake the thread again and again.
        const bool full = m_buffer.full();
        pollfd watched[2] = {{m_wakeUp.get(), POLLIN, 0}, {full ? -1 : m_fd, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            // Only a lack of kernel memory fails poll() on valid descriptors;
            // spinning on it would not help the line.
            m_buffer.reportLineLost();
            return;
        }
        if (watched[0].revents != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(m_wakeUp.get(), &count, sizeof count);
        }
        const short device = watched[1].revents;
        if (device == 0)
            continue;
        const ReceiveBuffer::Read read = (device & POLLNVAL) != 0 ? ReceiveBuffer::Read::LineLost
                                                                   : m_buffer.readFrom(m_fd);
        const bool hungUp = (device & (POLLHUP | POLLERR)) != 0;
        if (read == ReceiveBuffer::Read::LineLost
            || (read == ReceiveBuffer::Read::NothingYet && hungUp)) {
            m_buffer.reportLineLost();
            return;
        }
    }
}
