#pragma once

#include <QtCore/QObject>

#include <chrono>
#include <vector>

class SerialControl;
class TextBox;

// Times one OnComm from the moment its handler starts to the end of the
// repaint it causes. One slot is connected to the control before Form1's
// (it stamps the start), one after (it repaints the text box at once and
// stamps the end), so the handler in between runs exactly as the host
// dispatches it.
class OnCommProbe : public QObject
{
public:
    struct Sample
    {
        double milliseconds = 0;        // handler start to end of repaint
        double handlerMilliseconds = 0; // handler start to its return
        qsizetype characters = 0; // what the handler added to the text
        int paints = 0;           // paint events the text area received
    };

    // Before Form1 exists: the start stamp must be the first slot.
    void connectBefore(SerialControl &control);
    // After Form1 has connected its handler.
    void connectAfter(SerialControl &control, TextBox &text1);

    // While timing, each OnComm is repainted synchronously and recorded;
    // otherwise events are only counted and the event loop paints as usual.
    void setTiming(bool timing) { m_timing = timing; }

    const std::vector<Sample> &samples() const { return m_samples; }
    void clearSamples() { m_samples.clear(); }
    long long events() const { return m_events; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void started();
    void finished();

    TextBox *m_text1 = nullptr;
    bool m_timing = false;
    long long m_events = 0;
    int m_paints = 0;
    qsizetype m_sizeBefore = 0;
    std::chrono::steady_clock::time_point m_start;
    std::vector<Sample> m_samples;
};
