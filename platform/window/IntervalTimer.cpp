#include "IntervalTimer.h"

IntervalTimer::IntervalTimer(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &IntervalTimer::Timer);
}

int IntervalTimer::Interval() const
{
    return m_timer.interval();
}

void IntervalTimer::setInterval(int milliseconds)
{
    m_timer.setInterval(milliseconds);
}

bool IntervalTimer::Enabled() const
{
    return m_enabled;
}

void IntervalTimer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (enabled)
        m_timer.start();
    else
        m_timer.stop();
}
