#include "SerialPortControl.h"

#include "ErrorReport.h"
#include "LineSettings.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMetaObject>
#include <QtCore/QScopeGuard>
#include <QtCore/QScopedValueRollback>
#include <QtSerialPort/QSerialPort>

#include <cerrno>
#include <cstring>
#include <utility>

#if defined(Q_OS_UNIX)
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>
#endif
#if defined(Q_OS_LINUX)
#include <sys/sysmacros.h>
#endif

using namespace Qt::StringLiterals;

namespace {

constexpr std::int16_t FirstPort = 1;
constexpr std::int16_t LastPort = 255;

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

[[noreturn]] void fail(std::int32_t number, const QString &device, const QString &reason)
{
    throw ErrorReport(number, device + u": "_s + reason);
}

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
    switch (stopBits) {
    case LineSettings::StopBits::One: return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two: return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
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

#if defined(Q_OS_UNIX)

bool parityMatches(tcflag_t cflag, LineSettings::Parity parity)
{
    const bool enabled = (cflag & PARENB) != 0;
    const bool odd = (cflag & PARODD) != 0;
#if defined(CMSPAR)
    const bool sticky = (cflag & CMSPAR) != 0;
#else
    const bool sticky = false;
#endif
    switch (parity) {
    case LineSettings::Parity::None: return !enabled;
    case LineSettings::Parity::Even: return enabled && !sticky && !odd;
    case LineSettings::Parity::Odd: return enabled && !sticky && odd;
    case LineSettings::Parity::Mark: return enabled && sticky && odd;
    case LineSettings::Parity::Space: return enabled && sticky && !odd;
    }
    return false;
}

// The UUCP lock file other serial tools (picocom, minicom, lockdev) look
// for: the device path below /dev with '/' turned into '_'. QSerialPort uses
// the same name when /var/lock is writable.
QString lockFilePath(const QString &device)
{
    QString name = device.startsWith(u"/dev/") ? device.mid(5) : device;
    name.replace(u'/', u'_');
    return u"/var/lock/LCK.."_s + name;
}

// The PID a lock file names: ASCII decimal on its first line, possibly
// space-padded (lockdev writes "%10d\n", QLockFile "pid\napp\nhost\n").
// 0 when the content is not a PID at all.
pid_t lockOwner(const QByteArray &content)
{
    const qsizetype newline = content.indexOf('\n');
    const QByteArray first = (newline < 0 ? content : content.left(newline)).trimmed();
    bool ok = false;
    const int pid = first.toInt(&ok, 10);
    return ok && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

bool processAlive(pid_t pid)
{
    // EPERM: the process exists but belongs to someone else.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

#if defined(Q_OS_LINUX)
// Tells from sysfs, without opening the device, whether a character device
// is something other than a terminal (/dev/null, /dev/zero...). Devices
// without a sysfs entry, pseudo-terminals among them, give no answer here.
bool knownNotATerminal(dev_t device)
{
    const QString subsystem = u"/sys/dev/char/%1:%2/subsystem"_s.arg(major(device)).arg(minor(device));
    const QFileInfo link(subsystem);
    if (!link.isSymLink())
        return false;
    return QFileInfo(link.symLinkTarget()).fileName() != u"tty";
}
#endif

#endif // Q_OS_UNIX

} // namespace

class SerialPortControl::Private
{
public:
    Private(SerialPortControl *control, DeviceMap deviceMap)
        : q(control)
        , m_deviceMap(std::move(deviceMap))
        , m_port(new QSerialPort(control))
    {
        QObject::connect(m_port, &QSerialPort::readyRead, q, [this] { takeReceived(); });
        QObject::connect(m_port, &QSerialPort::errorOccurred, q,
                         [this](QSerialPort::SerialPortError error) { portError(error); });
    }

    ~Private()
    {
        // Closing emits; nothing of ours may run while we are being torn down.
        QObject::disconnect(m_port, nullptr, q, nullptr);
        closeDevice();
    }

    Private(const Private &) = delete;
    Private &operator=(const Private &) = delete;

    QString deviceFor(std::int16_t port) const { return m_deviceMap(port); }

    void open();
    void closeDevice();
    void applySettings(const QString &device, const LineSettings &settings);
    void setDataTerminalReady(bool on);

    void takeReceived();
    void portError(QSerialPort::SerialPortError error);
    void dropLostLine();

    bool thresholdMet() const { return m_rThreshold >= 1 && m_received.size() >= m_rThreshold; }
    void postOnCommIfDue();
    void deliverOnComm();

    SerialPortControl *q = nullptr;
    DeviceMap m_deviceMap;
    QSerialPort *m_port = nullptr;

    std::int16_t m_commPort = 1;
    bool m_dtrEnable = false;
    QString m_settingsText = u"9600,n,8,1"_s;
    LineSettings m_settings;
    std::int16_t m_rThreshold = 0;

    // PortOpen as the user sees it. It stays true after the line is lost
    // (m_lineLost) until the user closes the port.
    bool m_open = false;
    bool m_lineLost = false;
    QString m_device;

    // Received bytes not yet returned by Input; kept across close.
    QByteArray m_received;

    bool m_onCommPosted = false;
    bool m_hangUpEventDue = false;

    // Set around modem-line calls: a line without modem signals (a
    // pseudo-terminal) makes QSerialPort report an error that is none of ours.
    bool m_ignorePortErrors = false;

    // A lock file we wrote ourselves because QSerialPort did not; removed on close.
    QString m_ownLockFile;

private:
    void checkDevice(const QString &device) const;
    void checkLockFile(const QString &device) const;
    [[noreturn]] void failOpen(const QString &device);
    void lockDevice(const QString &device);
    void holdLockFile(const QString &device);
};

void SerialPortControl::Private::checkDevice([[maybe_unused]] const QString &device) const
{
#if defined(Q_OS_UNIX)
    // QSerialPort folds several reasons into one error code; asking the
    // system first gives the user the real one. None of this opens the device.
    const QByteArray path = QFile::encodeName(device);
    struct stat status = {};
    if (::stat(path.constData(), &status) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            fail(ErrorNumber::DeviceAbsent, device, systemReason(error));
        if (error == EACCES || error == EPERM)
            fail(ErrorNumber::PermissionDenied, device, systemReason(error));
        fail(ErrorNumber::OpenFailed, device, systemReason(error));
    }
    if (!S_ISCHR(status.st_mode))
        fail(ErrorNumber::NotATerminal, device, systemReason(ENOTTY));
#if defined(Q_OS_LINUX)
    if (knownNotATerminal(status.st_rdev))
        fail(ErrorNumber::NotATerminal, device, systemReason(ENOTTY));
#endif
    if (::faccessat(AT_FDCWD, path.constData(), R_OK, AT_EACCESS) != 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            fail(ErrorNumber::PermissionDenied, device, systemReason(error));
        fail(ErrorNumber::OpenFailed, device, systemReason(error));
    }
#endif
}

void SerialPortControl::Private::checkLockFile([[maybe_unused]] const QString &device) const
{
#if defined(Q_OS_UNIX)
    // QSerialPort's QLockFile takes any lock file without its own hostname
    // line, or older than 30 s, for stale and deletes it, so another tool's
    // live lock must be caught here, before QSerialPort ever sees it.
    const QString lockFile = lockFilePath(device);
    QFile file(lockFile);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists()) {
            fail(ErrorNumber::DeviceInUse, device,
                 u"%1 (lock file %2 cannot be read: %3)"_s.arg(systemReason(EBUSY), lockFile,
                                                              file.errorString()));
        }
        return;
    }
    const pid_t owner = lockOwner(file.read(64));
    file.close();
    if (owner != 0 && processAlive(owner)) {
        fail(ErrorNumber::DeviceInUse, device,
             u"%1 (locked by process %2)"_s.arg(systemReason(EBUSY)).arg(owner));
    }
    // A stale lock must not block the port, and QLockFile would refuse to
    // replace one written without a hostname line.
    if (::unlink(QFile::encodeName(lockFile).constData()) != 0 && errno != ENOENT) {
        const int error = errno;
        fail(error == EACCES || error == EPERM ? ErrorNumber::PermissionDenied
                                               : ErrorNumber::OpenFailed,
             device,
             u"stale lock file %1 cannot be removed: %2"_s.arg(lockFile, systemReason(error)));
    }
#endif
}

void SerialPortControl::Private::failOpen(const QString &device)
{
    const QSerialPort::SerialPortError error = m_port->error();
    const QString reason = m_port->errorString();
    m_port->clearError();
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        fail(ErrorNumber::DeviceAbsent, device, reason);
    case QSerialPort::PermissionError:
        // QSerialPort reports a busy device, a lock it could not take and a
        // refused permission all as PermissionError.
#if defined(Q_OS_UNIX)
        if (reason == systemReason(EBUSY) || QFile::exists(lockFilePath(device)))
            fail(ErrorNumber::DeviceInUse, device, reason);
#endif
        fail(ErrorNumber::PermissionDenied, device, reason);
    case QSerialPort::UnsupportedOperationError:
        // The device opened but refused the terminal calls.
        fail(ErrorNumber::NotATerminal, device, reason);
    default:
        fail(ErrorNumber::OpenFailed, device, reason);
    }
}

