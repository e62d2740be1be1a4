#pragma once

#include "LineEvent.h"

#include <QtCore/QByteArray>

#include <functional>
#include <mutex>

// What the line delivered and the control has not yet handed out, shared by
// the thread that reads the device and the window thread that takes it.
// Every member is safe to call from either thread; the comments say which
// one calls it.
//
// It also decides when OnComm is due, so that the decision and the bytes it
// is about are seen under one lock: at most one notification is pending at a
// time, however many reads happen before the window thread gets to it.
//
// Nothing is ever dropped. Once `limit` bytes wait, reads stop (the line's
// own flow control, or its loss, takes over outside the program) and a
// ReceiveOverflow event is due; taking the bytes lets reads go on.
class ReceiveBuffer
{
public:
    // `notify` posts a delivery to the window thread, which then calls
    // nextEvent(). It is called with the buffer's lock held, from either
    // thread, and must do nothing but post.
    ReceiveBuffer(qsizetype limit, std::function<void()> notify);
    ReceiveBuffer(const ReceiveBuffer &) = delete;
    ReceiveBuffer &operator=(const ReceiveBuffer &) = delete;

    enum class Read {
        Received,   // bytes came, or there was no room for them
        NothingYet, // the device had nothing after all
        LineLost,   // end of file or an error: the line is gone
    };

    struct ReadResult
    {
        Read read = Read::NothingYet;
        qsizetype bytes = 0; // how many came
    };
    // Reader: one non-blocking read() of `fd` straight into the buffer.
    ReadResult readFrom(int fd);
    // Reader: whether reads must wait until the window thread takes bytes.
    bool full() const;
    // Reader: the line is gone; a LineLost event is due.
    void reportLineLost();

    struct Taken
    {
        QByteArray bytes;
        bool wasFull = false; // the reader waits to be woken
    };
    // Window: every waiting byte, in order of arrival.
    Taken take();

    // Window: the receive threshold (0: no Receive events).
    void setThreshold(qsizetype threshold);
    // Window: whether the reader reported the line gone since restartLine().
    bool lineLost() const;
    // Window: a new line (or none): forget the last one's loss, and a
    // LineLost event not yet delivered with it.
    void restartLine();

    // Window, on a delivery: the event to raise OnComm for (None: no longer
    // due). Events the reader reported come first, one per delivery, and
    // each further one posts its own delivery.
    LineEvent nextEvent();

private:
    bool thresholdMet() const;
    void notifyIfDue();

    const qsizetype m_limit;
    const std::function<void()> m_notify;

    mutable std::mutex m_mutex;
    QByteArray m_bytes;
    qsizetype m_threshold = 0;
    bool m_starved = false; // memory ran out below the limit: acts as full
    bool m_overflowDue = false;
    bool m_lost = false;
    bool m_lostDue = false;
    bool m_notified = false;
};
