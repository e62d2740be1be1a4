#pragma once

#include "DeviceLock.h"
#include "ExitList.h"
#include "LineSettings.h"
#include "UniqueFd.h"

#include <QtCore/QString>

#include <cstdint>

#include <termios.h>

// One serial device, open for reception and held the way other serial
// tools expect while the object lives.
//
// Opening follows the order in which other programs are asked, so that a
// line that is someone else's is never touched:
// 1. the UUCP lock file (DeviceLock), before the device is opened;
// 2. the device, non-blocking, read-only: one descriptor, read by the
//    control's reader thread and used for every setting;
// 3. exclusive mode set by another program (TIOCGEXCL: root's own opens
//    pass it, so it is asked), then an exclusive flock(), which root meets
//    too: either means the device is in use;
// 4. RTS lowered at once, and DTR with it when it is to be off, in one call
//    before any line setup: the program sets no flow control and never
//    asserts RTS;
// 5. the device's own settings saved, exclusive mode taken, and the line set
//    raw at the asked settings.
// Closing lowers both lines, undoes steps 5 and 3 and removes the lock, in
// reverse order: the device gets its own settings back.
//
// The line is set up with termios directly. QSerialPort was not used for it:
// its open takes a lock file of its own kind (QLockFile), which falls back to
// /tmp when /var/lock cannot be written, takes any foreign lock older than
// 30 s for stale, and is removed by name on close, whoever's it is by then.
//
// The toolkit ends the program with exit() when its display goes away,
// without unwinding the window's objects. A device still open then is put
// back (settings, exclusive mode, lock) by an exit handler.
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
    // that is no error. RTS stays off.
    void setDataTerminalReady(bool on) noexcept;

private:
    // RTS off, DTR as asked.
    void holdModemLines(bool dataTerminalReady) noexcept;

    // Puts the device back as it was found: its settings, exclusive mode
    // left, the lock removed. Once only; allocates nothing.
    void restore() noexcept;
    using OpenDevices = ExitList<SerialDevice, &SerialDevice::restore>;
    friend OpenDevices;

    QString m_path;
    DeviceLock m_lock;
    UniqueFd m_fd;
    termios m_found = {};
    std::int64_t m_foundSpeed = -1;
    bool m_claimed = false; // settings saved and exclusive mode taken: restore() has work
};
