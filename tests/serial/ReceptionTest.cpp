// Reception on the control's own thread: what a busy window thread, a full
// buffer and a dead line do to the bytes.
#include "SerialPortControl.h"

#include "CpuUse.h"
#include "FloodWriter.h"
#include "PseudoTerminal.h"
#include "Wait.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QThread>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 10000; // ms; generous, only reached when something is wrong

// Every byte value, over and over, so that a lost, doubled or reordered
// stretch shows at its position.
QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return bytes;
}

// The characters Input gives for bytes: one each, U+0000 to U+00FF.
QString asReceived(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

class ReceptionTest : public ::testing::Test
{
protected:
    void makeControl(qsizetype receiveLimit = SerialPortControl::DefaultReceiveLimit)
    {
        m_control = std::make_unique<SerialPortControl>(
            [this](std::int16_t) { return m_line->slavePath(); }, receiveLimit);
        QObject::connect(m_control.get(), &SerialControl::OnComm, m_control.get(), [this] {
            m_events.push_back(m_control->commEvent());
            if (m_readOnComm)
                m_received += m_control->Input();
        });
    }

    std::unique_ptr<PseudoTerminal> m_line = std::make_unique<PseudoTerminal>();
    std::unique_ptr<SerialPortControl> m_control;
    std::vector<LineEvent> m_events;
    bool m_readOnComm = true; // the handler reads Input, as the program's does
    QString m_received;
};

} // namespace

// A pseudo-terminal holds some 20 KiB, so a line that waited for the event
// loop would keep the writer blocked for as long as the stall lasts: here,
// until the device has sent everything.
TEST_F(ReceptionTest, AWindowThreadStallHoldsNothingBack)
{
    makeControl();
    m_control->setRThreshold(1);
    m_control->setPortOpen(true);
    const QByteArray sent = pattern(256 * 1024);

    FloodWriter writer(m_line->masterFd(), sent);
    ASSERT_TRUE(stallUntil([&] { return writer.done(); }, Patience))
        << "the line was held back while the window thread stalled: " << writer.written() << " bytes taken";

    ASSERT_TRUE(waitUntil([&] { return m_received.size() >= sent.size(); }, Patience));
    runEventsFor(100);
    EXPECT_TRUE(m_received == asReceived(sent)) << "received " << m_received.size() << " characters";
    EXPECT_EQ(m_control->Input(), QString());
    EXPECT_FALSE(m_events.empty());
    for (const LineEvent event : m_events)
        EXPECT_EQ(event, LineEvent::Receive);
}

// The bytes the control took before the line died are its own, even if the
// window thread sees the loss only later; the kernel throws away whatever
// was still in the line at the hang-up.
TEST_F(ReceptionTest, ALineLostWhileTheWindowIsBusyKeepsWhatWasTaken)
{
    makeControl();
    m_control->setRThreshold(1);
    m_control->setPortOpen(true);
    const QString lockFile = m_line->lockFilePath();

    m_line->write("taken before the end");
    ASSERT_TRUE(stallUntil([&] { return m_line->unread() == 0; }, Patience))
        << "the reader did not take the bytes while the event loop did not run";
    m_line->hangUp();
    // Until the window thread looks, the dead line must cost nothing.
    const CpuUse deadLine;
    QThread::msleep(500);
    EXPECT_LT(deadLine.cpuSeconds(), deadLine.wallSeconds() / 4) << "the reader spins on the dead line";

    ASSERT_TRUE(waitUntil([&] { return !m_events.empty() && m_events.back() == LineEvent::LineLost; },
                          Patience));
    EXPECT_EQ(m_received, u"taken before the end"_s);
    EXPECT_TRUE(m_control->PortOpen());
    EXPECT_FALSE(QFile::exists(lockFile)) << "the dead line's lock is still held";
    EXPECT_EQ(m_control->Input(), QString());
}

// A device that sends a character at a time: the control gathers what comes
// over a few tens of milliseconds rather than raising OnComm for every
// character, and still hands on every one of them, in order.
TEST_F(ReceptionTest, ASlowLineIsHandedOnInGathersNotCharacterByCharacter)
{
    makeControl();
    m_control->setRThreshold(1);
    m_control->setPortOpen(true);
    const QByteArray sent = pattern(200);
    QElapsedTimer sending;
    sending.start();
    for (const char byte : sent) {
        m_line->write(QByteArray(1, byte));
        QTest::qWait(2);
    }
    const qint64 sendingMs = sending.elapsed();
    ASSERT_TRUE(waitUntil([&] { return m_received.size() >= sent.size(); }, Patience));
    EXPECT_TRUE(m_received == asReceived(sent)) << "received " << m_received.size() << " characters";
    // About as often as the text box repaints: never more than one OnComm
    // for each 20 ms the device took (a busy machine only stretches that),
    // and one for what came after the last gather began.
    EXPECT_LE(m_events.size(), static_cast<std::size_t>(2 + sendingMs / 20))
        << sent.size() << " characters over " << sendingMs << " ms";
}

