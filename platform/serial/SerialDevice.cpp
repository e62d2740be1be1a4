#include "SerialDevice.h"

#include "ErrorReport.h"
#include "ExitList.h"
#include "LineSpeed.h"
#include "SystemError.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QScopeGuard>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Tells from sysfs, without opening the device, whether a character device
// is something other than a terminal (/dev/null, /dev/zero...): opening some
// devices has effects of its own. Devices without a sysfs entry,
// pseudo-terminals among them, give no answer here.
bool knownNotATerminal(dev_t device)
{
    const QString subsystem = u"/sys/dev/char/%1:%2/subsystem"_s.arg(major(device)).arg(minor(device));
    const QFileInfo link(subsystem);
    if (!link.isSymLink())
        return false;
    return QFileInfo(link.symLinkTarget()).fileName() != u"tty";
}

// The device, once it is known to be one worth opening.
const QString &checked(const QString &device)
{
    struct stat status = {};
    // stat() never answers ENXIO, ENODEV or EBUSY, so the table's answers
    // for those, meant for open(), cannot mislead here.
    if (::stat(QFile::encodeName(device).constData(), &status) != 0)
        SystemError::fail(device, errno);
    if (!S_ISCHR(status.st_mode) || knownNotATerminal(status.st_rdev))
        SystemError::fail(device, ENOTTY);
    return device;
}

int openDevice(const QString &device)
{
    // Non-blocking: a line without carrier would otherwise keep open()
    // waiting, and the reader polls anyway.
    const int fd = ::open(QFile::encodeName(device).constData(),
                          O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    const int error = errno;
    // Busy at open() is exclusive mode (TIOCEXCL), set by whoever has it open;
    // the flock() and the lock file tell their own story below.
    SystemError::fail(device, error,
                      error == EBUSY ? u"opened exclusively by another program"_s : QString());
}

tcflag_t sizeFlag(int dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t parityFlags(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::None: return 0;
    case LineSettings::Parity::Even: return PARENB;
    case LineSettings::Parity::Odd: return PARENB | PARODD;
    case LineSettings::Parity::Mark: return PARENB | CMSPAR | PARODD;
    case LineSettings::Parity::Space: return PARENB | CMSPAR;
    }
    return 0;
}

QString parityName(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::None: return u"no"_s;
    case LineSettings::Parity::Even: return u"even"_s;
    case LineSettings::Parity::Odd: return u"odd"_s;
    case LineSettings::Parity::Mark: return u"mark"_s;
    case LineSettings::Parity::Space: return u"space"_s;
    }
    return QString();
}

constexpr tcflag_t ParityMask = PARENB | PARODD | CMSPAR;

// The rates <termios.h> has a constant for; any other goes through termios2.
constexpr std::array<std::pair<std::int32_t, speed_t>, 30> StandardSpeeds{{
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
    {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
}};

std::optional<speed_t> standardSpeed(std::int32_t baud)
{
    const auto found = std::find_if(StandardSpeeds.begin(), StandardSpeeds.end(),
                                    [baud](const auto &entry) { return entry.first == baud; });
    return found == StandardSpeeds.end() ? std::nullopt : std::optional(found->second);
}

// Raw, no flow control, reception on, modem lines ignored for carrier, and
// no parity checking: a byte arrives as the line carried it, a parity or
// framing error neither drops nor marks it. A read waits for one byte
// (VMIN 1): on the non-blocking device an empty queue then reads as EAGAIN,
// and only a hang-up reads as 0, so input flushed by another program, or a
// BREAK or error byte that left nothing to read, is never taken for a lost
// line.
void makeRaw(termios &line, const LineSettings &settings)
{
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | ParityMask | CSTOPB | CRTSCTS);
    line.c_cflag |= sizeFlag(settings.dataBits()) | parityFlags(settings.parity());
    if (settings.stopBits() == LineSettings::StopBits::Two)
        line.c_cflag |= CSTOPB;
    line.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK | IXON | IXOFF | IXANY);
    line.c_iflag |= IGNPAR;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
}

// Sets the line as `line` says, at `speed` exactly: a rate set through
// termios2 has no Bxxx constant for tcsetattr() to carry back. Best effort,
// for undoing: a hung-up line refuses it, and has nothing to put back.
void putLineBack(int fd, const termios &line, std::int64_t speed) noexcept
{
    ::tcsetattr(fd, TCSANOW, &line);
    if (speed > 0 && LineSpeed::current(fd) != speed)
        LineSpeed::setAny(fd, static_cast<std::int32_t>(speed));
}

// The devices open right now, for the exit handler.
} // namespace

