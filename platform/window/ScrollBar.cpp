#include "ScrollBar.h"

#include <QtCore/QSignalBlocker>
#include <QtWidgets/QStyle>
#include <QtWidgets/QStyleOptionSlider>

#include <utility>

ScrollBar::ScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{
    setEnabled(maximum() > minimum());
}

void ScrollBar::setMaximumKeepingLayout(int maximum)
{
    // The scroll area shows or hides a bar from the range, and lays out its
    // children again on every change of it, raising both bars: that repaints
    // them and the frame under them. A range that keeps the bar needed (or
    // not) and the value inside it changes nothing there.
    const bool needed = maximum > minimum();
    if (needed == (this->maximum() > minimum()) && value() <= maximum) {
        const QSignalBlocker quiet(this);
        setMaximum(maximum);
    } else {
        setMaximum(maximum);
    }
}

void ScrollBar::sliderChange(SliderChange change)
{
    if (change != SliderRangeChange && change != SliderValueChange) {
        QScrollBar::sliderChange(change);
        return;
    }
    if (change == SliderRangeChange)
        setEnabled(maximum() > minimum());
    if (!std::exchange(m_checkPending, true))
        QMetaObject::invokeMethod(this, &ScrollBar::repaintIfChanged, Qt::QueuedConnection);
}

void ScrollBar::repaintIfChanged()
{
    m_checkPending = false;
    if (!m_hasPainted) {
        update();
        return;
    }
    // Whatever else the look depends on (size, palette, hover) repaints the
    // bar by itself when it changes, so the option of the last paint only
    // needs the numbers brought up to date: building a whole new one costs
    // more than the comparison saves.
    m_paintedOption.minimum = minimum();
    m_paintedOption.maximum = maximum();
    m_paintedOption.sliderPosition = sliderPosition();
    m_paintedOption.sliderValue = value();
    m_paintedOption.singleStep = singleStep();
    m_paintedOption.pageStep = pageStep();
    if (look(m_paintedOption) != m_painted)
        update();
}

void ScrollBar::paintEvent(QPaintEvent *event)
{
    initStyleOption(&m_paintedOption);
    m_painted = look(m_paintedOption);
    m_hasPainted = true;
    QScrollBar::paintEvent(event);
}

ScrollBar::Look ScrollBar::look(const QStyleOptionSlider &option) const
{
    return Look{style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                option.sliderPosition == option.minimum, option.sliderPosition == option.maximum};
}
