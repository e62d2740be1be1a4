#include "SerialDevice.h"

#include "DeviceLockFile.h"
#include "ErrorReport.h"
#include "LineSpeed.h"
#include "SystemError.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QScopeGuard>
#include <QtSerialPort/QSerialPort>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

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

QSerialPort::Parity toQt(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::None: return QSerialPort::NoParity;
    case LineSettings::Parity::Even: return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd: return QSerialPort::OddParity;
    case LineSettings::Parity::Mark: return QSerialPort::MarkParity;
    case LineSettings::Parity::Space: return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits stopBits)
{
    return stopBits == LineSettings::StopBits::Two ? QSerialPort::TwoStop : QSerialPort::OneStop;
}

// The port opens at settings any terminal takes, so that a refusal of the
// user's settings is told apart from a device that cannot be used.
std::unique_ptr<QSerialPort> openForConfiguration(const QString &device)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(device);
    port->setBaudRate(QSerialPort::Baud9600);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    if (port->open(QIODevice::WriteOnly))
        return port;
    const QString reason = port->errorString();
    switch (port->error()) {
    case QSerialPort::DeviceNotFoundError:
        fail(ErrorNumber::DeviceAbsent, device, reason);
    case QSerialPort::PermissionError:
        // Its own lock file taken by someone in the meantime, or exclusive
        // mode: the device is not ours to have.
        fail(ErrorNumber::DeviceInUse, device, reason);
    case QSerialPort::UnsupportedOperationError:
        fail(ErrorNumber::NotATerminal, device, reason);
    default:
        fail(ErrorNumber::OpenFailed, device, reason);
    }
}

} // namespace

SerialDevice::SerialDevice(const QString &device, const LineSettings &settings,
                           bool dataTerminalReady)
    : m_path(checked(device))
{
    DeviceLockFile::clearTheWay(m_path);
    // Our own descriptor first: once QSerialPort has put the device in
    // exclusive mode, nobody but root could open it again.
    m_fd = UniqueFd(openDevice(m_path));
    if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        SystemError::fail(m_path, EBUSY, u"locked by another program"_s);
    // Any other flock failure (ENOLCK: a file system without flock) leaves
    // the lock file as the only guard, which is what most tools rely on.

    termios found = {};
    if (::tcgetattr(m_fd.get(), &found) != 0) {
        // Some drivers answer EINVAL, not ENOTTY, for a device that is no
        // terminal.
        const int error = errno;
        SystemError::fail(m_path, error == EINVAL ? ENOTTY : error);
    }

    m_port = openForConfiguration(m_path);
    apply(settings);
    setDataTerminalReady(dataTerminalReady);
}

SerialDevice::~SerialDevice()
{
    // Puts the device's settings back, leaves exclusive mode and removes the
    // lock file; a hung-up line refuses the first two, and there is nothing
    // left to put back then.
    m_port->close();
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
    auto putBack = qScopeGuard([&] {
        ::tcsetattr(fd, TCSANOW, &before);
        if (speedBefore > 0 && LineSpeed::current(fd) != speedBefore)
            LineSpeed::setAny(fd, static_cast<std::int32_t>(speedBefore));
    });

    m_port->clearError();
    if (!m_port->setBaudRate(settings.baudRate()) ||
        !m_port->setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits())) ||
        !m_port->setParity(toQt(settings.parity())) || !m_port->setStopBits(toQt(settings.stopBits())) ||
        !m_port->setFlowControl(QSerialPort::NoFlowControl)) {
        const QString reason = m_port->errorString();
        m_port->clearError();
        refuse(reason);
    }
    // QSerialPort leaves the odd and sticky bits of an earlier parity behind
    // when parity is turned off: harmless to the line, but the device should
    // run exactly what was asked.
    termios line = {};
    if (::tcgetattr(fd, &line) != 0)
        refuse(SystemError::description(errno));
    if (settings.parity() == LineSettings::Parity::None && (line.c_cflag & ParityMask) != 0) {
        line.c_cflag &= ~ParityMask;
        if (::tcsetattr(fd, TCSANOW, &line) != 0)
            refuse(SystemError::description(errno));
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

void SerialDevice::setDataTerminalReady(bool on) noexcept
{
    m_port->setDataTerminalReady(on);
    m_port->clearError();
}
