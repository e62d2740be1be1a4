#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>

#include <cstdint>

// The serial communications control: one port, configured through properties,
// receive only. Every property get or set either completes or throws an
// ErrorReport; nothing returns an error code.
//
// What it promises its users:
// - Input returns every received character not yet read, one character per
//   byte (U+0000 to U+00FF, so every byte value survives), and removes them.
//   While the port is closed it returns the characters received before the
//   close and not yet read (then nothing); that is never an error.
// - OnComm is emitted on the thread the control lives on (the window thread),
//   from the event loop, never from inside a property call. It is coalesced:
//   at most one emission is pending at a time, however many bytes arrive.
// - Destroying the control closes the port.
//
// What it does not do: transmit, interpret received bytes, or know anything of
// windows and widgets.
class SerialControl : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~SerialControl() override = default;

    // Port N is the machine's Nth serial port.
    virtual std::int16_t CommPort() const = 0;
    virtual void setCommPort(std::int16_t port) = 0;

    // False: DTR is cleared as soon as the port opens and kept off.
    virtual bool DTREnable() const = 0;
    virtual void setDTREnable(bool enable) = 0;

    // "baud,parity,data,stop", e.g. "9600,n,8,1".
    virtual QString Settings() const = 0;
    virtual void setSettings(const QString &settings) = 0;

    // OnComm is raised while at least this many received characters wait; 0
    // raises no receive events.
    virtual std::int16_t RThreshold() const = 0;
    virtual void setRThreshold(std::int16_t threshold) = 0;

    virtual bool PortOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;

    virtual QString Input() = 0;

    // The most received characters that wait unread, and so the most one
    // Input returns; beyond it the control stops reading the line.
    virtual qsizetype receiveLimit() const = 0;
    // The most memory reception holds at once, in bytes, with Input's
    // result: the characters waiting (while their buffer grows, its old and
    // new storage, one and a half times the limit), those Input is taking,
    // and the string it returns, two bytes a character.
    qsizetype receiveMemory() const { return receiveLimit() * 9 / 2; }

Q_SIGNALS:
    void OnComm();
};
