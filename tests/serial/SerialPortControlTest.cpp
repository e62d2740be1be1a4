#include "SerialPortControl.h"

#include "CpuUse.h"
#include "ErrorReport.h"
#include "MetaMethod.h"
#include "PortNeighbours.h"
#include "PseudoTerminal.h"
#include "SystemError.h"
#include "Wait.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryFile>
#include <QtCore/QThread>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 5000; // ms; generous, only reached when something is wrong

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

class SerialPortControlTest : public ::testing::Test
{
protected:
    // Waits, running no events, until the control's reader has taken every
    // byte written so far: what the reader took is what the window thread
    // will find, however late it looks.
    [[nodiscard]] bool readerTookAll() const
    {
        return stallUntil([this] { return m_line->unread() == 0; }, Patience);
    }

    // Collects what Input returns until `expected` bytes came or time ran out.
    QString receive(qsizetype expected)
    {
        QString received;
        (void)QTest::qWaitFor([&] {
            received += m_control->Input();
            return received.size() >= expected;
        }, Patience);
        return received;
    }

    std::unique_ptr<PseudoTerminal> m_line = std::make_unique<PseudoTerminal>();
    QString m_device = m_line->slavePath();
    std::unique_ptr<SerialPortControl> m_control = std::make_unique<SerialPortControl>(
        [this](std::int16_t port) { return port == 1 ? m_device : u"/dev/linewatch-no-such-port"_s; });
};

} // namespace

TEST_F(SerialPortControlTest, StartsClosedWithDocumentedDefaults)
{
    EXPECT_EQ(m_control->CommPort(), 1);
    EXPECT_FALSE(m_control->DTREnable());
    EXPECT_EQ(m_control->Settings(), u"9600,n,8,1"_s);
    EXPECT_EQ(m_control->RThreshold(), 0);
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_EQ(m_control->Input(), QString());
}

// A Linux pseudo-terminal always runs 8 data bits without parity (the driver
// resets CSIZE and PARENB on every tcsetattr); only the baud rate and the
// stop bits can be seen changing on it. The other fields are covered by the
// refusals below: the control must notice that the line did not take them.
TEST_F(SerialPortControlTest, SettingsApplyAtOpenAndWhileOpen)
{
    m_control->setSettings(u"19200,N,8,2"_s);
    m_control->setPortOpen(true);
    termios atOpen = m_line->attributes();
    EXPECT_EQ(cfgetispeed(&atOpen), B19200);
    EXPECT_EQ(atOpen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(atOpen.c_cflag & PARENB);
    EXPECT_TRUE(atOpen.c_cflag & CSTOPB);

    m_control->setSettings(u"4800,n,8,1"_s);
    termios whileOpen = m_line->attributes();
    EXPECT_EQ(cfgetispeed(&whileOpen), B4800);
    EXPECT_FALSE(whileOpen.c_cflag & CSTOPB);
    EXPECT_EQ(m_control->Settings(), u"4800,n,8,1"_s);

    // The line is raw: no byte is translated, dropped or echoed.
    EXPECT_FALSE(whileOpen.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(whileOpen.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON));

    // A rate termios has no constant for runs as "other" (BOTHER, which
    // glibc calls CBAUDEX) rather than being refused or rounded to a named one.
    m_control->setSettings(u"250000,n,8,1"_s);
    termios custom = m_line->attributes();
    EXPECT_EQ(cfgetispeed(&custom), static_cast<speed_t>(CBAUDEX));
    EXPECT_EQ(m_control->Settings(), u"250000,n,8,1"_s);
}

TEST_F(SerialPortControlTest, RefusedSettingsWhileOpenKeepTheLineAndTheProperty)
{
    m_control->setSettings(u"19200,n,8,2"_s);
    m_control->setPortOpen(true);
    const termios before = m_line->attributes();

    const ErrorReport malformed = reportFrom([&] { m_control->setSettings(u"9600,x,8,1"_s); });
    EXPECT_EQ(malformed.Number(), ErrorNumber::InvalidPropertyValue);

    for (const QString &refusedText : {u"9600,n,8,1.5"_s, u"9600,e,8,1"_s, u"9600,o,8,1"_s,
                                       u"9600,m,8,1"_s, u"9600,s,8,1"_s, u"9600,n,7,1"_s}) {
        const ErrorReport refused = reportFrom([&] { m_control->setSettings(refusedText); });
        EXPECT_EQ(refused.Number(), ErrorNumber::ConfigurationFailed) << refusedText.toStdString();
        EXPECT_TRUE(refused.Description().startsWith(m_device + u": "_s))
            << refused.Description().toStdString();
        EXPECT_EQ(m_control->Settings(), u"19200,n,8,2"_s);
        const termios after = m_line->attributes();
        EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&before)) << refusedText.toStdString();
        EXPECT_EQ(after.c_cflag, before.c_cflag) << refusedText.toStdString();
    }
    EXPECT_TRUE(m_control->PortOpen());
    m_line->write("fine");
    EXPECT_EQ(receive(4), u"fine"_s);
}

