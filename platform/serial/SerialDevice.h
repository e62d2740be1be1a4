#pragma once

#include "LineSettings.h"
#include "UniqueFd.h"

#include <QtCore/QString>

#include <memory>

class QSerialPort;

// One serial device, open for reception and held the way other serial
// tools expect while the object lives.
//
// QSerialPort owns the line: it takes the UUCP lock file and exclusive mode
// (TIOCEXCL), sets the line raw at the asked settings, drives DTR, and puts
// the device's own settings back on close. It is opened for configuration
// only, never read: its reads would run on the thread that owns it, the
// window's. Reception has a descriptor of its own (fd()), opened first, read
// by the control's reader thread, and holding an exclusive flock() on the
// device, which root's opens meet too.
//
// Before anything is opened, the lock file is looked at (DeviceLockFile):
// another program's live lock refuses the port, a stale one is removed.
//
// Settings are checked against what the device actually runs: a setting the
// driver quietly ignores (a pseudo-terminal keeps 8 data bits and no parity;
// no Unix terminal has 1.5 stop bits) fails rather than running the line
// differently from what was asked.
class SerialDevice
{
public:
    // Throws ErrorReport, its description naming the device and the reason:
    // DeviceAbsent, PermissionDenied, DeviceInUse, NotATerminal, OpenFailed,
    // or ConfigurationFailed when the device refuses `settings`.
    SerialDevice(const QString &device, const LineSettings &settings, bool dataTerminalReady);
    ~SerialDevice();
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    const QString &path() const noexcept { return m_path; }
    int fd() const noexcept { return m_fd.get(); }

    // Throws ErrorReport ConfigurationFailed and leaves the line as it was
    // when the device refuses `settings`.
    void apply(const LineSettings &settings);

    // A line without modem signals (a pseudo-terminal) has no DTR to set;
    // that is no error.
    void setDataTerminalReady(bool on) noexcept;

private:
    QString m_path;
    UniqueFd m_fd;
    std::unique_ptr<QSerialPort> m_port;
};
