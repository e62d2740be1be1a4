#include "Window.h"

#include "CommandButton.h"
#include "IntervalTimer.h"
#include "TextBox.h"

#include <QtGui/QCloseEvent>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace {

QRect pixelGeometry(const ControlDescription &control)
{
    return {twipsToPixels(control.left), twipsToPixels(control.top),
            twipsToPixels(control.width), twipsToPixels(control.height)};
}

} // namespace

Window::Window(const FormDescription &description, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(description.name);
    setWindowTitle(description.caption);
    resize(twipsToPixels(description.clientWidth), twipsToPixels(description.clientHeight));

    std::map<int, QWidget *> tabOrder;
    for (const ControlDescription &stored : description.controls) {
        QWidget *widget = nullptr;
        switch (stored.kind) {
        case ControlDescription::Kind::TextBox: {
            auto *textBox = new TextBox(this);
            textBox->setText(stored.value);
            widget = textBox;
            break;
        }
        case ControlDescription::Kind::CommandButton: {
            auto *button = new CommandButton(this);
            button->setCaption(stored.value);
            widget = button;
            break;
        }
        case ControlDescription::Kind::Timer: {
            auto *timer = new IntervalTimer(this);
            timer->setObjectName(stored.name);
            timer->setInterval(stored.interval);
            timer->setEnabled(stored.enabled);
            continue;
        }
        }
        widget->setObjectName(stored.name);
        widget->setGeometry(pixelGeometry(stored));
        widget->setAccessibleName(stored.accessibleName);
        widget->setAccessibleDescription(stored.accessibleDescription);
        if (stored.tabIndex >= 0)
            tabOrder.emplace(stored.tabIndex, widget);
        else
            widget->setFocusPolicy(Qt::NoFocus);
    }

    QWidget *previous = nullptr;
    for (const auto &[index, widget] : tabOrder) {
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
    if (!tabOrder.empty())
        tabOrder.begin()->second->setFocus(Qt::OtherFocusReason);
}

Window::~Window() = default;

template<typename Control>
Control &Window::control(const QString &name) const
{
    auto *found = findChild<Control *>(name, Qt::FindDirectChildrenOnly);
    if (!found)
        throw std::logic_error("the window description has no such control");
    return *found;
}

TextBox &Window::textBox(const QString &name) const
{
    return control<TextBox>(name);
}

CommandButton &Window::commandButton(const QString &name) const
{
    return control<CommandButton>(name);
}

IntervalTimer &Window::timer(const QString &name) const
{
    return control<IntervalTimer>(name);
}

void Window::closeEvent(QCloseEvent *event)
{
    // The host decides what closing means (the end of the program); the
    // window only reports it and stays until the host destroys it.
    event->ignore();
    Q_EMIT closed();
}
