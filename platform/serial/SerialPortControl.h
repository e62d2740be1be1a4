#pragma once

#include "LineEvent.h"
#include "SerialControl.h"
#include "SerialPorts.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <cstdint>
#include <functional>
#include <memory>

// The serial control over a Linux serial device, with reception on a thread of its own.
//
// Port N is the machine's Nth serial port, as SerialPorts counts them,
// unless a different device map is given, which is how tests point it at a
// pseudo-terminal. While open the device is held as SerialDevice describes:
// UUCP lock file, exclusive mode, flock, DTR as DTREnable says and RTS off.
//
// Reception runs on a thread of its own (LineReader), into a buffer that
// grows as needed, so a busy or blocked window thread never holds the line
// back or loses a byte. OnComm is posted to the window thread, coalesced.
// Once receiveLimit() characters wait unread, the control stops reading (the
// line's own flow control, or its loss, takes over), raises OnComm with
// commEvent() ReceiveOverflow, and reads on as soon as Input is called.
//
// When the line goes away under it (adapter unplugged, the other side of a
// pseudo-terminal closed) it keeps what it had received, releases the device
// and its locks, and stays "open" until PortOpen is set False. OnComm is then
// raised once with commEvent() LineLost, whatever RThreshold says, so the
// user learns of it; Settings and DTREnable set meanwhile are only stored.
//
// Meanwhile it watches for the port's return: whenever the directories
// where a node appears or a lock goes away change (inotify; nothing is
// polled), it looks the port up again, and once it is back in the same
// socket, or is a new port that is now the machine's only one, opens it as
// PortOpen would, with the settings stored. No OnComm marks the return;
// reception simply goes on, adding to what waits unread. An open that fails
// (the node made but not yet usable, its permissions not yet set) is tried
// again on the next change, and a few times more over the next seconds.
// Setting PortOpen False ends the watch.
//
// Received input is never dropped by closing: characters not yet read stay
// for Input after PortOpen is set False (or the line is lost), and an OnComm
// already pending when the port closes is still delivered while they wait.
// Opening again adds to them.
class SerialPortControl final : public SerialControl
{
    Q_OBJECT

public:
    // Where port N is; throws ErrorReport DeviceAbsent when there is none.
    using DeviceMap = std::function<PortLocation(std::int16_t port)>;

    // Characters that may wait unread before reading stops.
    static constexpr qsizetype DefaultReceiveLimit = qsizetype(64) * 1024 * 1024;

    explicit SerialPortControl(QObject *parent = nullptr);
    explicit SerialPortControl(DeviceMap deviceMap, QObject *parent = nullptr);
    SerialPortControl(DeviceMap deviceMap, qsizetype receiveLimit, QObject *parent = nullptr);
    // `returnWatched`: the directories whose changes may mean a lost port is
    // back (by default /dev and the lock directory).
    SerialPortControl(DeviceMap deviceMap, QStringList returnWatched, qsizetype receiveLimit,
                      QObject *parent = nullptr);
    ~SerialPortControl() override;

    // The machine's own port N.
    static PortLocation defaultLocation(std::int16_t port);

    qsizetype receiveLimit() const override;

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

    // Why the OnComm being delivered (or the last one) was raised; None
    // before the first.
    LineEvent commEvent() const;

private Q_SLOTS:
    // Where a posted OnComm delivery lands, on the window thread.
    void deliverOnComm();

private:
    class Private;
    std::unique_ptr<Private> m_d;
};