TEST_F(SerialPortControlTest, RefusedSettingsFailTheOpenAndLeaveThePortClosed)
{
    for (const QString &refusedText : {u"9600,n,8,1.5"_s, u"19200,e,7,2"_s}) {
        m_control->setSettings(refusedText); // well formed, so stored while closed
        const ErrorReport report = reportFrom([&] { m_control->setPortOpen(true); });
        EXPECT_EQ(report.Number(), ErrorNumber::ConfigurationFailed);
        EXPECT_TRUE(report.Description().startsWith(m_device + u": "_s))
            << report.Description().toStdString();
        EXPECT_FALSE(m_control->PortOpen());
        EXPECT_FALSE(QFile::exists(m_line->lockFilePath()));
    }

    m_control->setSettings(u"9600,n,8,2"_s);
    m_control->setPortOpen(true);
    EXPECT_TRUE(m_control->PortOpen());
}

TEST_F(SerialPortControlTest, AllByteValuesArriveUnchangedInOrder)
{
    m_control->setPortOpen(true);
    QByteArray sent;
    for (int round = 0; round < 3; ++round) {
        QByteArray burst;
        for (int value = 0; value < 256; ++value)
            burst.append(static_cast<char>(round % 2 == 0 ? value : 255 - value));
        for (qsizetype at = 0; at < burst.size(); at += 100) {
            m_line->write(burst.mid(at, 100));
            sent += burst.mid(at, 100);
            QTest::qWait(1);
        }
    }

    const QString received = receive(sent.size());
    ASSERT_EQ(received.size(), sent.size());
    for (qsizetype i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(received.at(i).unicode(), static_cast<unsigned char>(sent.at(i)))
            << "at " << i;
    }
    EXPECT_EQ(m_control->Input(), QString());
}

TEST_F(SerialPortControlTest, OnCommOnlyWhenThresholdReachedAndNeverInsideAPropertyCall)
{
    QSignalSpy onComm(m_control.get(), &SerialControl::OnComm);
    m_control->setRThreshold(3);
    m_control->setPortOpen(true);

    m_line->write("ab");
    ASSERT_TRUE(readerTookAll());
    QTest::qWait(200);
    EXPECT_EQ(onComm.count(), 0);

    m_line->write("c");
    ASSERT_TRUE(QTest::qWaitFor([&] { return onComm.count() == 1; }, Patience));
    EXPECT_EQ(m_control->Input(), u"abc"_s);

    // Lowering the threshold under waiting input raises OnComm, from the
    // event loop rather than from the set itself. The input must be waiting
    // first: a "d" read only after the set would raise OnComm by itself.
    m_line->write("d");
    ASSERT_TRUE(readerTookAll());
    QTest::qWait(200);
    EXPECT_EQ(onComm.count(), 1);
    m_control->setRThreshold(1);
    EXPECT_EQ(onComm.count(), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return onComm.count() == 2; }, Patience));
    EXPECT_EQ(m_control->Input(), u"d"_s);

    m_control->setRThreshold(0);
    m_line->write("e");
    EXPECT_EQ(receive(1), u"e"_s);
    QTest::qWait(100);
    EXPECT_EQ(onComm.count(), 2);
}