void SerialPortControl::Private::lockDevice([[maybe_unused]] const QString &device)
{
#if defined(Q_OS_UNIX)
    if (::flock(static_cast<int>(m_port->handle()), LOCK_EX | LOCK_NB) == 0)
        return;
    const int error = errno;
    if (error == EWOULDBLOCK)
        fail(ErrorNumber::DeviceInUse, device,
             u"%1 (locked by another program)"_s.arg(systemReason(EBUSY)));
    // A file system without flock support (ENOLCK) leaves the lock file as
    // the only guard, which is what most serial tools rely on anyway.
#endif
}

void SerialPortControl::Private::holdLockFile([[maybe_unused]] const QString &device)
{
#if defined(Q_OS_UNIX)
    const QString lockFile = lockFilePath(device);
    QFile file(lockFile);
    if (file.open(QIODevice::ReadOnly)) {
        const pid_t owner = lockOwner(file.read(64));
        if (owner == ::getpid())
            return;
        fail(ErrorNumber::DeviceInUse, device,
             u"%1 (locked by process %2)"_s.arg(systemReason(EBUSY)).arg(owner));
    }
    // QSerialPort keeps its lock elsewhere when /var/lock is not writable;
    // other tools only look in /var/lock.
    QFile own(lockFile);
    if (!own.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (own.exists())
            fail(ErrorNumber::DeviceInUse, device, systemReason(EBUSY));
        return; // no lock directory to speak of: nobody else can lock either
    }
    own.write(QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n');
    own.close();
    m_ownLockFile = lockFile;
#endif
}

void SerialPortControl::Private::open()
{
    const QString device = deviceFor(m_commPort);
    checkDevice(device);
    checkLockFile(device);

    // The port opens at QSerialPort's defaults, which any terminal accepts,
    // and our settings are applied afterwards: that way a refused setting is
    // told apart from a device that cannot be opened.
    m_port->setPortName(device);
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port->open(QIODevice::ReadOnly))
        failOpen(device);

    m_device = device;
    auto closeAgain = qScopeGuard([this] { closeDevice(); });
    lockDevice(device);
    applySettings(device, m_settings);
    setDataTerminalReady(m_dtrEnable);
    holdLockFile(device);
    closeAgain.dismiss();

    m_open = true;
    m_lineLost = false;
}

