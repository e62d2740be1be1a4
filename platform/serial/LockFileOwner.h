#pragma once

#include <QtCore/QByteArrayView>

#include <cstdint>
#include <optional>

#include <sys/types.h>

// The process a UUCP lock file names, read from content that another program
// wrote (or anyone could have): the ASCII conventions (leading blanks, the
// PID's digits, then a blank, a line end or nothing: "%10d\n", minicom's
// "%10ld minicom user\n") first, else a PID in 4 binary bytes of this
// machine's order.
namespace LockFileOwner {

// The kernel's highest possible PID (PID_MAX_LIMIT): a number above it names
// no process, and four bytes that add up to more are no binary PID but
// something else.
inline constexpr std::int64_t PidLimit = std::int64_t(4) * 1024 * 1024;

// The PID, in (0, PidLimit]; nothing when the content names no process.
// Allocates nothing: it runs while the program exits.
std::optional<pid_t> ownerIn(QByteArrayView content);

} // namespace LockFileOwner
