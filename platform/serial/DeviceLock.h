#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <functional>

#include <sys/types.h>

// The UUCP lock file that serial tools agree on (picocom, minicom, cu,
// lockdev): /var/lock/LCK..<device name below /dev, '/' turned into '_'>,
// naming the process that holds the device. Held while the object lives.
//
// The lock is taken in /var/lock or not at all. It is written whole under a
// name of its own and then linked into place, which fails when a lock is
// already there, so no other tool ever reads it half-written. A lock
// directory that is missing, read-only or not the user's to write fails the
// port: a lock anywhere else would make the port look free to every other
// tool.
//
// A lock already in place is judged, and nothing in the way is ever opened
// in a way that could block:
// - anything but a regular file (a FIFO, a directory, a symbolic link) means
//   the device is taken to be in use; it is left alone;
// - the owner is read as the ASCII conventions write it (leading blanks, the
//   PID, anything after it: "%10d\n", minicom's "%10ld minicom user\n") or
//   as a PID in 4 binary bytes;
// - an owner that runs (this process included), or content that names no
//   owner, means in use: an owner that cannot be told is not taken for a
//   dead one, and the file is left alone;
// - a lock naming a process that no longer exists is stale and removed, but
//   only if the file at the path is still the one judged (same inode, same
//   content), so that a fresh lock written meanwhile survives.
//
// The lock is removed on release only while the file at the path is still
// the one this object wrote and names this process: a lock that another
// program put there meanwhile is not ours to remove.
class DeviceLock
{
public:
    // Whether a process exists. Tests stand in for it to act between the
    // judging of a lock and its removal.
    using ProcessProbe = std::function<bool(pid_t)>;

    static QString pathFor(const QString &device);
    // Where every lock file is: /var/lock.
    static QString directory();

    // Throws ErrorReport: DeviceInUse for a lock that is live, names no
    // owner or is no regular file; PermissionDenied when a lock cannot be
    // read or the lock directory not written; OpenFailed for any other
    // failure of the lock directory.
    explicit DeviceLock(const QString &device, const ProcessProbe &processExists = runs);
    ~DeviceLock();
    DeviceLock(const DeviceLock &) = delete;
    DeviceLock &operator=(const DeviceLock &) = delete;

    // Removes the lock if it is still ours; the destructor does nothing more
    // after it. Allocates nothing: safe while the program is exiting.
    void release() noexcept;

    static bool runs(pid_t pid);

private:
    bool tryCreate();
    void judgeExisting(const ProcessProbe &processExists);

    QString m_device;
    QByteArray m_path;
    dev_t m_fileSystem = 0;
    ino_t m_inode = 0;
    bool m_held = false;
};
