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

    // Bytes written to the line that nothing on the program's side has read
    // yet, those the kernel still has on their way included: 0 means the
    // code under test has taken every byte written so far (the test's own
    // descriptor on that side never reads). Exact while what was written
    // since the count was last 0 fits the line's input queue (4 KiB); beyond
    // that the kernel hands on the rest only as the reader makes room, and
    // the count may miss it meanwhile.
    qsizetype unread() const;

    // The device goes away: the master side is closed, the line hangs up and
    // its device node goes. The object's own descriptor on the line stays
    // open until it is destroyed: it keeps the line's number, and so its
    // path and lock file name, from the next pseudo-terminal anyone opens
    // (test programs run side by side).
    void hangUp();

    // The device node's path in the UUCP lock directory, as serial tools name it.
    QString lockFilePath() const;

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};