TEST_F(SerialPortControlTest, OnCommIsCoalescedWhileTheEventLoopIsBusy)
{
    m_control->setRThreshold(1);
    m_control->setPortOpen(true);
    int calls = 0;
    QObject::connect(m_control.get(), &SerialControl::OnComm, m_control.get(), [&] {
        if (++calls != 1)
            return;
        // A slow slot: several bursts arrive, each read on its own, before
        // it returns.
        for (int burst = 0; burst < 3; ++burst) {
            m_line->write("0123456789");
            EXPECT_TRUE(readerTookAll());
        }
    });

    m_line->write("first");
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 2; }, Patience));
    QTest::qWait(300);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(m_control->Input(), u"first012345678901234567890123456789"_s);

    // Bursts written while the loop is not running at all: one emission.
    for (int burst = 0; burst < 5; ++burst)
        m_line->write("xyz");
    ASSERT_TRUE(readerTookAll());
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 3; }, Patience));
    QTest::qWait(300);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(m_control->Input(), u"xyzxyzxyzxyzxyz"_s);

    // Every set that finds enough input waiting would raise OnComm; with one
    // already pending they add nothing.
    m_control->setRThreshold(5);
    m_line->write("pqr");
    ASSERT_TRUE(readerTookAll());
    QTest::qWait(200);
    EXPECT_EQ(calls, 3);
    m_control->setRThreshold(1);
    m_control->setRThreshold(2);
    m_control->setRThreshold(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 4; }, Patience));
    QTest::qWait(200);
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(m_control->Input(), u"pqr"_s);
}

TEST_F(SerialPortControlTest, PendingOnCommAndUnreadInputSurviveClose)
{
    QSignalSpy onComm(m_control.get(), &SerialControl::OnComm);
    m_control->setRThreshold(3);
    m_control->setPortOpen(true);
    m_line->write("abc");
    ASSERT_TRUE(QTest::qWaitFor([&] { return onComm.count() == 1; }, Patience));

    m_control->setRThreshold(2); // posts an emission: three characters still wait
    m_control->setPortOpen(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return onComm.count() == 2; }, Patience));
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_EQ(m_control->Input(), u"abc"_s);
    EXPECT_EQ(m_control->Input(), QString());
}

TEST_F(SerialPortControlTest, BadPropertySetsRaiseTheirNumberAndChangeNothing)
{
    for (const std::int16_t port : {std::int16_t(0), std::int16_t(256), std::int16_t(-1)}) {
        const ErrorReport report = reportFrom([&] { m_control->setCommPort(port); });
        EXPECT_EQ(report.Number(), ErrorNumber::InvalidPortNumber) << port;
        EXPECT_TRUE(report.Description().contains(QString::number(port)));
        EXPECT_EQ(m_control->CommPort(), 1);
    }
    m_control->setCommPort(255);
    EXPECT_EQ(m_control->CommPort(), 255);
    m_control->setCommPort(1);

    EXPECT_EQ(reportFrom([&] { m_control->setRThreshold(-1); }).Number(),
              ErrorNumber::InvalidPropertyValue);
    EXPECT_EQ(m_control->RThreshold(), 0);
    EXPECT_EQ(reportFrom([&] { m_control->setSettings(u"9600,n,8"_s); }).Number(),
              ErrorNumber::InvalidPropertyValue);
    EXPECT_EQ(m_control->Settings(), u"9600,n,8,1"_s);

    m_control->setPortOpen(false); // closing a closed port is no error
    EXPECT_FALSE(m_control->PortOpen());

    m_control->setPortOpen(true);
    EXPECT_EQ(reportFrom([&] { m_control->setPortOpen(true); }).Number(),
              ErrorNumber::PortAlreadyOpen);
    const ErrorReport change = reportFrom([&] { m_control->setCommPort(2); });
    EXPECT_EQ(change.Number(), ErrorNumber::PortChangeWhileOpen);
    EXPECT_EQ(m_control->CommPort(), 1);
    EXPECT_EQ(reportFrom([&] { m_control->setCommPort(0); }).Number(),
              ErrorNumber::InvalidPortNumber);

    // The failed sets left the open port working.
    EXPECT_TRUE(m_control->PortOpen());
    m_line->write("still here");
    EXPECT_EQ(receive(10), u"still here"_s);
}

