#include "SerialPortControl.h"

#include "DeviceLock.h"
#include "DirectoryWatch.h"
#include "ErrorReport.h"
#include "LineReader.h"
#include "LineSettings.h"
#include "MetaMethod.h"
#include "ReceiveBuffer.h"
#include "SerialDevice.h"

#include <QtCore/QByteArray>
#include <QtCore/QScopeGuard>
#include <QtCore/QTimer>

#include <array>
#include <chrono>
#include <exception>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr std::int16_t FirstPort = 1;
constexpr std::int16_t LastPort = 255;

// After a change in the watched directories brought a failed open, the port
// is tried again this long after the change, then after each further step:
// a node appears before its driver is ready for an open, and udev sets its
// group a moment later. Then only the next change tries again.
constexpr std::array<std::chrono::milliseconds, 4> RetryAfter{
    std::chrono::milliseconds(100), std::chrono::milliseconds(300), std::chrono::milliseconds(1000),
    std::chrono::milliseconds(3000)};

} // namespace

class SerialPortControl::Private
{
public:
    Private(SerialPortControl *control, DeviceMap deviceMap, QStringList returnWatched,
            qsizetype receiveLimit)
        : m_control(control)
        , m_deviceMap(std::move(deviceMap))
        , m_returnWatched(std::move(returnWatched))
        , m_received(receiveLimit, [this] { postDelivery(); })
        , m_receiveLimit(receiveLimit)
    {
    }

    Private(const Private &) = delete;
    Private &operator=(const Private &) = delete;

    void open();
    void openAt(const PortLocation &location);
    void close();
    // The reader reported the line gone: let go of the device now rather
    // than at "Close", so other programs can have it back, and watch for its
    // return.
    void releaseLostLine();
    // The port may be back: open it if it is.
    void tryReturn();
    void retryReturn();
    void endReturnWatch();
    // Whether there is a live device to apply settings to.
    bool lineUp();

    void postDelivery();
    void deliver();

    SerialPortControl *m_control = nullptr;
    const QMetaMethod m_delivery =
        requiredMethod(SerialPortControl::staticMetaObject, "deliverOnComm()");
    DeviceMap m_deviceMap;
    QStringList m_returnWatched;

    std::int16_t m_commPort = 1;
    bool m_dtrEnable = false;
    QString m_settingsText = u"9600,n,8,1"_s;
    LineSettings m_settings;
    std::int16_t m_rThreshold = 0;

    // PortOpen as the user sees it: it stays true after the line is lost,
    // until the user closes the port.
    bool m_open = false;
    QString m_devicePath;
    QString m_socket;
    LineEvent m_event = LineEvent::None;

    // Declared so that the reader goes first (it reads the device into the
    // buffer), then the device, then the buffer.
    ReceiveBuffer m_received;
    qsizetype m_receiveLimit = 0;
    std::unique_ptr<SerialDevice> m_device;
    std::unique_ptr<LineReader> m_reader;

    // While a lost line waits for its return.
    std::unique_ptr<DirectoryWatch> m_returnWatch;
    QTimer m_retry;
    std::size_t m_retries = 0;
};

void SerialPortControl::Private::open()
{
    openAt(m_deviceMap(m_commPort));
}

void SerialPortControl::Private::openAt(const PortLocation &location)
{
    auto device = std::make_unique<SerialDevice>(location.device, m_settings, m_dtrEnable);
    m_received.restartLine();
    m_reader = std::make_unique<LineReader>(location.device, device->fd(), m_received,
                                            m_settings.baudRate());
    m_device = std::move(device);
    m_devicePath = location.device;
    m_socket = location.socket;
    m_open = true;
}

void SerialPortControl::Private::close()
{
    endReturnWatch();
    m_reader.reset();
    m_device.reset();
    m_received.restartLine();
    m_open = false;
}

void SerialPortControl::Private::releaseLostLine()
{
    if (!m_reader || !m_received.lineLost())
        return;
    m_reader.reset(); // its thread has ended already
    m_device.reset();
    m_returnWatch = std::make_unique<DirectoryWatch>(m_returnWatched);
    // The attempt runs from the timer, never inside the watch's own signal,
    // so that a port that is back can end the watch there and then.
    QObject::connect(m_returnWatch.get(), &DirectoryWatch::changed, m_control, [this] {
        m_retries = 0;
        m_retry.start(0);
    });
    // It may be back already: a board that resets comes back within a
    // moment, perhaps before the watch began. Looked at from the event loop,
    // not inside the property call or delivery that found the loss.
    m_retries = RetryAfter.size();
    m_retry.start(0);
}

void SerialPortControl::Private::tryReturn()
{
    if (!m_open || m_device)
        return;
    try {
        const PortLocation found = m_deviceMap(m_commPort);
        // Another port that moved up into this number while this one is
        // away is someone else's line.
        if (found.socket != m_socket && !found.alone)
            return;
        openAt(found);
        endReturnWatch();
    } catch (const std::exception &) {
        // Not there, or not yet usable: the next change, or a retry, looks again.
        retryReturn();
    }
}

void SerialPortControl::Private::endReturnWatch()
{
    m_retry.stop();
    m_returnWatch.reset();
}

