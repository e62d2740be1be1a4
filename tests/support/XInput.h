#pragma once

#include <QtCore/QPoint>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <QtGui/QKeySequence>

#include <QtWidgets/QWidget>

#include <gtest/gtest.h>

#include <memory>

class QProcess;

// Real input through the X server, as a user's keyboard and mouse make it:
// xdotool sends it with the server's XTEST extension, so that it comes to
// the program the way a desktop's does, through Qt's xcb platform, its
// keymap and its key bindings, instead of as events made up inside Qt.
//
// Every action returns a failed assertion result, with the reason, when it
// could not be done: not on xcb, xdotool missing or failing, a key or button
// that cannot be typed, a widget not shown. A synchronous action returns only
// once Qt has handled every event it caused (see waitForDelivery()), so the
// caller checks the outcome right away. Positions are in the widget's own
// coordinates; the screen is taken to be one, at the origin, scaled by the
// window's device pixel ratio. Nothing here waits for wall time to pass.
namespace XInput {

// Why real input cannot be sent here, or empty when it can: the application
// runs on Qt's xcb platform, with an X connection, and xdotool is installed.
// Tests that need real input skip with this reason.
QString unavailableReason();

// The key combination as xdotool names it: modifiers ("ctrl", "shift",
// "alt", "super") and the key's X keysym joined with '+', e.g.
// "ctrl+shift+Prior". Empty, with *whyNot set, for a combination no keyboard
// types: a key without a keysym here, keypad keys other than Enter.
QString keyName(QKeyCombination combination, QString *whyNot = nullptr);

// Types each combination of the sequence in turn (pressed and released) into
// the window that has the X input focus.
::testing::AssertionResult typeKeys(const QKeySequence &keys);
::testing::AssertionResult typeKey(QKeyCombination combination);

// Gives the widget's window the X input focus (there is no window manager
// to ask on a bare X server) and the widget the keyboard focus, once the
// window is shown.
::testing::AssertionResult focus(QWidget *widget);

// The pointer to a point of the widget.
::testing::AssertionResult moveTo(QWidget *widget, QPoint position);
// A button pressed, or released, at a point of the widget, the modifiers
// held around it. A press without its release leaves the button held (an
// implicit grab: the widget gets the moves wherever the pointer goes) until
// a release, here or in a Script.
::testing::AssertionResult press(QWidget *widget, QPoint position, Qt::MouseButton button = Qt::LeftButton,
                                 Qt::KeyboardModifiers modifiers = Qt::NoModifier);
::testing::AssertionResult release(QWidget *widget, QPoint position, Qt::MouseButton button = Qt::LeftButton,
                                   Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// `count` clicks in a row at one point, each following the last well within
// the platform's double-click interval: 2 is a double, 3 a triple click.
::testing::AssertionResult click(QWidget *widget, QPoint position, Qt::MouseButton button = Qt::LeftButton,
                                 int count = 1, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Press at `from`, `steps` moves along the straight line to `to` (the last
// one there), release.
::testing::AssertionResult drag(QWidget *widget, QPoint from, QPoint to, int steps = 8,
                                Qt::MouseButton button = Qt::LeftButton,
                                Qt::KeyboardModifiers modifiers = Qt::NoModifier);

// Returns once Qt has handled every event the X server had sent the program
// before the call: a marker property is changed on the widget's window (the
// focus window, or any shown one, without a widget) and Qt's event loop runs
// until the server's notice of it has come through Qt, after everything
// queued ahead of it.
::testing::AssertionResult waitForDelivery(QWidget *widget = nullptr);

// Steps that xdotool runs in order while the caller goes on: for input that
// must go on while the test runs Qt's event loop itself, such as a button
// held with the pointer outside the view (autoscroll), or a drag and drop,
// where QDrag::exec runs its own loop until the release. Steps are added
// before start(); each adding function returns the script, for chaining.
// Destroying a script that is still running stops xdotool: a button it has
// pressed stays pressed until a release.
class Script
{
public:
    Script();
    ~Script();
    Script(const Script &) = delete;
    Script &operator=(const Script &) = delete;

    Script &moveTo(QWidget *widget, QPoint position);
    Script &press(Qt::MouseButton button = Qt::LeftButton);
    Script &release(Qt::MouseButton button = Qt::LeftButton);
    Script &holdModifiers(Qt::KeyboardModifiers modifiers);
    Script &releaseModifiers(Qt::KeyboardModifiers modifiers);
    Script &typeKey(QKeyCombination combination);
    // Wall time between two steps, for a program that needs time to pass
    // (autoscroll's timer); never as a way to wait for Qt.
    Script &pause(int milliseconds);

    // Starts xdotool on the steps and returns at once. Fails for a step that
    // cannot be done (the reason of the first), or when real input cannot
    // be sent at all.
    ::testing::AssertionResult start();
    bool isRunning() const;
    // Runs Qt's event loop until xdotool has run every step, then until Qt
    // has handled what they caused (waitForDelivery()).
    ::testing::AssertionResult waitForFinished(int timeoutMs = 10000);

private:
    Script &buttonStep(const QString &command, Qt::MouseButton button);
    Script &modifierSteps(Qt::KeyboardModifiers modifiers, bool hold);

    QStringList m_steps;
    // The newest move, which a move to the same place does not repeat.
    QStringList m_lastMove;
    QString m_error;
    QPointer<QWidget> m_widget;
    std::unique_ptr<QProcess> m_process;
};

} // namespace XInput
