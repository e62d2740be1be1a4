#include "SerialPortControl.h"

#include "ErrorReport.h"
#include "LineReader.h"
#include "LineSettings.h"
#include "MetaMethod.h"
#include "ReceiveBuffer.h"
#include "SerialDevice.h"

#include <QtCore/QByteArray>
#include <QtCore/QScopeGuard>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr std::int16_t FirstPort = 1;
constexpr std::int16_t LastPort = 255;

} // namespace

class SerialPortControl::Private
{
public:
    Private(SerialPortControl *control, DeviceMap deviceMap, qsizetype receiveLimit)
        : m_control(control)
        , m_deviceMap(std::move(deviceMap))
        , m_received(receiveLimit, [this] { postDelivery(); })
        , m_receiveLimit(receiveLimit)
    {
    }

    Private(const Private &) = delete;
    Private &operator=(const Private &) = delete;

    void open();
    void close();
    // The reader reported the line gone: let go of the device now rather
    // than at "Close", so other programs can have it back.
    void releaseLostLine();
    // Whether there is a live device to apply settings to.
    bool lineUp();

    void postDelivery();
    void deliver();

    SerialPortControl *m_control = nullptr;
    const QMetaMethod m_delivery =
        requiredMethod(SerialPortControl::staticMetaObject, "deliverOnComm()");
    DeviceMap m_deviceMap;

    std::int16_t m_commPort = 1;
    bool m_dtrEnable = false;
    QString m_settingsText = u"9600,n,8,1"_s;
    LineSettings m_settings;
    std::int16_t m_rThreshold = 0;

    // PortOpen as the user sees it: it stays true after the line is lost,
    // until the user closes the port.
    bool m_open = false;
    QString m_devicePath;
    LineEvent m_event = LineEvent::None;

    // Declared so that the reader goes first (it reads the device into the
    // buffer), then the device, then the buffer.
    ReceiveBuffer m_received;
    qsizetype m_receiveLimit = 0;
    std::unique_ptr<SerialDevice> m_device;
    std::unique_ptr<LineReader> m_reader;
};

void SerialPortControl::Private::open()
{
    const QString path = m_deviceMap(m_commPort);
    auto device = std::make_unique<SerialDevice>(path, m_settings, m_dtrEnable);
    m_received.restartLine();
    m_reader = std::make_unique<LineReader>(path, device->fd(), m_received, m_settings.baudRate());
    m_device = std::move(device);
    m_devicePath = path;
    m_open = true;
}

void SerialPortControl::Private::close()
{
    m_reader.reset();
    m_device.reset();
    m_received.restartLine();
    m_open = false;
}

void SerialPortControl::Private::releaseLostLine()
{
    if (m_reader && m_received.lineLost()) {
        m_reader.reset(); // its thread has ended already
        m_device.reset();
    }
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
    : SerialPortControl(DeviceMap(&SerialPortControl::defaultDevice), parent)
{
}

SerialPortControl::SerialPortControl(DeviceMap deviceMap, QObject *parent)
    : SerialPortControl(std::move(deviceMap), DefaultReceiveLimit, parent)
{
}

SerialPortControl::SerialPortControl(DeviceMap deviceMap, qsizetype receiveLimit, QObject *parent)
    : SerialControl(parent)
    , m_d(std::make_unique<Private>(this, std::move(deviceMap), receiveLimit))
{
}

SerialPortControl::~SerialPortControl() = default;

QString SerialPortControl::defaultDevice(std::int16_t port)
{
    return u"/dev/ttyS%1"_s.arg(port - 1);
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
