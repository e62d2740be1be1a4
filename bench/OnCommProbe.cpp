#include "OnCommProbe.h"

#include "SerialControl.h"
#include "TextBox.h"

#include <QtCore/QEvent>

void OnCommProbe::connectBefore(SerialControl &control)
{
    QObject::connect(&control, &SerialControl::OnComm, this, [this] { started(); });
}

void OnCommProbe::connectAfter(SerialControl &control, TextBox &text1)
{
    m_text1 = &text1;
    text1.viewport()->installEventFilter(this);
    QObject::connect(&control, &SerialControl::OnComm, this, [this] { finished(); });
}

bool OnCommProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint)
        ++m_paints;
    return QObject::eventFilter(watched, event);
}

void OnCommProbe::started()
{
    ++m_events;
    if (!m_timing || m_text1 == nullptr)
        return;
    m_paints = 0;
    m_sizeBefore = m_text1->Text().size();
    m_start = std::chrono::steady_clock::now();
}

void OnCommProbe::finished()
{
    if (!m_timing || m_text1 == nullptr)
        return;
    const auto handled = std::chrono::steady_clock::now();
    // The whole box (frame, text area, scroll bars): everything the append
    // may have changed is on screen when repaint() returns.
    m_text1->repaint();
    const auto end = std::chrono::steady_clock::now();
    Sample sample;
    sample.milliseconds = std::chrono::duration<double, std::milli>(end - m_start).count();
    sample.handlerMilliseconds = std::chrono::duration<double, std::milli>(handled - m_start).count();
    sample.characters = m_text1->Text().size() - m_sizeBefore;
    sample.paints = m_paints;
    m_samples.push_back(sample);
}
