#pragma once

#include <QtCore/QObject>

#include <array>

#include <signal.h>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (kill, Ctrl+C in the terminal that started the
// program, the end of the session) turned into received(), emitted by the
// event loop of the thread that made the object. The handler itself only
// writes the signal's number to a socket: almost nothing else is safe there.
//
// Each handler serves one delivery. The same signal sent again (a user who
// insists, an end that hangs) takes its default course.
//
// One object at a time; the dispositions found are put back when it goes.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Ends the process by `signalNumber`'s default action, for a program that
    // a signal asked to end and that has put everything back: whoever sent it
    // learns that the signal ended it.
    static void raiseDefault(int signalNumber);

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPending();

    static constexpr std::array<int, 3> Handled{SIGTERM, SIGINT, SIGHUP};

    int m_readEnd = -1;
    int m_writeEnd = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::array<struct sigaction, Handled.size()> m_found = {};
};
