#include "XInput.h"

#include "Wait.h"

#include <QtCore/QAbstractNativeEventFilter>
#include <QtCore/QByteArray>
#include <QtCore/QCoreApplication>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>

#include <QtGui/QGuiApplication>
#include <QtGui/QStyleHints>
#include <QtGui/QWindow>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>
#include <utility>

#ifdef LINEWATCH_HAVE_XCB
#include <xcb/xcb.h>
#endif

using namespace Qt::StringLiterals;

namespace XInput {

namespace {

// Long enough for any single xdotool run on a loaded machine; a run that
// takes longer is stuck (a --sync move the server never reports).
constexpr int XdotoolTimeoutMs = 20000;

::testing::AssertionResult failure(const QString &why)
{
    return ::testing::AssertionFailure() << why.toStdString();
}

#ifdef LINEWATCH_HAVE_XCB
xcb_connection_t *xConnection()
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// Counts the server's notices of the marker property, as Qt reads them: Qt
// takes the server's events in the order they were sent, so every event sent
// before a notice has been read once the notice is seen here.
class DeliveryMarks final : public QObject, public QAbstractNativeEventFilter
{
public:
    explicit DeliveryMarks(xcb_connection_t *connection)
        : QObject(QCoreApplication::instance())
        , m_connection(connection)
    {
        static constexpr char Name[] = "_LINEWATCH_DELIVERY_MARK";
        const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(m_connection, 0, sizeof Name - 1, Name);
        if (xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(m_connection, cookie, nullptr)) {
            m_atom = reply->atom;
            std::free(reply);
        }
        QCoreApplication::instance()->installNativeEventFilter(this);
    }

    static DeliveryMarks *instance()
    {
        static QPointer<DeliveryMarks> marks;
        if (!marks) {
            if (xcb_connection_t *connection = xConnection())
                marks = new DeliveryMarks(connection);
        }
        return marks;
    }

    bool usable() const { return m_atom != XCB_ATOM_NONE; }

    // Changes the marker on the window; the mark's number is reached once
    // Qt has read the server's notice of it.
    std::uint32_t mark(xcb_window_t window)
    {
        const std::uint32_t number = ++m_sent;
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, m_atom, XCB_ATOM_CARDINAL, 32, 1, &number);
        xcb_flush(m_connection);
        return number;
    }

    bool reached(std::uint32_t number) const { return m_seen >= number; }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY
            && reinterpret_cast<const xcb_property_notify_event_t *>(event)->atom == m_atom)
            ++m_seen;
        return false;
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_atom_t m_atom = XCB_ATOM_NONE;
    std::uint32_t m_sent = 0;
    std::uint32_t m_seen = 0;
};
#endif

QWindow *markedWindow(QWidget *widget)
{
    if (widget && widget->window()->windowHandle())
        return widget->window()->windowHandle();
    if (QWindow *focused = QGuiApplication::focusWindow())
        return focused;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    const auto shown = std::find_if(windows.cbegin(), windows.cend(), [](const QWindow *window) {
        return window->isVisible() && window->handle();
    });
    return shown != windows.cend() ? *shown : nullptr;
}

::testing::AssertionResult waitUntilShown(QWidget *widget)
{
    if (!widget || !widget->isVisible())
        return failure(u"the widget is not shown"_s);
    if (!waitUntil([widget] {
            const QWindow *window = widget->window()->windowHandle();
            return window && window->isExposed();
        }))
        return failure(u"the widget's window never showed on the X server"_s);
    return ::testing::AssertionSuccess();
}

// Runs xdotool to the end; fails with what it said when it did not succeed.
::testing::AssertionResult runXdotool(const QStringList &arguments)
{
    QProcess xdotool;
    xdotool.start(u"xdotool"_s, arguments);
    if (!xdotool.waitForStarted())
        return failure(u"xdotool did not start: "_s + xdotool.errorString());
    // It talks to the X server only: the program need not run meanwhile.
    if (!xdotool.waitForFinished(XdotoolTimeoutMs)) {
        xdotool.kill();
        xdotool.waitForFinished();
        return failure(u"xdotool did not finish: xdotool "_s + arguments.join(u' '));
    }
    if (xdotool.exitStatus() != QProcess::NormalExit || xdotool.exitCode() != 0)
        return failure(u"xdotool "_s + arguments.join(u' ') + u" failed: "_s
                       + QString::fromLocal8Bit(xdotool.readAllStandardError()).trimmed());
    return ::testing::AssertionSuccess();
}

