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
// the dead line and stays "open" until PortOpen is set False. OnComm is then
// raised once, whatever RThreshold says, so the user learns of it; Settings
// and DTREnable set meanwhile are only stored, for the next open.
//
// Received input is never dropped by closing: characters not yet read stay
// for Input after PortOpen is set False (or the line is lost), and an OnComm
// already pending when the port closes is still delivered while they wait.
// Opening again adds to them.
//
// Settings are checked against what the device actually runs: a setting the
// driver quietly ignores (a pseudo-terminal keeps 8 data bits and no parity;
// no Unix terminal has 1.5 stop bits) fails with ConfigurationFailed rather
// than running the line differently from what was asked.
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