TEST_F(SerialPortControlTest, RaisingDtrOnALineWithoutModemSignalsIsNoError)
{
    m_control->setPortOpen(true);
    m_control->setDTREnable(true);
    EXPECT_TRUE(m_control->DTREnable());
    m_control->setPortOpen(false);

    m_control->setPortOpen(true); // opens with DTR wanted on
    m_line->write("ok");
    EXPECT_EQ(receive(2), u"ok"_s);
    m_control->setDTREnable(false);
    m_line->write("!");
    EXPECT_EQ(receive(1), u"!"_s);
    EXPECT_TRUE(m_control->PortOpen());
}

TEST_F(SerialPortControlTest, OpenFailuresNameTheDeviceAndTheReason)
{
    m_device = u"/dev/linewatch-absent"_s;
    const ErrorReport absent = reportFrom([&] { m_control->setPortOpen(true); });
    EXPECT_EQ(absent.Number(), ErrorNumber::DeviceAbsent);
    EXPECT_EQ(absent.Description(), m_device + u": "_s + reason(ENOENT));

    QTemporaryFile regular;
    ASSERT_TRUE(regular.open());
    m_device = regular.fileName();
    const ErrorReport notTty = reportFrom([&] { m_control->setPortOpen(true); });
    EXPECT_EQ(notTty.Number(), ErrorNumber::NotATerminal);
    EXPECT_EQ(notTty.Description(), m_device + u": "_s + reason(ENOTTY));

    m_device = u"/dev/null"_s;
    const ErrorReport null = reportFrom([&] { m_control->setPortOpen(true); });
    EXPECT_EQ(null.Number(), ErrorNumber::NotATerminal);
    EXPECT_EQ(null.Description(), m_device + u": "_s + reason(ENOTTY));

    EXPECT_FALSE(m_control->PortOpen());
}

// An ordinary user meets refusals root never sees: a device without access
// for them, and a port another program opened in exclusive mode (root
// passes that one and meets the flock instead). The open runs in a child
// that, when the test runs as root, gives up root first.
TEST_F(SerialPortControlTest, AnUnprivilegedOpenTellsPermissionFromExclusiveUse)
{
    const QByteArray path = QFile::encodeName(m_device);
    const auto refusalAsAnOrdinaryUser = [&] {
        return openInChild([] { return ::geteuid() != 0 || becomeNobody(); },
                           [&] {
                               m_control->setPortOpen(true);
                               m_control->setPortOpen(false);
                           },
                           Patience);
    };

    ASSERT_EQ(::chmod(path.constData(), 0), 0);
    const auto [denied, deniedText] = refusalAsAnOrdinaryUser();
    EXPECT_EQ(denied, ErrorNumber::PermissionDenied) << deniedText.toStdString();
    EXPECT_EQ(deniedText, m_device + u": "_s + reason(EACCES));

    ASSERT_EQ(::chmod(path.constData(), 0666), 0);
    const Descriptor other(m_device);
    ASSERT_GE(other.fd(), 0);
    ASSERT_EQ(::ioctl(other.fd(), TIOCEXCL), 0);
    const auto [busy, busyText] = refusalAsAnOrdinaryUser();
    EXPECT_EQ(busy, ErrorNumber::DeviceInUse) << busyText.toStdString();
    EXPECT_TRUE(busyText.startsWith(m_device + u": "_s + reason(EBUSY))) << busyText.toStdString();
    ::ioctl(other.fd(), TIOCNXCL);

    // Neither refusal left anything behind for the owner.
    EXPECT_FALSE(QFile::exists(m_line->lockFilePath()));
    m_control->setPortOpen(true);
    EXPECT_TRUE(m_control->PortOpen());
}

