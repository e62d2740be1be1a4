// How port numbers map to the machine's serial devices, on a /dev and a
// /sys of the test's own: the nodes are links to pseudo-terminals and to
// /dev/null and /dev/zero, whose device numbers the fake sysfs describes.
#include "SerialPorts.h"

#include "ErrorReport.h"
#include "PortNeighbours.h"
#include "PseudoTerminal.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString numbers(const QString &node)
{
    struct stat status = {};
    EXPECT_EQ(::stat(QFile::encodeName(node).constData(), &status), 0) << node.toStdString();
    return u"%1:%2"_s.arg(major(status.st_rdev)).arg(minor(status.st_rdev));
}

class SerialPortsTest : public ::testing::Test
{
protected:
    QString dev() const { return m_root.filePath(u"dev"_s); }
    QString sys() const { return m_root.filePath(u"sys"_s); }

    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        ASSERT_TRUE(QDir().mkpath(dev()));
        ASSERT_TRUE(QDir().mkpath(sys() + u"/class/tty"_s));
    }

    static void write(const QString &path, const QByteArray &content)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    // A node in /dev standing for `target`'s device.
    void node(const QString &name, const QString &target)
    {
        ASSERT_TRUE(QFile::link(target, dev() + u'/' + name)) << name.toStdString();
    }

    // What the serial core says of the device `target` stands for.
    void serialCoreType(const QString &target, const QByteArray &type)
    {
        write(sys() + u"/dev/char/"_s + numbers(target) + u"/type"_s, type + '\n');
    }

    // A tty in /sys/class/tty with a device behind it at `devicePath`
    // (below /sys/devices), with the numbers of `target`'s device.
    void adapter(const QString &name, const QString &devicePath, const QString &target)
    {
        const QString entry = sys() + u"/class/tty/"_s + name;
        const QString device = sys() + u"/devices/"_s + devicePath;
        ASSERT_TRUE(QDir().mkpath(device));
        ASSERT_TRUE(QDir().mkpath(entry));
        ASSERT_TRUE(QFile::link(device, entry + u"/device"_s));
        write(entry + u"/dev"_s, numbers(target).toLatin1() + '\n');
    }

    QStringList devices() const
    {
        QStringList found;
        for (const PortLocation &port : SerialPorts(dev(), sys()).present())
            found.append(QFileInfo(port.device).fileName());
        return found;
    }

    QTemporaryDir m_root;
    PseudoTerminal m_a;
    PseudoTerminal m_b;
    PseudoTerminal m_c;
    PseudoTerminal m_d;
};

} // namespace

TEST_F(SerialPortsTest, OnBoardPortsWithAUartComeFirstInTheirOrderThenAdaptersBySocket)
{
    // An empty slot of the serial core, a UART, and terminals put in ttyS
    // nodes' places; ttyS10 follows ttyS2.
    node(u"ttyS0"_s, u"/dev/null"_s);
    serialCoreType(u"/dev/null"_s, "0");
    node(u"ttyS1"_s, m_a.slavePath());
    node(u"ttyS2"_s, u"/dev/zero"_s);
    serialCoreType(u"/dev/zero"_s, "4");
    node(u"ttyS10"_s, m_b.slavePath());
    // Something in a ttyS node's place that is no device: opening a FIFO to
    // look would block.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dev() + u"/ttyS3"_s).constData(), 0600), 0);

    // Adapters: socket 1-9 before socket 1-10, whatever their names say.
    adapter(u"ttyUSB0"_s, u"pci0000:00/usb1/1-10/1-10:1.0/ttyUSB0"_s, m_c.slavePath());
    node(u"ttyUSB0"_s, m_c.slavePath());
    adapter(u"ttyACM0"_s, u"pci0000:00/usb1/1-9/1-9:1.0"_s, m_d.slavePath());
    node(u"ttyACM0"_s, m_d.slavePath());
    // Gone, or not yet made: a sysfs entry whose node is missing, or is
    // another device's.
    adapter(u"ttyUSB1"_s, u"pci0000:00/usb1/1-3/1-3:1.0/ttyUSB1"_s, u"/dev/zero"_s);
    adapter(u"ttyUSB2"_s, u"pci0000:00/usb1/1-4/1-4:1.0/ttyUSB2"_s, u"/dev/zero"_s);
    node(u"ttyUSB2"_s, u"/dev/null"_s);
    // Already counted in a ttyS node's place.
    adapter(u"ttyUSB3"_s, u"pci0000:00/usb1/1-1/1-1:1.0/ttyUSB3"_s, m_a.slavePath());
    node(u"ttyUSB3"_s, m_a.slavePath());
    // A virtual console: no device behind it.
    ASSERT_TRUE(QDir().mkpath(sys() + u"/class/tty/tty1"_s));

    EXPECT_EQ(devices(), (QStringList{u"ttyS1"_s, u"ttyS2"_s, u"ttyS10"_s, u"ttyACM0"_s, u"ttyUSB0"_s}));

    const SerialPorts ports(dev(), sys());
    const PortLocation fifth = ports.locate(5);
    EXPECT_EQ(fifth.device, dev() + u"/ttyUSB0"_s);
    // The socket is the USB interface, not the converter's tty below it, so
    // it is the same when the adapter comes back under another name.
    EXPECT_EQ(fifth.socket, QFileInfo(sys() + u"/devices/pci0000:00/usb1/1-10/1-10:1.0"_s).canonicalFilePath());
    EXPECT_FALSE(fifth.alone);
    EXPECT_EQ(ports.locate(1).socket, dev() + u"/ttyS1"_s);

    const ErrorReport beyond = reportFrom([&] { ports.locate(6); });
    EXPECT_EQ(beyond.Number(), ErrorNumber::DeviceAbsent);
    EXPECT_EQ(beyond.Description(),
              u"Comm port 6: no such serial port (this machine has 5: %1/ttyS1, %1/ttyS2, %1/ttyS10, "
              "%1/ttyACM0, %1/ttyUSB0)"_s.arg(dev()));
}

TEST_F(SerialPortsTest, OnlyEmptySlotsAreNoPortAndTheOneAdapterThenIsPortOne)
{
    node(u"ttyS0"_s, u"/dev/null"_s);
    serialCoreType(u"/dev/null"_s, "0");
    const ErrorReport none = reportFrom([&] { SerialPorts(dev(), sys()).locate(1); });
    EXPECT_EQ(none.Number(), ErrorNumber::DeviceAbsent);
    EXPECT_EQ(none.Description(),
              u"Comm port 1: no such serial port (looked for a UART behind %1/ttyS*, and for USB and other "
              "serial adapters)"_s.arg(dev()));

    adapter(u"ttyUSB0"_s, u"pci0000:00/usb1/1-2/1-2:1.0/ttyUSB0"_s, m_c.slavePath());
    node(u"ttyUSB0"_s, m_c.slavePath());
    const PortLocation first = SerialPorts(dev(), sys()).locate(1);
    EXPECT_EQ(first.device, dev() + u"/ttyUSB0"_s);
    EXPECT_TRUE(first.alone);
}
