#pragma once

#include <QtCore/QString>

// The UUCP lock file other serial tools (picocom, minicom, lockdev) look for
// before they touch a device: /var/lock/LCK..<device name below /dev, '/'
// turned into '_'>, whose first line holds the owner's PID in ASCII.
//
// QSerialPort takes and releases that file itself (its QLockFile writes our
// PID on the first line, as the convention wants), but takes any lock file
// without its own host-name line, or older than 30 s, for stale and deletes
// it. So the file is looked at here first: one naming a live process (this
// one included) means the device is in use and is left alone; one naming a
// dead process, or no process at all, is stale and removed, so that it does
// not block the port.
class DeviceLockFile
{
public:
    static QString pathFor(const QString &device);

    // Throws ErrorReport: DeviceInUse, or PermissionDenied / OpenFailed when
    // a stale lock cannot be removed.
    static void clearTheWay(const QString &device);
};
