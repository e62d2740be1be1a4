#pragma once

#include <QtCore/QObject>
#include <QtCore/QTimer>

// The window's timer control: while enabled it raises Timer once per
// interval. Not shown on screen.
class IntervalTimer : public QObject
{
    Q_OBJECT

public:
    explicit IntervalTimer(QObject *parent = nullptr);

    int Interval() const;
    void setInterval(int milliseconds);

    bool Enabled() const;
    void setEnabled(bool enabled);

Q_SIGNALS:
    void Timer();

private:
    QTimer m_timer;
    bool m_enabled = false;
};
