#pragma once

#include "UniqueFd.h"

#include <QtCore/QString>

#include <atomic>
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
// The descriptor is borrowed: it must stay open until the reader is gone.
// Destroying the reader wakes the thread and joins it.
class LineReader
{
public:
    // Throws ErrorReport OpenFailed, naming `device`, when the eventfd or the
    // thread cannot be had.
    LineReader(const QString &device, int fd, ReceiveBuffer &buffer);
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // The buffer has room again.
    void wake() noexcept;

private:
    void run() noexcept;

    const int m_fd;
    ReceiveBuffer &m_buffer;
    UniqueFd m_wakeUp;
    std::atomic<bool> m_stop = false;
    std::thread m_thread; // last: starts once everything it uses exists
};