void SerialPortControl::Private::closeDevice()
{
    if (m_port->isOpen())
        m_port->close();
    m_port->clearError();
#if defined(Q_OS_UNIX)
    if (!m_ownLockFile.isEmpty()) {
        QFile file(m_ownLockFile);
        // Only our own: someone may have broken and replaced it meanwhile.
        if (file.open(QIODevice::ReadOnly) && lockOwner(file.read(64)) == ::getpid()) {
            file.close();
            file.remove();
        }
        m_ownLockFile.clear();
    }
#endif
}

void SerialPortControl::Private::applySettings(const QString &device, const LineSettings &settings)
{
    const auto refuse = [&](const QString &reason) {
        m_port->clearError();
        throw ErrorReport(ErrorNumber::ConfigurationFailed,
                          u"%1: cannot use Settings \"%2\": %3"_s.arg(device, settings.toString(),
                                                                    reason));
    };
#if !defined(Q_OS_WIN)
    // termios has no 1.5 stop bits; QSerialPort would quietly run one.
    if (settings.stopBits() == LineSettings::StopBits::OneAndHalf)
        refuse(u"1.5 stop bits are not supported on this system"_s);
#endif
    if (!m_port->setBaudRate(settings.baudRate()))
        refuse(m_port->errorString());
    if (!m_port->setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits())))
        refuse(m_port->errorString());
    if (!m_port->setParity(toQt(settings.parity())))
        refuse(m_port->errorString());
    if (!m_port->setStopBits(toQt(settings.stopBits())))
        refuse(m_port->errorString());