TEST_F(SerialPortControlTest, DeviceLockedByAnotherDescriptorIsInUse)
{
    const Descriptor other(m_device);
    ASSERT_GE(other.fd(), 0);
    ASSERT_EQ(::flock(other.fd(), LOCK_EX | LOCK_NB), 0);

    const ErrorReport report = reportFrom([&] { m_control->setPortOpen(true); });
    EXPECT_EQ(report.Number(), ErrorNumber::DeviceInUse);
    EXPECT_TRUE(report.Description().startsWith(m_device + u": "_s + reason(EBUSY)))
        << report.Description().toStdString();
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_FALSE(QFile::exists(m_line->lockFilePath()));

    ::flock(other.fd(), LOCK_UN);
    m_control->setPortOpen(true);
    EXPECT_TRUE(m_control->PortOpen());
}

TEST_F(SerialPortControlTest, BothLocksAreHeldWhileOpenAndReleasedOnCloseAndDestruction)
{
    m_control->setPortOpen(true);
    EXPECT_EQ(readLockFile(m_line->lockFilePath()).split('\n').value(0).trimmed(),
              QByteArray::number(::getpid()));
    {
        // Without root the exclusive mode the control sets refuses the
        // second open outright; root gets past it and meets the flock.
        const Descriptor other(m_device);
        if (other.fd() < 0) {
            EXPECT_EQ(other.openError(), EBUSY);
        } else {
            EXPECT_NE(::flock(other.fd(), LOCK_EX | LOCK_NB), 0);
            EXPECT_EQ(errno, EWOULDBLOCK);
        }
    }
    m_control->setPortOpen(false);
    EXPECT_FALSE(QFile::exists(m_line->lockFilePath()));
    {
        const Descriptor other(m_device);
        EXPECT_EQ(::flock(other.fd(), LOCK_EX | LOCK_NB), 0);
    }

    m_control->setPortOpen(true);
    ASSERT_TRUE(QFile::exists(m_line->lockFilePath()));
    m_control.reset();
    EXPECT_FALSE(QFile::exists(m_line->lockFilePath()));
    const Descriptor other(m_device);
    EXPECT_EQ(::flock(other.fd(), LOCK_EX | LOCK_NB), 0);
}

namespace {

int threadsOfThisProcess()
{
    int count = 0;
    for (const QFileInfo &entry : QDir(u"/proc/self/task"_s).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot))
        count += entry.fileName().isEmpty() ? 0 : 1;
    return count;
}

int threadsBeforeTheOpen = 0;

} // namespace

// The toolkit ends the program with exit() when its display goes away, and
// nothing of the window is destroyed then: the reader must not go on reading
// (and posting to the window thread) while static objects are torn down
// after it, and the device must get its lock and settings back.
TEST_F(SerialPortControlTest, ExitStopsTheReaderBeforeStaticObjectsGoAndPutsTheLineBack)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // A runtime that starts a thread of its own with the first
            // thread (ThreadSanitizer's does) has started it by now.
            std::thread([] {}).join();
            threadsBeforeTheOpen = threadsOfThisProcess();
            // Registered before the port opens, so it runs after the
            // control's own exit handling, as a static object's destructor
            // would.
            std::atexit([] { std::_Exit(threadsOfThisProcess() == threadsBeforeTheOpen ? 0 : 3); });
            m_control->setPortOpen(true);
            m_line->write("still coming\r\n");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(QFile::exists(m_line->lockFilePath()));
    const Descriptor other(m_device);
    EXPECT_EQ(::flock(other.fd(), LOCK_EX | LOCK_NB), 0);
}

