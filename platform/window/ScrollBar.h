#pragma once

#include <QtCore/QRect>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyleOptionSlider>

// A scroll bar that repaints only when its look changes. Over a long text
// one more line moves the range but rarely the slider by a whole pixel, and
// a text trickling in would otherwise repaint the bar, and the frame beneath
// it, for every few characters. What it does is QScrollBar's: the value,
// the range and their signals and accessibility events are untouched, but
// for the one setter below.
//
// It is enabled only while its range has something to scroll, so a bar
// that is always shown says plainly when there is nothing beyond the view.
class ScrollBar : public QScrollBar
{
    Q_OBJECT

public:
    explicit ScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

    // Sets the maximum, without rangeChanged where it changes neither
    // whether the bar is needed nor the value: for the bars of a scroll area
    // whose content grows.
    void setMaximumKeepingLayout(int maximum);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // A range and a value are often set one after the other, and the slider
    // passes through a place it is never painted at; the look is compared
    // once both are in.
    void repaintIfChanged();

    // What a range or value change can alter on screen: where the slider
    // is, and whether it rests against either end.
    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };
    Look look(const QStyleOptionSlider &option) const;

    QStyleOptionSlider m_paintedOption;
    Look m_painted;
    bool m_hasPainted = false;
    bool m_checkPending = false;
};