#if defined(Q_OS_UNIX)
    // A driver may keep its own idea of a setting without failing the call
    // (a pseudo-terminal keeps 8 data bits and drops parity, and QSerialPort
    // does not notice for mark and space): read back what the line runs.
    termios line = {};
    if (::tcgetattr(static_cast<int>(m_port->handle()), &line) != 0)
        refuse(systemReason(errno));
#if defined(CMSPAR)
    constexpr tcflag_t parityKind = PARODD | CMSPAR;
#else
    constexpr tcflag_t parityKind = PARODD;
#endif
    // QSerialPort leaves the odd and sticky bits of an earlier parity behind
    // when parity is turned off; harmless to the line, but the device's
    // settings should read back as what was asked for.
    if (settings.parity() == LineSettings::Parity::None && (line.c_cflag & parityKind) != 0) {
        line.c_cflag &= ~parityKind;
        if (::tcsetattr(static_cast<int>(m_port->handle()), TCSANOW, &line) != 0)
            refuse(systemReason(errno));
    }
    const tcflag_t cflag = line.c_cflag;
    const tcflag_t wantedSize = settings.dataBits() == 5   ? CS5
                                : settings.dataBits() == 6 ? CS6
                                : settings.dataBits() == 7 ? CS7
                                                           : CS8;
    if ((cflag & CSIZE) != wantedSize)
        refuse(u"the device does not support %1 data bits"_s.arg(settings.dataBits()));
    if (!parityMatches(cflag, settings.parity()))
        refuse(u"the device does not support %1 parity"_s.arg(parityName(settings.parity())));
    if (((cflag & CSTOPB) != 0) != (settings.stopBits() == LineSettings::StopBits::Two))
        refuse(u"the device does not support this number of stop bits"_s);
#endif
}

void SerialPortControl::Private::setDataTerminalReady(bool on)
{
    const QScopedValueRollback ignoring(m_ignorePortErrors, true);
    m_port->setDataTerminalReady(on);
    m_port->clearError();
}

void SerialPortControl::Private::takeReceived()
{
    m_received += m_port->readAll();
    postOnCommIfDue();
}

void SerialPortControl::Private::portError(QSerialPort::SerialPortError error)
{
    if (m_ignorePortErrors || !m_open || m_lineLost)
        return;
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    // A hung-up line reads as end of file forever and QSerialPort reports
    // each read as an error: stop at the first. The port is closed from the
    // event loop because this runs inside QSerialPort's own notifier.
    m_lineLost = true;
    QMetaObject::invokeMethod(q, [this] { dropLostLine(); }, Qt::QueuedConnection);
}

void SerialPortControl::Private::dropLostLine()
{
    // The user may have closed (and even reopened) the port meanwhile.
    if (!m_lineLost || !m_port->isOpen())
        return;
    m_received += m_port->readAll();
    closeDevice();
    m_hangUpEventDue = true;
    postOnCommIfDue();
}

