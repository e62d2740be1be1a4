// A lost line watched for its return: an adapter unplugged and plugged back,
// played by a pseudo-terminal hung up and a new one in its place, and a
// watched directory of the test's own where the new node "appears".
#include "SerialPortControl.h"

#include "CpuUse.h"
#include "ErrorReport.h"
#include "PseudoTerminal.h"
#include "Wait.h"

#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

#include <termios.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 5000; // ms; generous, only reached when something is wrong

class PortReturnTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_watched.isValid());
        m_control = std::make_unique<SerialPortControl>(
            [this](std::int16_t) {
                if (!m_present)
                    throw ErrorReport(ErrorNumber::DeviceAbsent, u"Comm port 1: no such serial port"_s);
                return PortLocation(m_line->slavePath(), m_socket, m_alone);
            },
            QStringList{m_watched.path()}, SerialPortControl::DefaultReceiveLimit);
        m_control->setRThreshold(1);
    }

    QString receive(qsizetype expected)
    {
        QString received;
        (void)waitUntil([&] {
            received += m_control->Input();
            return received.size() >= expected;
        }, Patience);
        return received;
    }

    // The adapter is pulled out; its line is lost, and the control has let
    // go of it.
    void unplug()
    {
        m_lostLock = m_line->lockFilePath();
        m_line->hangUp();
        ASSERT_TRUE(waitUntil([&] { return !QFile::exists(m_lostLock); }, Patience))
            << "the lost line was not let go of";
        m_present = false;
    }

    // Another line takes its place, in `socket`; its node appears in the
    // watched directory.
    void plugIn(const QString &socket, bool alone = false)
    {
        m_old.push_back(std::move(m_line));
        m_line = std::make_unique<PseudoTerminal>();
        m_socket = socket;
        m_alone = alone;
        m_present = true;
        QFile node(m_watched.filePath(u"ttyUSB0"_s));
        node.remove();
        ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    }

    bool reopened() const { return QFile::exists(m_line->lockFilePath()); }

    QTemporaryDir m_watched;
    std::unique_ptr<PseudoTerminal> m_line = std::make_unique<PseudoTerminal>();
    std::vector<std::unique_ptr<PseudoTerminal>> m_old; // keep their numbers taken
    QString m_socket = u"usb-1-2"_s;
    bool m_alone = false;
    bool m_present = true;
    QString m_lostLock;
    std::unique_ptr<SerialPortControl> m_control;
};

} // namespace

TEST_F(PortReturnTest, ALineBackInItsSocketIsOpenedAgainAndLosesNothing)
{
    m_control->setPortOpen(true);
    m_line->write("before");
    ASSERT_EQ(receive(6), u"before"_s);
    m_line->write("-last");
    ASSERT_TRUE(stallUntil([&] { return m_line->unread() == 0; }, Patience));
    unplug();

    // Away: a setting changed meanwhile applies when the port is back.
    const CpuUse away;
    QTest::qWait(500);
    EXPECT_LT(away.cpuSeconds(), away.wallSeconds() / 5) << "the watch is spinning";
    m_control->setSettings(u"19200,n,8,1"_s);
    EXPECT_TRUE(m_control->PortOpen());

    plugIn(u"usb-1-2"_s);
    ASSERT_TRUE(waitUntil([&] { return reopened(); }, 2000)) << "the port did not come back by itself";
    EXPECT_TRUE(m_control->PortOpen());
    const termios line = m_line->attributes();
    EXPECT_EQ(cfgetispeed(&line), static_cast<speed_t>(B19200));

    m_line->write("after");
    // What came before the loss, once, then what came after, in order.
    EXPECT_EQ(receive(10), u"-lastafter"_s);
}

TEST_F(PortReturnTest, AnotherPortInTheLostOnesPlaceIsLeftAloneUnlessItIsTheOnlyOne)
{
    m_control->setPortOpen(true);
    unplug();

    // The port number now leads to another adapter, which was present all
    // along: it is someone else's line.
    plugIn(u"usb-1-3"_s);
    QTest::qWait(800);
    EXPECT_FALSE(reopened()) << "another adapter was opened in the lost one's place";

    // The adapter moved to another socket, and it is all there is.
    plugIn(u"usb-1-4"_s, true);
    ASSERT_TRUE(waitUntil([&] { return reopened(); }, 2000)) << "the moved adapter was not picked up";
    m_line->write("x");
    EXPECT_EQ(receive(1), u"x"_s);
}

TEST_F(PortReturnTest, ANodeNotYetUsableIsTriedAgainAfterTheChange)
{
    m_control->setPortOpen(true);
    unplug();
    // The node appears while the port is not yet to be had (the driver not
    // ready, udev yet to give it its group); nothing else changes after.
    plugIn(u"usb-1-2"_s);
    m_present = false;
    QTest::qWait(50);
    m_present = true;
    EXPECT_TRUE(waitUntil([&] { return reopened(); }, 3000)) << "a failed return was not tried again";
}

TEST_F(PortReturnTest, CloseWhileAwayEndsTheWatchAndALaterOpenWorks)
{
    m_control->setPortOpen(true);
    unplug();
    m_control->setPortOpen(false);
    plugIn(u"usb-1-2"_s);
    QTest::qWait(800);
    EXPECT_FALSE(reopened()) << "a closed port was opened again";
    EXPECT_FALSE(m_control->PortOpen());

    m_control->setPortOpen(true);
    EXPECT_TRUE(reopened());
    m_line->write("y");
    EXPECT_EQ(receive(1), u"y"_s);
}
