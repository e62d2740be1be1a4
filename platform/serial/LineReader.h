#pragma once

#include "ExitList.h"
#include "UniqueFd.h"

#include <QtCore/QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

class ReceiveBuffer;

// Reads one open device into a ReceiveBuffer on a thread of its own, so that
// reception never waits for the window thread: a long append, a modal box or
// a slow repaint there holds back only the notification, not the line.
//
// The thread sleeps in poll() on the device and on a wake-up eventfd. It
// stops reading the device while the buffer is full and goes on when woken
// after the buffer was emptied. When the line goes away (end of file, an
// error, POLLHUP with nothing to read) it reports the loss to the buffer and
// ends, so a dead line costs nothing until the reader is destroyed.
//
// A slow line is gathered: after a read that brought fewer than GatherBelow
// bytes the thread waits up to gatherTime() before it reads again, so a
// device trickling a few characters at a time wakes the program about as
// often as the text box repaints (some thirty times a second), instead of
// for every few characters. The wait is never longer than the line takes to
// bring GatherBelow bytes at its baud rate, so a fast line cannot fill the
// terminal's input buffer (4 KiB) meanwhile. A read that brings GatherBelow
// bytes or more shows a fast line (a USB device or a pseudo-terminal ignores
// the baud rate), which is then read at once, flat out, until it falls
// silent for GatherAtMost.
//
// The descriptor is borrowed: it must stay open until the reader is gone.
// Destroying the reader wakes the thread and joins it.
//
// The toolkit ends the program with exit() when its display goes away,
// without unwinding the window's objects, so no reader would be destroyed:
// its thread would go on reading, and posting to the window thread, while
// static objects are torn down. A running reader is stopped by an exit
// handler instead, before the devices are put back (SerialDevice).
class LineReader
{
public:
    // Throws ErrorReport OpenFailed, naming `device`, when the eventfd or the
    // thread cannot be had.
    LineReader(const QString &device, int fd, ReceiveBuffer &buffer, std::int32_t baudRate);
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // The buffer has room again.
    void wake() noexcept;
    // The line now runs at `baudRate`.
    void setBaudRate(std::int32_t baudRate) noexcept;

    static constexpr qsizetype GatherBelow = 256;
    static constexpr std::chrono::microseconds GatherAtMost{30'000};
    // How long to gather after a small read on a line of `baudRate`.
    static std::chrono::microseconds gatherTime(std::int32_t baudRate) noexcept;

private:
    // Wakes the thread and joins it; once only.
    void stop() noexcept;
    using RunningReaders = ExitList<LineReader, &LineReader::stop>;
    friend RunningReaders;
    void run() noexcept;
    // Waits the gather time, or less if woken.
    void gather() noexcept;

    const int m_fd;
    ReceiveBuffer &m_buffer;
    UniqueFd m_wakeUp;
    std::atomic<bool> m_stop = false;
    std::atomic<std::int64_t> m_gatherMicroseconds = 0;
    std::thread m_thread; // last: starts once everything it uses exists
};
