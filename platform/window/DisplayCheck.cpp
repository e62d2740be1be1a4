#include "DisplayCheck.h"

#include <QtCore/QByteArray>
#include <QtCore/QByteArrayList>
#include <QtCore/QtGlobal>

#if defined(LINEWATCH_HAVE_XCB)
#include <xcb/xcb.h>
#endif

using namespace Qt::StringLiterals;

std::optional<QString> missingDisplay()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // The first platform Qt will try, if the user chose one.
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM").split(';').front().split(':').front().trimmed();
    if (chosen.startsWith("wayland"))
        return qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
            ? std::optional(u"no graphical display: WAYLAND_DISPLAY is not set"_s)
            : std::nullopt;
    if (!chosen.isEmpty() && chosen != "xcb")
        return std::nullopt; // offscreen, vnc, eglfs...: no display server to reach
    if (chosen.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return std::nullopt;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return u"no graphical display: DISPLAY is not set"_s;
#if defined(LINEWATCH_HAVE_XCB)
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (!reached)
        return u"no graphical display: cannot connect to X display \"%1\""_s.arg(qEnvironmentVariable("DISPLAY"));
#endif
#endif
    return std::nullopt;
}
