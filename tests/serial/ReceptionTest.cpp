// Reception on the control's own thread: what a busy window thread, a full
// buffer and a dead line do to the bytes.
#include "SerialPortControl.h"

#include "PseudoTerminal.h"

#include <QtCore/QFile>
#include <QtCore/QThread>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 10000; // ms; generous, only reached when something is wrong

using Clock = std::chrono::steady_clock;

double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

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

// The device side of the line, writing from a thread of its own as fast as
// the line takes it; finishedAt() is when the last byte was taken. A writer
// that never finishes is stopped when the test ends, so a failing test does
// not hang on it.
class Writer
{
public:
    Writer(PseudoTerminal &line, QByteArray bytes)
        : m_fd(line.masterFd())
        , m_bytes(std::move(bytes))
    {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_thread = std::thread([this] { run(); });
    }
    ~Writer()
    {
        m_stop.store(true);
        m_thread.join();
    }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    bool done() const { return m_done.load(); }
    Clock::time_point finishedAt() const { return m_finishedAt; } // once done()

private:
    void run()
    {
        qsizetype at = 0;
        while (at < m_bytes.size() && !m_stop.load()) {
            const ssize_t written = ::write(m_fd, m_bytes.constData() + at,
                                            static_cast<std::size_t>(m_bytes.size() - at));
            if (written > 0) {
                at += written;
            } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
                return;
            } else {
                pollfd room{m_fd, POLLOUT, 0};
                ::poll(&room, 1, 20);
            }
        }
        if (at == m_bytes.size()) {
            m_finishedAt = Clock::now();
            m_done.store(true);
        }
    }

    const int m_fd;
    const QByteArray m_bytes;
    std::atomic<bool> m_stop = false;
    std::atomic<bool> m_done = false;
    Clock::time_point m_finishedAt;
    std::thread m_thread;
};

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

// A pseudo-terminal holds under 20 KiB, so a line that waited for the event
// loop would keep the writer blocked for the whole stall.
TEST_F(ReceptionTest, AWindowThreadStallHoldsNothingBack)
{
    makeControl();
    m_control->setRThreshold(1);
    m_control->setPortOpen(true);
    const QByteArray sent = pattern(256 * 1024);

    const Clock::time_point stallEnds = Clock::now() + std::chrono::seconds(2);
    Writer writer(*m_line, sent);
    QThread::sleep(2);
    ASSERT_TRUE(writer.done()) << "the line was held back while the window thread stalled";
    EXPECT_LE(writer.finishedAt(), stallEnds);

    ASSERT_TRUE(QTest::qWaitFor([&] { return m_received.size() >= sent.size(); }, Patience));
    QTest::qWait(100);
    EXPECT_TRUE(m_received == asReceived(sent)) << "received " << m_received.size() << " characters";
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
    QThread::msleep(500); // the reader takes the bytes; the loop does not run
    m_line->hangUp();
    // Until the window thread looks, the dead line must cost nothing.
    const double cpuBefore = processCpuSeconds();
    const Clock::time_point wallBefore = Clock::now();
    QThread::msleep(500);
    const double cpuUsed = processCpuSeconds() - cpuBefore;
    const double wallUsed = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    EXPECT_LT(cpuUsed, wallUsed / 4) << "the reader spins on the dead line";

    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_events.empty() && m_events.back() == LineEvent::LineLost; },
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
    for (const char byte : sent) {
        m_line->write(QByteArray(1, byte));
        QTest::qWait(2);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_received.size() >= sent.size(); }, Patience));
    EXPECT_TRUE(m_received == asReceived(sent)) << "received " << m_received.size() << " characters";
    EXPECT_LT(m_events.size(), static_cast<std::size_t>(sent.size() / 4));
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
    Writer writer(*m_line, sent);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_events.empty(); }, Patience));
    EXPECT_EQ(m_events, std::vector<LineEvent>{LineEvent::ReceiveOverflow});

    // Full: reading has stopped, and stopped reading is no busy waiting.
    const double cpuBefore = processCpuSeconds();
    const Clock::time_point wallBefore = Clock::now();
    QThread::msleep(500);
    const double cpuUsed = processCpuSeconds() - cpuBefore;
    const double wallUsed = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    EXPECT_LT(cpuUsed, wallUsed / 4) << "the reader spins while the buffer is full";
    EXPECT_FALSE(writer.done()) << "bytes beyond the limit went somewhere";
    EXPECT_EQ(m_events.size(), 1u);

    m_received = m_control->Input();
    EXPECT_EQ(m_received.size(), limit);
    m_readOnComm = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_received.size() >= sent.size(); }, Patience));
    ASSERT_TRUE(QTest::qWaitFor([&] { return writer.done(); }, Patience));
    QTest::qWait(200);
    EXPECT_TRUE(m_received == asReceived(sent)) << "received " << m_received.size() << " characters";
    EXPECT_EQ(m_events, std::vector<LineEvent>(4, LineEvent::ReceiveOverflow));
    EXPECT_EQ(m_control->Input(), QString());
}