// The device gets its own line settings back when the port closes, and when
// the control goes without a close: here a cooked terminal at 4800 baud with
// two stop bits and a read timeout, which the control's raw line changes in
// every field.
TEST_F(SerialPortControlTest, CloseAndDestructionGiveTheDeviceItsOwnSettingsBack)
{
    termios own = m_line->attributes();
    own.c_iflag = BRKINT | ICRNL | IXON | IMAXBEL;
    own.c_oflag = OPOST | ONLCR;
    own.c_cflag = (own.c_cflag & ~static_cast<tcflag_t>(CLOCAL)) | CSTOPB | HUPCL | CREAD;
    own.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN | ECHOCTL | ECHOKE;
    own.c_cc[VMIN] = 0;
    own.c_cc[VTIME] = 5;
    cfsetispeed(&own, B4800);
    cfsetospeed(&own, B4800);
    // Set through the master, which a pseudo-terminal applies to its line.
    ASSERT_EQ(::tcsetattr(m_line->masterFd(), TCSANOW, &own), 0);
    own = m_line->attributes(); // as the driver keeps them
    const auto expectOwnSettings = [&](const char *when) {
        SCOPED_TRACE(when);
        const termios now = m_line->attributes();
        EXPECT_EQ(now.c_iflag, own.c_iflag);
        EXPECT_EQ(now.c_oflag, own.c_oflag);
        EXPECT_EQ(now.c_cflag, own.c_cflag);
        EXPECT_EQ(now.c_lflag, own.c_lflag);
        for (std::size_t i = 0; i < NCCS; ++i)
            EXPECT_EQ(now.c_cc[i], own.c_cc[i]) << "c_cc[" << i << "]";
        EXPECT_EQ(cfgetispeed(&now), static_cast<speed_t>(B4800));
        EXPECT_EQ(cfgetospeed(&now), static_cast<speed_t>(B4800));
    };

    m_control->setPortOpen(true);
    const termios opened = m_line->attributes();
    EXPECT_EQ(cfgetispeed(&opened), static_cast<speed_t>(B9600));
    EXPECT_NE(opened.c_iflag, own.c_iflag);
    EXPECT_NE(opened.c_oflag, own.c_oflag);
    EXPECT_NE(opened.c_cflag, own.c_cflag);
    EXPECT_NE(opened.c_lflag, own.c_lflag);
    EXPECT_NE(opened.c_cc[VMIN], own.c_cc[VMIN]);
    EXPECT_NE(opened.c_cc[VTIME], own.c_cc[VTIME]);
    // Settings changed while open do not become the device's own.
    m_control->setSettings(u"19200,n,8,2"_s);
    m_control->setPortOpen(false);
    expectOwnSettings("closed");

    m_control->setPortOpen(true);
    const termios reopened = m_line->attributes();
    ASSERT_EQ(cfgetispeed(&reopened), static_cast<speed_t>(B19200));
    m_control.reset();
    expectOwnSettings("destroyed while open");
}

TEST_F(SerialPortControlTest, LineLossDeliversWhatCameStaysOpenAndDoesNotSpin)
{
    QSignalSpy onComm(m_control.get(), &SerialControl::OnComm);
    m_control->setRThreshold(6);
    m_control->setPortOpen(true);
    m_line->write("before");
    ASSERT_TRUE(QTest::qWaitFor([&] { return onComm.count() == 1; }, Patience));

    m_line->hangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return onComm.count() == 2; }, Patience));

    const CpuUse deadLine;
    QTest::qWait(1500);
    EXPECT_LT(deadLine.cpuSeconds(), deadLine.wallSeconds() / 5) << "the event loop is spinning on the dead line";
    EXPECT_EQ(onComm.count(), 2);

    EXPECT_TRUE(m_control->PortOpen());
    EXPECT_EQ(m_control->Input(), u"before"_s);
    EXPECT_EQ(m_control->Input(), QString());
    EXPECT_FALSE(QFile::exists(m_line->lockFilePath())) << "the dead line's lock is still held";

    // Still open as far as the user is concerned.
    EXPECT_EQ(reportFrom([&] { m_control->setPortOpen(true); }).Number(),
              ErrorNumber::PortAlreadyOpen);
    EXPECT_EQ(reportFrom([&] { m_control->setCommPort(2); }).Number(),
              ErrorNumber::PortChangeWhileOpen);
    m_control->setSettings(u"19200,n,8,1"_s);
    EXPECT_EQ(m_control->Settings(), u"19200,n,8,1"_s);

    m_control->setPortOpen(false);
    EXPECT_FALSE(m_control->PortOpen());

    // The device came back as a new line.
    m_line = std::make_unique<PseudoTerminal>();
    m_device = m_line->slavePath();
    m_control->setPortOpen(true);
    termios attributes = m_line->attributes();
    EXPECT_EQ(cfgetispeed(&attributes), B19200);
    m_line->write("after");
    EXPECT_EQ(receive(5), u"after"_s);
}