// With nothing reading, the control fills up to its limit and no further:
// the line itself holds the rest (a pseudo-terminal blocks its writer).
// Each time the limit is reached OnComm says so, whatever RThreshold is;
// every Input lets reading go on, and in the end every byte came once.
TEST_F(ReceptionTest, TheLimitStopsReadingUntilInputAndLosesNothing)
{
    constexpr qsizetype limit = 64 * 1024;
    makeControl(limit);
    m_readOnComm = false;
    m_control->setPortOpen(true); // RThreshold 0: no Receive events at all
    const QByteArray sent = pattern(4 * limit);
    FloodWriter writer(m_line->masterFd(), sent);

    ASSERT_TRUE(waitUntil([&] { return !m_events.empty(); }, Patience));
    EXPECT_EQ(m_events, std::vector<LineEvent>{LineEvent::ReceiveOverflow});
    ASSERT_TRUE(waitUntil([&] { return writer.blocked(); }, Patience))
        << "the line never filled up: " << writer.written() << " bytes taken";

    // Full: reading has stopped, and stopped reading is no busy waiting...
    const CpuUse full;
    QThread::msleep(500);
    EXPECT_LT(full.cpuSeconds(), full.wallSeconds() / 4) << "the reader spins while the buffer is full";
    // ...nor news for the window thread until something is taken.
    runEventsFor(200);
    EXPECT_FALSE(writer.done()) << "bytes beyond the limit went somewhere";
    EXPECT_EQ(m_events.size(), 1u);

    m_received = m_control->Input();
    EXPECT_EQ(m_received.size(), limit);
    m_readOnComm = true;
    ASSERT_TRUE(waitUntil([&] { return m_received.size() >= sent.size(); }, Patience));
    ASSERT_TRUE(waitUntil([&] { return writer.done(); }, Patience));
    runEventsFor(200);
    EXPECT_TRUE(m_received == asReceived(sent)) << "received " << m_received.size() << " characters";
    EXPECT_EQ(m_events, std::vector<LineEvent>(4, LineEvent::ReceiveOverflow));
    EXPECT_EQ(m_control->Input(), QString());
}

// The line dies while the buffer is at its limit and the window thread has
// not yet heard of the overflow: it hears of both, and every byte the
// control took comes out once. Exactly the limit is sent, so that nothing is
// left in the line for the hang-up to throw away.
TEST_F(ReceptionTest, ALineLostWithTheBufferFullReportsBothAndLosesNothing)
{
    constexpr qsizetype limit = 16 * 1024;
    makeControl(limit);
    m_control->setPortOpen(true); // RThreshold 0: only the overflow and the loss raise OnComm
    const QString lockFile = m_line->lockFilePath();
    const QByteArray sent = pattern(limit);

    // In pieces the line's input queue holds whole, so that unread() counts
    // every byte until the reader has it.
    for (qsizetype at = 0; at < sent.size(); at += 1024) {
        m_line->write(sent.mid(at, 1024));
        ASSERT_TRUE(stallUntil([&] { return m_line->unread() == 0; }, Patience))
            << "the reader stopped at " << at << " bytes while the event loop did not run";
    }
    m_line->hangUp();

    ASSERT_TRUE(waitUntil([&] { return std::ranges::count(m_events, LineEvent::LineLost) > 0; }, Patience))
        << "the loss of a line with a full buffer was never reported";
    runEventsFor(100);
    EXPECT_EQ(m_events, (std::vector<LineEvent>{LineEvent::ReceiveOverflow, LineEvent::LineLost}));
    EXPECT_TRUE(m_received == asReceived(sent)) << "received " << m_received.size() << " characters";
    EXPECT_EQ(m_control->Input(), QString());
    EXPECT_TRUE(m_control->PortOpen());
    EXPECT_FALSE(QFile::exists(lockFile)) << "the dead line's lock is still held";
}

// Another program flushing the line's input while the device sends empties
// the queue between the reader's wake-up and its read: finding nothing to
// read is no lost line, and what comes later is read.
TEST_F(ReceptionTest, InputFlushedByAnotherProgramIsNoLostLine)
{
    makeControl();
    // Opened before the control takes the line for itself.
    const int other = ::open(m_line->slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    m_control->setRThreshold(1);
    m_control->setPortOpen(true);
    std::atomic<bool> stop = false;
    std::thread flusher([&stop, other] {
        while (!stop.load()) {
            ::tcflush(other, TCIFLUSH);
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    {
        const FloodWriter writer(m_line->masterFd());
        runEventsFor(500);
    }
    stop.store(true);
    flusher.join();
    ::close(other);

    const QString last = u"sent after the flushing\r\n"_s;
    m_line->write(last.toLatin1());
    EXPECT_TRUE(waitUntil([&] { return m_received.endsWith(last); }, Patience)) << "reading stopped";
    EXPECT_EQ(std::ranges::count(m_events, LineEvent::LineLost), 0);
    EXPECT_TRUE(m_control->PortOpen());
}