SerialDevice::SerialDevice(const QString &device, const LineSettings &settings,
                           bool dataTerminalReady)
    : m_path(checked(device))
    , m_lock(m_path)
    , m_fd(openDevice(m_path))
{
    const int fd = m_fd.get();
    int heldExclusively = 0;
    if (::ioctl(fd, TIOCGEXCL, &heldExclusively) == 0 && heldExclusively != 0)
        SystemError::fail(m_path, EBUSY, u"opened exclusively by another program"_s);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        SystemError::fail(m_path, EBUSY, u"locked by another program"_s);
    // Any other flock failure (ENOLCK: a file system without flock) leaves
    // the lock file as the only guard, which is what most tools rely on.

    // Opening raised DTR and RTS; a device that resets on either (the
    // auto-reset circuit of many development boards holds the chip in reset
    // while RTS is asserted) should see as short a pulse as can be.
    holdModemLines(dataTerminalReady);

    if (::tcgetattr(fd, &m_found) != 0) {
        // Some drivers answer EINVAL, not ENOTTY, for a device that is no
        // terminal.
        const int error = errno;
        SystemError::fail(m_path, error == EINVAL ? ENOTTY : error);
    }
    m_foundSpeed = LineSpeed::current(fd);
    m_claimed = true;
    auto putBack = qScopeGuard([this] { restore(); });
    // Other programs (but root's) are refused the device from now on.
    ::ioctl(fd, TIOCEXCL);
    apply(settings);
    // Leaving a hang-up (speed 0) raises both lines again.
    holdModemLines(dataTerminalReady);
    putBack.dismiss();

    OpenDevices::add(this);
}

SerialDevice::~SerialDevice()
{
    OpenDevices::remove(this);
    restore();
}

void SerialDevice::restore() noexcept
{
    // A hung-up line refuses all of this, and has nothing left to put back.
    if (std::exchange(m_claimed, false)) {
        // Both lines low whatever the device's own settings say of a hang-up
        // at close: a board must not be left held in reset.
        const int bothLines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(m_fd.get(), TIOCMBIC, &bothLines);
        putLineBack(m_fd.get(), m_found, m_foundSpeed);
        ::ioctl(m_fd.get(), TIOCNXCL);
    }
    m_lock.release();
}

void SerialDevice::apply(const LineSettings &settings)
{
    const auto refuse = [&](const QString &reason) {
        throw ErrorReport(ErrorNumber::ConfigurationFailed,
                          u"%1: cannot use Settings \"%2\": %3"_s.arg(m_path, settings.toString(),
                                                                    reason));
    };
    // termios has no 1.5 stop bits; CSTOPB would quietly run two.
    if (settings.stopBits() == LineSettings::StopBits::OneAndHalf)
        refuse(u"1.5 stop bits are not supported on this system"_s);

    const int fd = m_fd.get();
    termios before = {};
    if (::tcgetattr(fd, &before) != 0)
        refuse(SystemError::description(errno));
    const std::int64_t speedBefore = LineSpeed::current(fd);
    auto putBack = qScopeGuard([&] { putLineBack(fd, before, speedBefore); });

    termios line = before;
    makeRaw(line, settings);
    const std::optional<speed_t> standard = standardSpeed(settings.baudRate());
    if (standard) {
        ::cfsetispeed(&line, *standard);
        ::cfsetospeed(&line, *standard);
    }
    if (::tcsetattr(fd, TCSANOW, &line) != 0)
        refuse(SystemError::description(errno));
    if (!standard) {
        if (const int error = LineSpeed::setAny(fd, settings.baudRate()); error != 0)
            refuse(SystemError::description(error));
    }

    // A driver may keep its own idea of a setting without failing the call:
    // read back what the line runs.
    termios now = {};
    if (::tcgetattr(fd, &now) != 0)
        refuse(SystemError::description(errno));
    if ((now.c_cflag & CSIZE) != sizeFlag(settings.dataBits()))
        refuse(u"the device does not support %1 data bits"_s.arg(settings.dataBits()));
    if ((now.c_cflag & ParityMask) != parityFlags(settings.parity()))
        refuse(u"the device does not support %1 parity"_s.arg(parityName(settings.parity())));
    if (((now.c_cflag & CSTOPB) != 0) != (settings.stopBits() == LineSettings::StopBits::Two))
        refuse(u"the device does not support this number of stop bits"_s);
    // A UART runs the nearest rate its clock divides to; within 2% the
    // far end still reads every frame.
    const std::int64_t speed = LineSpeed::current(fd);
    if (speed < 0)
        refuse(SystemError::description(errno));
    if (std::llabs(speed - settings.baudRate()) * 50 > settings.baudRate())
        refuse(u"the device does not support %1 baud (it runs %2)"_s.arg(settings.baudRate()).arg(speed));
    putBack.dismiss();
}

void SerialDevice::holdModemLines(bool dataTerminalReady) noexcept
{
    // One call lowers both when DTR is to be off, so neither outlasts the other.
    const int lowered = TIOCM_RTS | (dataTerminalReady ? 0 : TIOCM_DTR);
    ::ioctl(m_fd.get(), TIOCMBIC, &lowered);
    if (dataTerminalReady)
        setDataTerminalReady(true);
}

void SerialDevice::setDataTerminalReady(bool on) noexcept
{
    const int dataTerminalReady = TIOCM_DTR;
    ::ioctl(m_fd.get(), on ? TIOCMBIS : TIOCMBIC, &dataTerminalReady);
}