// A synchronous action: xdotool, then everything it caused through Qt.
::testing::AssertionResult act(const QStringList &arguments, QWidget *widget)
{
    if (const QString why = unavailableReason(); !why.isEmpty())
        return failure(why);
    if (::testing::AssertionResult ran = runXdotool(arguments); !ran)
        return ran;
    return waitForDelivery(widget);
}

// xdotool's screen coordinates of a point of the widget.
QStringList screenPoint(QWidget *widget, QPoint position)
{
    const QPoint global = widget->mapToGlobal(position);
    const QWindow *window = widget->window()->windowHandle();
    const qreal ratio = window ? window->devicePixelRatio() : 1.0;
    return {QString::number(std::lround(global.x() * ratio)), QString::number(std::lround(global.y() * ratio))};
}

QString buttonNumber(Qt::MouseButton button, QString *whyNot)
{
    switch (button) {
    case Qt::LeftButton:
        return u"1"_s;
    case Qt::MiddleButton:
        return u"2"_s;
    case Qt::RightButton:
        return u"3"_s;
    case Qt::BackButton:
        return u"8"_s;
    case Qt::ForwardButton:
        return u"9"_s;
    default:
        *whyNot = u"no X button stands for Qt mouse button 0x%1"_s.arg(static_cast<unsigned>(button), 0, 16);
        return {};
    }
}

// xdotool's names of the modifier keys, left ones.
QString modifierNames(Qt::KeyboardModifiers modifiers)
{
    QStringList names;
    if (modifiers.testFlag(Qt::ControlModifier))
        names.append(u"ctrl"_s);
    if (modifiers.testFlag(Qt::ShiftModifier))
        names.append(u"shift"_s);
    if (modifiers.testFlag(Qt::AltModifier))
        names.append(u"alt"_s);
    if (modifiers.testFlag(Qt::MetaModifier))
        names.append(u"super"_s); // Qt's xcb platform makes Super its Meta
    return names.join(u'+');
}

constexpr Qt::KeyboardModifiers TypableModifiers =
    Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier;

// The modifiers held around a mouse action: keydown before, keyup after.
::testing::AssertionResult aroundModifiers(Qt::KeyboardModifiers modifiers, QStringList &before, QStringList &after)
{
    if (modifiers & ~TypableModifiers)
        return failure(u"only Ctrl, Shift, Alt and Meta can be held around the mouse"_s);
    if (const QString names = modifierNames(modifiers); !names.isEmpty()) {
        before = {u"keydown"_s, names};
        after = {u"keyup"_s, names};
    }
    return ::testing::AssertionSuccess();
}

// Keys by the X keysym Qt's xcb platform turns into them.
struct NamedKey
{
    Qt::Key key;
    const char16_t *keysym;
    std::uint32_t value;
};

