#pragma once

#include "SerialControl.h"

#include <QtCore/QString>

#include <cstdint>
#include <functional>
#include <memory>

// The serial control over QSerialPort.
//
// Port N maps to /dev/ttyS{N-1} (COM{N} on Windows) unless a different device
// map is given, which is how tests point it at a pseudo-terminal.
//
// While open it holds the device twice over, as other serial tools expect:
// a UUCP lock file in /var/lock holding our PID, and an exclusive flock() on
// the device. It never removes a lock file whose PID is alive.
//
// When the line goes away under it (adapter unplugged, the other side of a
// pseudo-terminal closed) it delivers what it had received, stops watching
// the dead line and stays "open" until PortOpen is set False.
class SerialPortControl final : public SerialControl
{
    Q_OBJECT

public:
    using DeviceMap = std::function<QString(std::int16_t port)>;

    explicit SerialPortControl(QObject *parent = nullptr);
    explicit SerialPortControl(DeviceMap deviceMap, QObject *parent = nullptr);
    ~SerialPortControl() override;

    // The system's own device for port N.
    static QString defaultDevice(std::int16_t port);

    std::int16_t CommPort() const override;
    void setCommPort(std::int16_t port) override;
    bool DTREnable() const override;
    void setDTREnable(bool enable) override;
    QString Settings() const override;
    void setSettings(const QString &settings) override;
    std::int16_t RThreshold() const override;
    void setRThreshold(std::int16_t threshold) override;
    bool PortOpen() const override;
    void setPortOpen(bool open) override;
    QString Input() override;

private:
    class Private;
    std::unique_ptr<Private> d;
};