TEST_F(SerialPortControlTest, LineLossRaisesOnCommOnceEvenWithNothingWaiting)
{
    QSignalSpy onComm(m_control.get(), &SerialControl::OnComm);
    m_control->setPortOpen(true);
    const QString lost = m_device;
    m_line->hangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return onComm.count() == 1; }, Patience));
    QTest::qWait(200);
    EXPECT_EQ(onComm.count(), 1);
    EXPECT_EQ(m_control->Input(), QString());
    EXPECT_TRUE(m_control->PortOpen());

    // Opening the dead line again is refused for what it is, and leaves the
    // port closed. Linux removes the node with the master; a kernel that
    // kept it while the test's own descriptor is open would refuse the open
    // of a line without a master instead.
    m_control->setPortOpen(false);
    const bool nodeGone = !QFile::exists(lost);
    const ErrorReport report = reportFrom([&] { m_control->setPortOpen(true); });
    if (nodeGone) {
        EXPECT_EQ(report.Number(), ErrorNumber::DeviceAbsent);
        EXPECT_EQ(report.Description(), lost + u": "_s + reason(ENOENT));
    } else {
        EXPECT_EQ(report.Number(), ErrorNumber::OpenFailed);
        EXPECT_EQ(report.Description(), lost + u": "_s + reason(EIO));
    }
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_FALSE(QFile::exists(m_line->lockFilePath()));
}

// What a failed call on the device is reported as, for the errno values the
// tests above cannot bring about on a pseudo-terminal.
TEST(SystemErrorTest, EachErrnoIsReportedUnderItsNumberWithTheSystemsReason)
{
    const struct
    {
        int error;
        std::int32_t number;
    } table[] = {
        {ENOENT, ErrorNumber::DeviceAbsent},      {ENOTDIR, ErrorNumber::DeviceAbsent},
        {ENXIO, ErrorNumber::DeviceAbsent},       {ENODEV, ErrorNumber::DeviceAbsent},
        {EACCES, ErrorNumber::PermissionDenied},  {EPERM, ErrorNumber::PermissionDenied},
        {EBUSY, ErrorNumber::DeviceInUse},        {ENOTTY, ErrorNumber::NotATerminal},
        {EIO, ErrorNumber::OpenFailed},           {EINVAL, ErrorNumber::OpenFailed},
        {EMFILE, ErrorNumber::OpenFailed},
    };
    const QString device = u"/dev/ttyUSB7"_s;
    for (const auto &[error, number] : table) {
        const int code = error; // Clang before 16 cannot capture a structured binding
        const ErrorReport report = reportFrom([&] { SystemError::fail(device, code); });
        EXPECT_EQ(report.Number(), number) << std::strerror(error);
        EXPECT_EQ(report.Description(), device + u": "_s + reason(error));
    }

    const ErrorReport detailed =
        reportFrom([&] { SystemError::fail(device, EBUSY, u"locked by process 1234"_s); });
    EXPECT_EQ(detailed.Number(), ErrorNumber::DeviceInUse);
    EXPECT_EQ(detailed.Description(), device + u": "_s + reason(EBUSY) + u" (locked by process 1234)"_s);
}

TEST(RequiredMethodTest, AMethodTheTypeDoesNotHaveIsALogicErrorNamingIt)
{
    try {
        (void)requiredMethod(SerialPortControl::staticMetaObject, "deliverOnCommLater()");
        FAIL() << "a missing method gave no std::logic_error";
    } catch (const std::logic_error &failure) {
        const std::string what = failure.what();
        EXPECT_NE(what.find("deliverOnCommLater()"), std::string::npos) << what;
        EXPECT_NE(what.find("SerialPortControl"), std::string::npos) << what;
    }
}