constexpr std::array NamedKeys{
    NamedKey{Qt::Key_Escape, u"Escape", 0xff1b},
    NamedKey{Qt::Key_Tab, u"Tab", 0xff09},
    NamedKey{Qt::Key_Backtab, u"ISO_Left_Tab", 0xfe20},
    NamedKey{Qt::Key_Backspace, u"BackSpace", 0xff08},
    NamedKey{Qt::Key_Return, u"Return", 0xff0d},
    NamedKey{Qt::Key_Enter, u"KP_Enter", 0xff8d},
    NamedKey{Qt::Key_Insert, u"Insert", 0xff63},
    NamedKey{Qt::Key_Delete, u"Delete", 0xffff},
    NamedKey{Qt::Key_Pause, u"Pause", 0xff13},
    NamedKey{Qt::Key_Print, u"Print", 0xff61},
    NamedKey{Qt::Key_Home, u"Home", 0xff50},
    NamedKey{Qt::Key_End, u"End", 0xff57},
    NamedKey{Qt::Key_Left, u"Left", 0xff51},
    NamedKey{Qt::Key_Up, u"Up", 0xff52},
    NamedKey{Qt::Key_Right, u"Right", 0xff53},
    NamedKey{Qt::Key_Down, u"Down", 0xff54},
    NamedKey{Qt::Key_PageUp, u"Prior", 0xff55},
    NamedKey{Qt::Key_PageDown, u"Next", 0xff56},
    NamedKey{Qt::Key_Menu, u"Menu", 0xff67},
    NamedKey{Qt::Key_Help, u"Help", 0xff6a},
    NamedKey{Qt::Key_Space, u"space", 0x20},
    NamedKey{Qt::Key_Plus, u"plus", 0x2b},
    NamedKey{Qt::Key_Minus, u"minus", 0x2d},
    NamedKey{Qt::Key_Comma, u"comma", 0x2c},
    NamedKey{Qt::Key_Period, u"period", 0x2e},
    NamedKey{Qt::Key_Slash, u"slash", 0x2f},
    NamedKey{Qt::Key_Undo, u"Undo", 0xff65},
    NamedKey{Qt::Key_Redo, u"Redo", 0xff66},
    NamedKey{Qt::Key_Find, u"Find", 0xff68},
    NamedKey{Qt::Key_Cancel, u"Cancel", 0xff69},
    NamedKey{Qt::Key_Copy, u"XF86Copy", 0x1008ff57},
    NamedKey{Qt::Key_Cut, u"XF86Cut", 0x1008ff58},
    NamedKey{Qt::Key_Paste, u"XF86Paste", 0x1008ff6d},
    NamedKey{Qt::Key_Back, u"XF86Back", 0x1008ff26},
    NamedKey{Qt::Key_Forward, u"XF86Forward", 0x1008ff27},
    NamedKey{Qt::Key_Refresh, u"XF86Refresh", 0x1008ff29},
};

const NamedKey *namedKey(Qt::Key key)
{
    const auto named = std::find_if(NamedKeys.cbegin(), NamedKeys.cend(),
                                    [key](const NamedKey &candidate) { return candidate.key == key; });
    return named != NamedKeys.cend() ? &*named : nullptr;
}

#ifdef LINEWATCH_HAVE_XCB
// The keysym's number, 0 for none.
std::uint32_t keysymValue(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return static_cast<std::uint32_t>(u'a' + (key - Qt::Key_A));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return static_cast<std::uint32_t>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return 0xFFBE + static_cast<std::uint32_t>(key - Qt::Key_F1);
    const NamedKey *named = namedKey(key);
    return named ? named->value : 0;
}

// Gives a keysym that no key of the server's keymap has a spare keycode of
// its own, for the rest of the server's life: xdotool would map one for the
// moment of the key press only, and take it back before Qt, reading the
// keymap when told of the change, has seen it.
::testing::AssertionResult mapKeysym(std::uint32_t keysym)
{
    xcb_connection_t *connection = xConnection();
    if (!connection)
        return failure(u"no X connection"_s);
    const xcb_setup_t *setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    const std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> mapping(
        xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<std::uint8_t>(count)),
            nullptr),
        &std::free);
    if (!mapping)
        return failure(u"the X server did not give its keymap"_s);
    const int perKeycode = mapping->keysyms_per_keycode;
    const xcb_keysym_t *keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    int spare = -1;
    for (int keycode = 0; keycode < count; ++keycode) {
        const xcb_keysym_t *first = keysyms + keycode * perKeycode;
        const xcb_keysym_t *last = first + perKeycode;
        if (std::find(first, last, keysym) != last)
            return ::testing::AssertionSuccess();
        if (spare < 0 && std::all_of(first, last, [](xcb_keysym_t symbol) { return symbol == 0; }))
            spare = keycode;
    }
    if (spare < 0)
        return failure(u"no spare keycode for keysym 0x"_s + QString::number(keysym, 16));
    std::vector<xcb_keysym_t> symbols(static_cast<std::size_t>(perKeycode), 0);
    symbols.front() = keysym;
    xcb_change_keyboard_mapping(connection, 1, static_cast<xcb_keycode_t>(setup->min_keycode + spare),
                                static_cast<std::uint8_t>(perKeycode), symbols.data());
    xcb_flush(connection);
    // Typed only once Qt has read the new keymap.
    return waitForDelivery();
}
#endif

