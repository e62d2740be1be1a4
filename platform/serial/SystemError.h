#pragma once

#include <QtCore/QString>

#include <cstdint>

// How a failed system call on a device reaches the user: the system's own
// words for its errno, under the error number that errno stands for. One
// table for every step of an open (stat, open, the locks, tcgetattr), so a
// cause is reported under the same number whichever step met it.
namespace SystemError {

// strerror()'s text for `error`, in the locale's encoding.
QString description(int error);

// The number a device is refused with when a call on it failed with `error`:
// DeviceAbsent for ENOENT, ENOTDIR, ENXIO (a node without hardware behind
// it) and ENODEV; PermissionDenied for EACCES and EPERM; DeviceInUse for
// EBUSY; NotATerminal for ENOTTY; OpenFailed for anything else.
std::int32_t errorNumber(int error) noexcept;

// The number for a failed call on the device's lock file: PermissionDenied
// for EACCES and EPERM, OpenFailed for anything else. The lock file missing
// or busy says nothing about the device, so the table above does not apply.
std::int32_t lockFileErrorNumber(int error) noexcept;

// Throws ErrorReport errorNumber(error), described as
// "<device>: <description(error)>", followed by " (<detail>)" when a detail
// is given.
[[noreturn]] void fail(const QString &device, int error, const QString &detail = QString());

// The same for a failed call on the device's lock file or lock directory,
// under lockFileErrorNumber(error); `detail` names the file or directory.
[[noreturn]] void failOnLockFile(const QString &device, int error, const QString &detail);

} // namespace SystemError