void SerialPortControl::Private::postOnCommIfDue()
{
    if (m_onCommPosted || !(thresholdMet() || m_hangUpEventDue))
        return;
    m_onCommPosted = true;
    QMetaObject::invokeMethod(q, [this] { deliverOnComm(); }, Qt::QueuedConnection);
}

void SerialPortControl::Private::deliverOnComm()
{
    // Cleared before emitting, so bytes that arrive while the slot runs post
    // exactly one further emission.
    m_onCommPosted = false;
    const bool due = thresholdMet() || m_hangUpEventDue;
    m_hangUpEventDue = false;
    if (due)
        Q_EMIT q->OnComm();
}

SerialPortControl::SerialPortControl(QObject *parent)
    : SerialPortControl(DeviceMap(&SerialPortControl::defaultDevice), parent)
{
}

SerialPortControl::SerialPortControl(DeviceMap deviceMap, QObject *parent)
    : SerialControl(parent)
    , d(std::make_unique<Private>(this, std::move(deviceMap)))
{
}

SerialPortControl::~SerialPortControl() = default;

QString SerialPortControl::defaultDevice(std::int16_t port)
{
#if defined(Q_OS_WIN)
    return u"COM%1"_s.arg(port);
#else
    return u"/dev/ttyS%1"_s.arg(port - 1);
#endif
}

std::int16_t SerialPortControl::CommPort() const
{
    return d->m_commPort;
}

void SerialPortControl::setCommPort(std::int16_t port)
{
    if (port < FirstPort || port > LastPort) {
        throw ErrorReport(ErrorNumber::InvalidPortNumber,
                          u"Port number %1 is outside %2 to %3"_s.arg(port).arg(FirstPort).arg(
                              LastPort));
    }
    if (port == d->m_commPort)
        return;
    if (d->m_open) {
        throw ErrorReport(ErrorNumber::PortChangeWhileOpen,
                          u"%1: CommPort cannot change while the port is open"_s.arg(d->m_device));
    }
    d->m_commPort = port;
}

bool SerialPortControl::DTREnable() const
{
    return d->m_dtrEnable;
}

void SerialPortControl::setDTREnable(bool enable)
{
    d->m_dtrEnable = enable;
    if (d->m_open && !d->m_lineLost)
        d->setDataTerminalReady(enable);
}

QString SerialPortControl::Settings() const
{
    return d->m_settingsText;
}

void SerialPortControl::setSettings(const QString &settings)
{
    const LineSettings parsed = LineSettings::parse(settings);
    if (d->m_open && !d->m_lineLost) {
        try {
            d->applySettings(d->m_device, parsed);
        } catch (const ErrorReport &) {
            // Put the line back as the stored settings say; a device that
            // refuses those too has nothing better to offer.
            try {
                d->applySettings(d->m_device, d->m_settings);
            } catch (const ErrorReport &) {
            }
            throw;
        }
    }
    d->m_settingsText = settings;
    d->m_settings = parsed;
}

std::int16_t SerialPortControl::RThreshold() const
{
    return d->m_rThreshold;
}

void SerialPortControl::setRThreshold(std::int16_t threshold)
{
    if (threshold < 0) {
        throw ErrorReport(ErrorNumber::InvalidPropertyValue,
                          u"RThreshold must not be negative (got %1)"_s.arg(threshold));
    }
    d->m_rThreshold = threshold;
    d->postOnCommIfDue();
}

bool SerialPortControl::PortOpen() const
{
    return d->m_open;
}

void SerialPortControl::setPortOpen(bool open)
{
    if (!open) {
        d->closeDevice();
        d->m_open = false;
        d->m_lineLost = false;
        return;
    }
    if (d->m_open) {
        throw ErrorReport(ErrorNumber::PortAlreadyOpen,
                          u"%1: the port is already open"_s.arg(d->m_device));
    }
    d->open();
}

QString SerialPortControl::Input()
{
    if (d->m_port->isOpen())
        d->m_received += d->m_port->readAll();
    return QString::fromLatin1(std::exchange(d->m_received, QByteArray()));
}