QString keysymName(Qt::Key key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return QString(QChar(u'a' + (key - Qt::Key_A)));
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return QString(QChar(u'0' + (key - Qt::Key_0)));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return u"F"_s + QString::number(key - Qt::Key_F1 + 1);
    const NamedKey *named = namedKey(key);
    return named ? QString::fromUtf16(named->keysym) : QString();
}

} // namespace

QString unavailableReason()
{
    if (QGuiApplication::platformName() != u"xcb"_s)
        return u"needs an X server: run under xcb (tests/support/with-x-server.sh)"_s;
#ifdef LINEWATCH_HAVE_XCB
    const DeliveryMarks *marks = DeliveryMarks::instance();
    const bool canMark = marks && marks->usable();
#else
    const bool canMark = false;
#endif
    if (!canMark)
        return u"no X connection to mark delivery on (without libxcb, or none from Qt's xcb platform)"_s;
    static const bool haveXdotool = !QStandardPaths::findExecutable(u"xdotool"_s).isEmpty();
    if (!haveXdotool)
        return u"xdotool is not installed"_s;
    return {};
}

QString keyName(QKeyCombination combination, QString *whyNot)
{
    QString ignored;
    QString &why = whyNot ? *whyNot : ignored;
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    const Qt::Key key = combination.key();
    const QString shown = QKeySequence(combination).toString();
    if (modifiers & ~(TypableModifiers | Qt::KeypadModifier)) {
        why = shown + u": only Ctrl, Shift, Alt, Meta and the keypad are typed"_s;
        return {};
    }
    if (modifiers.testFlag(Qt::KeypadModifier) && key != Qt::Key_Enter) {
        why = shown + u": of the keypad only Enter is typed"_s;
        return {};
    }
    const QString keysym = keysymName(key);
    if (keysym.isEmpty()) {
        why = shown + u": no X keysym known for Qt key 0x"_s + QString::number(key, 16);
        return {};
    }
    const QString held = modifierNames(modifiers);
    return held.isEmpty() ? keysym : held + u'+' + keysym;
}

::testing::AssertionResult typeKeys(const QKeySequence &keys)
{
    if (keys.isEmpty())
        return failure(u"no key to type"_s);
    QStringList arguments{u"key"_s};
    for (uint i = 0; i < static_cast<uint>(keys.count()); ++i) {
        QString whyNot;
        const QString name = keyName(keys[i], &whyNot);
        if (name.isEmpty())
            return failure(whyNot);
        arguments.append(name);
    }
    if (const QString why = unavailableReason(); !why.isEmpty())
        return failure(why);
#ifdef LINEWATCH_HAVE_XCB
    for (uint i = 0; i < static_cast<uint>(keys.count()); ++i) {
        if (::testing::AssertionResult mapped = mapKeysym(keysymValue(keys[i].key())); !mapped)
            return mapped;
    }
#endif
    return act(arguments, nullptr);
}

::testing::AssertionResult typeKey(QKeyCombination combination)
{
    return typeKeys(QKeySequence(combination));
}

