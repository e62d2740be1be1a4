#pragma once

#include <QtCore/QList>
#include <QtCore/QString>

#include <cstdint>
#include <utility>

// Where one serial port is: the device node to open, and the socket it is
// plugged into, which stays the same when an adapter is unplugged and
// plugged back (into the same socket) even if its node comes back under
// another name.
struct PortLocation
{
    PortLocation() = default;
    // A port at a fixed path, its own socket: how tests name a
    // pseudo-terminal.
    PortLocation(QString devicePath) // NOLINT(google-explicit-constructor): a path is a location
        : device(devicePath)
        , socket(std::move(devicePath))
    {
    }
    PortLocation(QString devicePath, QString socketPath, bool onlyPort)
        : device(std::move(devicePath))
        , socket(std::move(socketPath))
        , alone(onlyPort)
    {
    }

    QString device;
    QString socket;
    bool alone = false; // the only serial port the machine has
};

// The machine's serial ports, in port order, as read from the device nodes
// and sysfs; nothing is opened to find them (an open raises DTR and RTS).
//
// Port N is the Nth of:
// 1. the on-board ports, /dev/ttyS0, ttyS1... in that order, that have a
//    UART behind them: a node of the serial core whose sysfs "type" is 0 is
//    an empty slot (most PCs today have four) and is passed over. Any other
//    character device in a ttyS node's place counts, such as a USB adapter
//    or a pseudo-terminal bound there;
// 2. then every other tty with a device behind it in sysfs (USB adapters,
//    CDC-ACM boards, other drivers' UARTs), in the order of the physical
//    sockets they are plugged into: the order of /dev/serial/by-path, read
//    from sysfs so that it holds where no udev runs (containers, minimal
//    systems). A device already counted in step 1 is not counted again.
//
// So with one adapter and no on-board UART, port 1 is the adapter; with an
// on-board UART, port 1 is that UART.
class SerialPorts
{
public:
    // `deviceRoot` and `sysfsRoot` stand for /dev and /sys; tests give trees
    // of their own.
    explicit SerialPorts(QString deviceRoot = QStringLiteral("/dev"),
                         QString sysfsRoot = QStringLiteral("/sys"));

    QList<PortLocation> present() const;

    // Port `number` (from 1). Throws ErrorReport DeviceAbsent, saying what was
    // looked for and what the machine has, when there is no such port.
    PortLocation locate(std::int16_t number) const;

    // Where a port's node appears when its device comes back.
    const QString &deviceRoot() const noexcept { return m_deviceRoot; }

private:
    QString m_deviceRoot;
    QString m_sysfsRoot;
};
