#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <termios.h>

// A pseudo-terminal pair for one test: the test plays the device on the
// master side; the code under test opens slavePath() as its serial port.
// Both descriptors are owned and closed by the object.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Writes every byte to the line (blocking until the kernel took them all).
    void write(const QByteArray &bytes);

    // The line's settings as the device sees them.
    termios attributes() const;

    // The device goes away: the master side is closed and the line hangs up.
    void hangUp();

    // The device node's path in the UUCP lock directory, as serial tools name it.
    QString lockFilePath() const;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
