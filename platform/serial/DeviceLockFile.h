#pragma once

#include <QtCore/QString>

// The UUCP lock file other serial tools (picocom, minicom, lockdev) look for
// before they touch a device: /var/lock/LCK..<device name below /dev, '/'
// turned into '_'>, holding the owner's PID as ten space-padded digits and a
// line break.
//
// Taking it: a lock file naming a live process (this one included) fails with
// DeviceInUse and is left alone; one naming a dead process, or no process at
// all, is stale and removed. A system without a writable lock directory gets
// no lock file (nobody else can lock there either) and that is no error.
//
// Destroying the object removes the lock file, but only while it still names
// this process: someone may have broken and replaced it meanwhile.
class DeviceLockFile
{
public:
    static QString pathFor(const QString &device);

    // Throws ErrorReport: DeviceInUse, or PermissionDenied / OpenFailed when
    // a stale lock cannot be removed.
    explicit DeviceLockFile(const QString &device);
    ~DeviceLockFile();
    DeviceLockFile(const DeviceLockFile &) = delete;
    DeviceLockFile &operator=(const DeviceLockFile &) = delete;

private:
    QString m_held; // empty when no lock directory could take one
};
