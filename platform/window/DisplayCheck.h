#pragma once

#include <QtCore/QString>

#include <optional>

// Whether the window system can be reached, asked before the application
// object exists: without a display Qt aborts the process with a core dump,
// where the user deserves one line that says what is wrong.
//
// Returns why no window can be shown, or nothing when one can (or when the
// platform chosen needs no display, as the offscreen one).
std::optional<QString> missingDisplay();
