#pragma once

#include "FormDescription.h"

#include <QtWidgets/QWidget>

class CommandButton;
class IntervalTimer;
class TextBox;

// A window built from its stored description: the controls sit where the
// description puts them, whatever size the window is given (there is no
// layout), in the stored tab order, and the control with tab index 0 has
// the focus when the window is first shown.
//
// Controls are found by their stored names. The window owns them; it does
// not run handlers itself, it only emits closed() when the user closes it.
class Window : public QWidget
{
    Q_OBJECT

public:
    explicit Window(const FormDescription &description, QWidget *parent = nullptr);
    ~Window() override;

    // Throws std::logic_error for a name the description does not hold: the
    // description and the code that uses it are both the program's own.
    TextBox &textBox(const QString &name) const;
    CommandButton &commandButton(const QString &name) const;
    IntervalTimer &timer(const QString &name) const;

Q_SIGNALS:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    template<typename Control>
    Control &control(const QString &name) const;
};