void SerialPortControl::Private::retryReturn()
{
    if (m_retries < RetryAfter.size())
        m_retry.start(RetryAfter[m_retries++]);
}

bool SerialPortControl::Private::lineUp()
{
    releaseLostLine();
    return m_device != nullptr;
}

void SerialPortControl::Private::postDelivery()
{
    // Runs under the buffer's lock, on either thread, and the delivery takes
    // that lock before it looks at anything: this is what orders what the
    // reader did before the delivery, in a way ThreadSanitizer can see too
    // (Qt's own queue locking is invisible to it). Through the slot's meta
    // method rather than a functor, because a functor's call object would be
    // built here and read over there before the delivery gets to the lock;
    // looked up once, not by name for every delivery.
    m_delivery.invoke(m_control, Qt::QueuedConnection);
}

void SerialPortControl::Private::deliver()
{
    releaseLostLine();
    const LineEvent event = m_received.nextEvent();
    if (event == LineEvent::None)
        return;
    m_event = event;
    Q_EMIT m_control->OnComm();
}

SerialPortControl::SerialPortControl(QObject *parent)
    : SerialPortControl(DeviceMap(&SerialPortControl::defaultLocation), parent)
{
}

SerialPortControl::SerialPortControl(DeviceMap deviceMap, QObject *parent)
    : SerialPortControl(std::move(deviceMap), DefaultReceiveLimit, parent)
{
}

SerialPortControl::SerialPortControl(DeviceMap deviceMap, qsizetype receiveLimit, QObject *parent)
    : SerialPortControl(std::move(deviceMap), {SerialPorts().deviceRoot(), DeviceLock::directory()},
                        receiveLimit, parent)
{
}

SerialPortControl::SerialPortControl(DeviceMap deviceMap, QStringList returnWatched,
                                     qsizetype receiveLimit, QObject *parent)
    : SerialControl(parent)
    , m_d(std::make_unique<Private>(this, std::move(deviceMap), std::move(returnWatched), receiveLimit))
{
    m_d->m_retry.setSingleShot(true);
    connect(&m_d->m_retry, &QTimer::timeout, this, [this] { m_d->tryReturn(); });
}

SerialPortControl::~SerialPortControl() = default;

PortLocation SerialPortControl::defaultLocation(std::int16_t port)
{
    return SerialPorts().locate(port);
}

qsizetype SerialPortControl::receiveLimit() const
{
    return m_d->m_receiveLimit;
}

std::int16_t SerialPortControl::CommPort() const
{
    return m_d->m_commPort;
}

void SerialPortControl::setCommPort(std::int16_t port)
{
    if (port < FirstPort || port > LastPort) {
        throw ErrorReport(ErrorNumber::InvalidPortNumber,
                          u"Port number %1 is outside %2 to %3"_s.arg(port).arg(FirstPort).arg(
                              LastPort));
    }
    if (port == m_d->m_commPort)
        return;
    if (m_d->m_open) {
        throw ErrorReport(ErrorNumber::PortChangeWhileOpen,
                          u"%1: CommPort cannot change while the port is open"_s.arg(
                              m_d->m_devicePath));
    }
    m_d->m_commPort = port;
}

bool SerialPortControl::DTREnable() const
{
    return m_d->m_dtrEnable;
}

void SerialPortControl::setDTREnable(bool enable)
{
    m_d->m_dtrEnable = enable;
    if (m_d->lineUp())
        m_d->m_device->setDataTerminalReady(enable);
}

QString SerialPortControl::Settings() const
{
    return m_d->m_settingsText;
}

void SerialPortControl::setSettings(const QString &settings)
{
    const LineSettings parsed = LineSettings::parse(settings);
    if (m_d->lineUp()) {
        m_d->m_device->apply(parsed);
        m_d->m_reader->setBaudRate(parsed.baudRate());
    }
    m_d->m_settingsText = settings;
    m_d->m_settings = parsed;
}

std::int16_t SerialPortControl::RThreshold() const
{
    return m_d->m_rThreshold;
}

void SerialPortControl::setRThreshold(std::int16_t threshold)
{
    if (threshold < 0) {
        throw ErrorReport(ErrorNumber::InvalidPropertyValue,
                          u"RThreshold must not be negative (got %1)"_s.arg(threshold));
    }
    m_d->m_rThreshold = threshold;
    m_d->m_received.setThreshold(threshold);
}

bool SerialPortControl::PortOpen() const
{
    return m_d->m_open;
}

void SerialPortControl::setPortOpen(bool open)
{
    if (!open) {
        m_d->close();
        return;
    }
    if (m_d->m_open) {
        throw ErrorReport(ErrorNumber::PortAlreadyOpen,
                          u"%1: the port is already open"_s.arg(m_d->m_devicePath));
    }
    m_d->open();
}

QString SerialPortControl::Input()
{
    ReceiveBuffer::Taken taken = m_d->m_received.take();
    if (taken.wasFull && m_d->m_reader)
        m_d->m_reader->wake();
    return QString::fromLatin1(taken.bytes);
}

void SerialPortControl::deliverOnComm()
{
    m_d->deliver();
}

LineEvent SerialPortControl::commEvent() const
{
    return m_d->m_event;
}
