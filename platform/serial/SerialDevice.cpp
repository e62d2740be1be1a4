#include "SerialDevice.h"

#include "ErrorReport.h"
#include "LineSpeed.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QScopeGuard>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void fail(std::int32_t number, const QString &device, const QString &reason)
{
    throw ErrorReport(number, device + u": "_s + reason);
}

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
    if (::stat(QFile::encodeName(device).constData(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            fail(ErrorNumber::DeviceAbsent, device, systemReason(error));
        if (error == EACCES || error == EPERM)
            fail(ErrorNumber::PermissionDenied, device, systemReason(error));
        fail(ErrorNumber::OpenFailed, device, systemReason(error));
    }
    if (!S_ISCHR(status.st_mode) || knownNotATerminal(status.st_rdev))
        fail(ErrorNumber::NotATerminal, device, systemReason(ENOTTY));
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
    switch (error) {
    case ENOENT:
    case ENXIO:  // a node without hardware behind it
    case ENODEV:
        fail(ErrorNumber::DeviceAbsent, device, systemReason(error));
    case EACCES:
    case EPERM:
        fail(ErrorNumber::PermissionDenied, device, systemReason(error));
    case EBUSY:
        fail(ErrorNumber::DeviceInUse, device,
             u"%1 (opened exclusively by another program)"_s.arg(systemReason(error)));
    default:
        fail(ErrorNumber::OpenFailed, device, systemReason(error));
    }
}

// The Bxxx constant for a rate <termios.h> names; B0 (which means "hang
// up", never a rate) for any other.
speed_t standardSpeed(std::int32_t baud)
{
    struct Named
    {
        std::int32_t baud;
        speed_t code;
    };
    static constexpr Named names[] = {
        {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
        {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400},
        {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
        {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
        {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
        {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
        {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000},
        {4000000, B4000000},
    };
    for (const Named &name : names) {
        if (name.baud == baud)
            return name.code;
    }
    return B0;
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

} // namespace

SerialDevice::SerialDevice(const QString &device, const LineSettings &settings,
                           bool dataTerminalReady)
    : m_path(checked(device))
    , m_lock(m_path)
    , m_fd(openDevice(m_path))
{
    if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        fail(ErrorNumber::DeviceInUse, m_path,
             u"%1 (locked by another program)"_s.arg(systemReason(EBUSY)));
    }
    // Any other flock failure (ENOLCK: a file system without flock) leaves
    // the lock file as the only guard, which is what most tools rely on.

    if (::tcgetattr(m_fd.get(), &m_found) != 0) {
        const int error = errno;
        if (error == ENOTTY || error == EINVAL)
            fail(ErrorNumber::NotATerminal, m_path, systemReason(ENOTTY));
        fail(ErrorNumber::OpenFailed, m_path, systemReason(error));
    }
    ::ioctl(m_fd.get(), TIOCEXCL);
    try {
        configureRaw();
        apply(settings);
    } catch (...) {
        restore();
        throw;
    }
    setDataTerminalReady(dataTerminalReady);
}

SerialDevice::~SerialDevice()
{
    restore();
}

void SerialDevice::configureRaw()
{
    // At a speed and frame every terminal takes, so that a refusal of the
    // user's settings is told apart from a device that cannot be used.
    termios line = m_found;
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | ParityMask | CSTOPB);
    line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    ::cfsetispeed(&line, B9600);
    ::cfsetospeed(&line, B9600);
    if (::tcsetattr(m_fd.get(), TCSANOW, &line) != 0)
        fail(ErrorNumber::OpenFailed, m_path, systemReason(errno));
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
        refuse(systemReason(errno));
    const std::int64_t speedBefore = LineSpeed::current(fd);
    auto putBack = qScopeGuard([&] {
        ::tcsetattr(fd, TCSANOW, &before);
        if (speedBefore > 0 && LineSpeed::current(fd) != speedBefore)
            LineSpeed::setAny(fd, static_cast<std::int32_t>(speedBefore));
    });

    termios line = before;
    line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | ParityMask | CSTOPB);
    line.c_cflag |= sizeFlag(settings.dataBits()) | parityFlags(settings.parity());
    if (settings.stopBits() == LineSettings::StopBits::Two)
        line.c_cflag |= CSTOPB;
    const speed_t named = standardSpeed(settings.baudRate());
    if (named != B0) {
        ::cfsetispeed(&line, named);
        ::cfsetospeed(&line, named);
    }
    if (::tcsetattr(fd, TCSANOW, &line) != 0)
        refuse(systemReason(errno));
    if (named == B0) {
        if (const int error = LineSpeed::setAny(fd, settings.baudRate()); error != 0)
            refuse(systemReason(error));
    }

    // A driver may keep its own idea of a setting without failing the call:
    // read back what the line runs.
    termios now = {};
    if (::tcgetattr(fd, &now) != 0)
        refuse(systemReason(errno));
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
        refuse(systemReason(errno));
    if (std::llabs(speed - settings.baudRate()) * 50 > settings.baudRate())
        refuse(u"the device does not support %1 baud (it runs %2)"_s.arg(settings.baudRate()).arg(speed));
    putBack.dismiss();
}

void SerialDevice::setDataTerminalReady(bool on) noexcept
{
    const int dtr = TIOCM_DTR;
    ::ioctl(m_fd.get(), on ? TIOCMBIS : TIOCMBIC, &dtr);
}

void SerialDevice::restore() noexcept
{
    // Best effort: a hung-up line refuses both, and there is nothing left
    // to put back then.
    ::ioctl(m_fd.get(), TIOCNXCL);
    ::tcsetattr(m_fd.get(), TCSANOW, &m_found);
}
