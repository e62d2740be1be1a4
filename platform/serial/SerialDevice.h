#pragma once

#include "DeviceLockFile.h"
#include "LineSettings.h"
#include "UniqueFd.h"

#include <QtCore/QString>

#include <termios.h>

// One serial device, open for reading as a raw line, held the way other
// serial tools expect while the object lives:
// - a UUCP lock file (DeviceLockFile), taken before the device is opened, so
//   a port another program holds is not even touched;
// - exclusive mode (TIOCEXCL): later opens by anyone but root fail with EBUSY;
// - an exclusive flock() on the device, which root's opens meet too.
//
// The line runs raw: no byte is translated, dropped or echoed, no flow
// control, modem lines ignored (CLOCAL). Settings are checked against what
// the device actually runs: a setting the driver quietly ignores (a
// pseudo-terminal keeps 8 data bits and no parity; no Unix terminal has 1.5
// stop bits) fails rather than running the line differently from what was
// asked.
//
// Destroying it puts the device's settings back as it found them and
// releases all three holds.
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
    void configureRaw();
    void restore() noexcept;

    QString m_path;
    DeviceLockFile m_lock;
    UniqueFd m_fd;
    termios m_found = {}; // the settings to put back
};
