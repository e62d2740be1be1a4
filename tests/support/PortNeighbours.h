#pragma once

#include "ErrorReport.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <cstdint>
#include <functional>

#include <sys/types.h>

// What else a serial port meets on a shared machine, for the tests that
// share one with the program: other programs' descriptors and lock files,
// another user, a lock directory of a different shape.

// The report a call throws, or a test failure if it returned normally.
ErrorReport reportFrom(const std::function<void()> &call);

// The whole of a file, or nothing when it cannot be read.
QByteArray readLockFile(const QString &path);

// A lock file as other serial tools write one for `pid`.
QByteArray lockdevContent(pid_t pid); // "%10d\n": lockdev, picocom, the FHS
QByteArray minicomContent(pid_t pid); // "%10ld minicom %.20s\n"
QByteArray binaryPidContent(pid_t pid); // the PID's 4 bytes, as old UUCP wrote it

// A PID that no process has: a child that has exited and been reaped.
pid_t deadPid();

// A lock file put in place by some other program, removed when the test
// ends however it ends.
class ForeignLockFile
{
public:
    ForeignLockFile(QString path, const QByteArray &content);
    ~ForeignLockFile();
    ForeignLockFile(const ForeignLockFile &) = delete;
    ForeignLockFile &operator=(const ForeignLockFile &) = delete;

private:
    QString m_path;
};

// A second descriptor on a device, as another program would hold it.
class Descriptor
{
public:
    explicit Descriptor(const QString &path);
    ~Descriptor();
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd() const { return m_fd; }
    int openError() const { return m_openError; }

private:
    int m_fd = -1;
    int m_openError = 0;
};

// Tries an open in a child process, the way to try one that may block for
// good, or that needs the child to give up root or see the file system
// differently. How it ended: number 0 and "opened", the
// refusal's number and description, or number 0 and "did not return" when
// it was still at it after `patienceMs`. `prepare` runs first in the child
// (give up root, see another lock directory) and `open` must close again
// what it opened.
struct OpenOutcome
{
    std::int32_t number = 0;
    QString description;
};
OpenOutcome openInChild(const std::function<bool()> &prepare, const std::function<void()> &open,
                        int patienceMs);

// For the work of a child: drop root for Debian's unprivileged user.
bool becomeNobody();

// For the work of a child: a mount namespace of its own, where the lock
// directory is `directory` (or is missing, when `directory` is empty),
// mounted read-only when asked.
bool seeLockDirectoryAs(const QString &directory, bool readOnly);
