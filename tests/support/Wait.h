#pragma once

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QThread>

namespace WaitDetail {

// Checks the condition every millisecond, doing `step` in between, until it
// holds or the time is up.
template<typename Condition, typename Step>
bool until(Condition condition, int timeoutMs, Step step)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        step();
        QThread::msleep(1);
    }
    return true;
}

} // namespace WaitDetail

// Runs the event loop until the condition holds or the time is up; returns
// whether it held. (Qt Test's QTRY_ macros report to Qt Test, not to
// GoogleTest, so tests wait with this and assert on the result.)
template<typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 5000)
{
    return WaitDetail::until(condition, timeoutMs,
                             [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 10); });
}

// Waits like waitUntil but runs no events: the window thread is busy
// elsewhere, for tests of what goes on without it.
template<typename Condition>
bool stallUntil(Condition condition, int timeoutMs = 5000)
{
    return WaitDetail::until(condition, timeoutMs, [] {});
}

// Runs the event loop for a while, for tests that check nothing more happens
// once the state they wait for has been reached.
inline void runEventsFor(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}
