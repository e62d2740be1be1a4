#pragma once

#include <QtCore/QByteArray>

#include <atomic>
#include <thread>
#include <utility>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// The device side of a line sending as fast as the line takes it, from a
// thread of its own, so that the test's thread stays free to be the
// program's window thread (or to stall as one would). It writes to `fd`, a
// pseudo-terminal's master, which it makes non-blocking; the descriptor must
// outlive the writer. A writer still sending when it is destroyed stops
// then, so a failing test does not hang on it.
class FloodWriter
{
public:
    // Sends readings, as a sensor would, over and over until it is destroyed
    // or the line goes.
    explicit FloodWriter(int fd)
        : FloodWriter(fd, readings(), true)
    {
    }

    // Sends `bytes` once.
    FloodWriter(int fd, QByteArray bytes)
        : FloodWriter(fd, std::move(bytes), false)
    {
    }

    ~FloodWriter()
    {
        m_stop.store(true);
        m_thread.join();
    }
    FloodWriter(const FloodWriter &) = delete;
    FloodWriter &operator=(const FloodWriter &) = delete;

    // "reading 0 23.5 C\r\n", "reading 1 23.5 C\r\n"... to at least 64 KiB.
    static QByteArray readings()
    {
        QByteArray text;
        for (int i = 0; text.size() < 64 * 1024; ++i)
            text += "reading " + QByteArray::number(i) + " 23.5 C\r\n";
        return text;
    }

    // Bytes the line has taken so far.
    qint64 written() const { return m_written.load(); }
    // Every byte of a one-time text was taken.
    bool done() const { return m_done.load(); }
    // The line had no room at the last try: whoever reads it has stopped,
    // and the kernel's buffers are full up to the device.
    bool blocked() const { return m_blocked.load(); }

private:
    FloodWriter(int fd, QByteArray bytes, bool repeat)
        : m_fd(fd)
        , m_bytes(std::move(bytes))
        , m_repeat(repeat)
    {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_thread = std::thread([this] { run(); });
    }

    void run()
    {
        qsizetype at = 0;
        while (!m_stop.load()) {
            if (at == m_bytes.size()) {
                if (!m_repeat) {
                    m_done.store(true);
                    return;
                }
                at = 0;
            }
            const ssize_t written = ::write(m_fd, m_bytes.constData() + at,
                                            static_cast<std::size_t>(m_bytes.size() - at));
            if (written > 0) {
                at += written;
                m_written += written;
                m_blocked.store(false);
            } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
                return; // the line is gone
            } else {
                m_blocked.store(written < 0 && errno == EAGAIN);
                pollfd room{m_fd, POLLOUT, 0};
                ::poll(&room, 1, 20);
            }
        }
    }

    const int m_fd;
    const QByteArray m_bytes;
    const bool m_repeat;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_done = false;
    std::atomic<bool> m_blocked = false;
    std::atomic<qint64> m_written = 0;
    std::thread m_thread; // last: starts once everything it uses exists
};