::testing::AssertionResult focus(QWidget *widget)
{
    if (const QString why = unavailableReason(); !why.isEmpty())
        return failure(why);
    if (::testing::AssertionResult shown = waitUntilShown(widget); !shown)
        return shown;
    QWidget *window = widget->window();
    // Without a window manager Qt hands its window the X input focus itself.
    window->activateWindow();
    if (!waitUntil([window] { return window->isActiveWindow(); }))
        return failure(u"the X server did not give the window the input focus"_s);
    widget->setFocus(Qt::OtherFocusReason);
    if (!waitUntil([widget] { return widget->hasFocus(); }))
        return failure(u"the widget did not take the keyboard focus"_s);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult moveTo(QWidget *widget, QPoint position)
{
    if (::testing::AssertionResult shown = waitUntilShown(widget); !shown)
        return shown;
    return act(QStringList{u"mousemove"_s, u"--sync"_s} + screenPoint(widget, position), widget);
}

namespace {

::testing::AssertionResult buttonAction(const QString &command, QWidget *widget, QPoint position,
                                        Qt::MouseButton button, Qt::KeyboardModifiers modifiers,
                                        const QStringList &options)
{
    if (::testing::AssertionResult shown = waitUntilShown(widget); !shown)
        return shown;
    QString whyNot;
    const QString number = buttonNumber(button, &whyNot);
    if (number.isEmpty())
        return failure(whyNot);
    QStringList before;
    QStringList after;
    if (::testing::AssertionResult held = aroundModifiers(modifiers, before, after); !held)
        return held;
    return act(QStringList{u"mousemove"_s, u"--sync"_s} + screenPoint(widget, position) + before
                   + QStringList{command} + options + QStringList{number} + after,
               widget);
}

} // namespace

::testing::AssertionResult press(QWidget *widget, QPoint position, Qt::MouseButton button,
                                 Qt::KeyboardModifiers modifiers)
{
    return buttonAction(u"mousedown"_s, widget, position, button, modifiers, {});
}

::testing::AssertionResult release(QWidget *widget, QPoint position, Qt::MouseButton button,
                                   Qt::KeyboardModifiers modifiers)
{
    return buttonAction(u"mouseup"_s, widget, position, button, modifiers, {});
}

::testing::AssertionResult click(QWidget *widget, QPoint position, Qt::MouseButton button, int count,
                                 Qt::KeyboardModifiers modifiers)
{
    if (count < 1)
        return failure(u"a click is one at least"_s);
    // Far enough inside the double-click interval that a loaded machine
    // still makes one gesture of the clicks: the X server stamps each event
    // as it takes it.
    const int delay = std::clamp(QGuiApplication::styleHints()->mouseDoubleClickInterval() / 8, 1, 50);
    return buttonAction(u"click"_s, widget, position, button, modifiers,
                        {u"--repeat"_s, QString::number(count), u"--delay"_s, QString::number(delay)});
}

::testing::AssertionResult drag(QWidget *widget, QPoint from, QPoint to, int steps, Qt::MouseButton button,
                                Qt::KeyboardModifiers modifiers)
{
    if (steps < 1)
        return failure(u"a drag moves once at least"_s);
    if (::testing::AssertionResult shown = waitUntilShown(widget); !shown)
        return shown;
    QString whyNot;
    const QString number = buttonNumber(button, &whyNot);
    if (number.isEmpty())
        return failure(whyNot);
    QStringList before;
    QStringList after;
    if (::testing::AssertionResult held = aroundModifiers(modifiers, before, after); !held)
        return held;
    QStringList arguments = QStringList{u"mousemove"_s, u"--sync"_s} + screenPoint(widget, from) + before
        + QStringList{u"mousedown"_s, number};
    // xdotool waits forever on a --sync move to where the pointer is: no
    // step repeats the one before.
    QPoint last = from;
    for (int step = 1; step <= steps; ++step) {
        const QPoint at = from + (to - from) * step / steps;
        if (at != last)
            arguments += QStringList{u"mousemove"_s, u"--sync"_s} + screenPoint(widget, at);
        last = at;
    }
    arguments += QStringList{u"mouseup"_s, number} + after;
    return act(arguments, widget);
}

::testing::AssertionResult waitForDelivery(QWidget *widget)
{
#ifdef LINEWATCH_HAVE_XCB
    DeliveryMarks *marks = DeliveryMarks::instance();
    if (!marks || !marks->usable())
        return failure(u"no X connection to mark delivery on"_s);
    QWindow *window = markedWindow(widget);
    if (!window || !window->handle())
        return failure(u"no window of the program is shown to mark delivery on"_s);
    const std::uint32_t number = marks->mark(static_cast<xcb_window_t>(window->winId()));
    if (!waitUntil([marks, number] { return marks->reached(number); }))
        return failure(u"the X server's events did not come through Qt"_s);
    // Qt has read the events ahead of the mark and queued what they mean for
    // its windows; the queue is taken on the event loop's next pass, or on
    // the one after where the loop looks at it before reading the server.
    for (int pass = 0; pass < 2; ++pass)
        QCoreApplication::processEvents();
    return ::testing::AssertionSuccess();
#else
    Q_UNUSED(widget);
    return failure(u"built without libxcb: no X connection to mark delivery on"_s);
#endif
}

Script::Script() = default;

Script::~Script()
{
    if (isRunning()) {
        m_process->kill();
        m_process->waitForFinished();
    }
}

Script &Script::moveTo(QWidget *widget, QPoint position)
{
    if (!widget || !widget->isVisible()) {
        if (m_error.isEmpty())
            m_error = u"a move to a widget that is not shown"_s;
        return *this;
    }
    if (!m_widget)
        m_widget = widget;
    // xdotool waits forever on a --sync move to where the pointer is: a
    // move to where the last one went is no step.
    const QStringList move = QStringList{u"mousemove"_s, u"--sync"_s} + screenPoint(widget, position);
    if (move != m_lastMove)
        m_steps += move;
    m_lastMove = move;
    return *this;
}

Script &Script::press(Qt::MouseButton button)
{
    return buttonStep(u"mousedown"_s, button);
}

Script &Script::release(Qt::MouseButton button)
{
    return buttonStep(u"mouseup"_s, button);
}

Script &Script::buttonStep(const QString &command, Qt::MouseButton button)
{
    QString whyNot;
    const QString number = buttonNumber(button, &whyNot);
    if (number.isEmpty() && m_error.isEmpty())
        m_error = whyNot;
    m_steps += QStringList{command, number};
    return *this;
}

Script &Script::holdModifiers(Qt::KeyboardModifiers modifiers)
{
    return modifierSteps(modifiers, true);
}

Script &Script::releaseModifiers(Qt::KeyboardModifiers modifiers)
{
    return modifierSteps(modifiers, false);
}

Script &Script::modifierSteps(Qt::KeyboardModifiers modifiers, bool hold)
{
    QStringList before;
    QStringList after;
    if (::testing::AssertionResult held = aroundModifiers(modifiers, before, after); !held && m_error.isEmpty())
        m_error = QString::fromStdString(held.message());
    m_steps += hold ? before : after;
    return *this;
}

Script &Script::typeKey(QKeyCombination combination)
{
    QString whyNot;
    const QString name = keyName(combination, &whyNot);
    if (name.isEmpty() && m_error.isEmpty())
        m_error = whyNot;
    m_steps += QStringList{u"key"_s, name};
    return *this;
}

Script &Script::pause(int milliseconds)
{
    m_steps += QStringList{u"sleep"_s, QString::number(std::max(0, milliseconds) / 1000.0, 'f', 3)};
    return *this;
}

::testing::AssertionResult Script::start()
{
    if (const QString why = unavailableReason(); !why.isEmpty())
        return failure(why);
    if (!m_error.isEmpty())
        return failure(m_error);
    if (m_steps.isEmpty())
        return failure(u"a script without steps"_s);
    if (m_process)
        return failure(u"the script was started before"_s);
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    m_process->start(u"xdotool"_s, m_steps);
    if (!m_process->waitForStarted())
        return failure(u"xdotool did not start: "_s + m_process->errorString());
    return ::testing::AssertionSuccess();
}

bool Script::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

::testing::AssertionResult Script::waitForFinished(int timeoutMs)
{
    if (!m_process)
        return failure(u"the script was not started"_s);
    if (!waitUntil([this] { return !isRunning(); }, timeoutMs))
        return failure(u"xdotool is still running the script"_s);
    if (m_process->exitStatus() != QProcess::NormalExit || m_process->exitCode() != 0)
        return failure(u"xdotool "_s + m_steps.join(u' ') + u" failed: "_s
                       + QString::fromLocal8Bit(m_process->readAllStandardError()).trimmed());
    return waitForDelivery(m_widget);
}

} // namespace XInput
