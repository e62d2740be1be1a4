#include "DeviceLockFile.h"

#include "ErrorReport.h"
#include "SystemError.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>

#include <cerrno>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// The PID a lock file names: ASCII decimal on its first line, possibly
// space-padded (lockdev writes "%10d\n", QLockFile "pid\napp\nhost\n").
// 0 when the content is not a PID at all.
pid_t ownerIn(const QByteArray &content)
{
    const qsizetype newline = content.indexOf('\n');
    const QByteArray first = (newline < 0 ? content : content.left(newline)).trimmed();
    bool ok = false;
    const int pid = first.toInt(&ok, 10);
    return ok && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

bool processAlive(pid_t pid)
{
    // EPERM: the process exists but belongs to someone else.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

enum class Read { Content, Absent, Unreadable };

Read readLockFile(const QString &path, QByteArray &content, int &error)
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = errno;
        return error == ENOENT ? Read::Absent : Read::Unreadable;
    }
    char head[64];
    const ssize_t got = ::read(fd, head, sizeof head);
    error = errno;
    ::close(fd);
    if (got < 0)
        return Read::Unreadable;
    content = QByteArray(head, got);
    return Read::Content;
}

} // namespace

QString DeviceLockFile::pathFor(const QString &device)
{
    QString name = device.startsWith(u"/dev/") ? device.mid(5) : device;
    name.replace(u'/', u'_');
    return u"/var/lock/LCK.."_s + name;
}

void DeviceLockFile::clearTheWay(const QString &device)
{
    const QString path = pathFor(device);

    QByteArray content;
    int error = 0;
    switch (readLockFile(path, content, error)) {
    case Read::Absent:
        return;
    case Read::Unreadable:
        SystemError::fail(device, EBUSY,
                          u"lock file %1 cannot be read: %2"_s.arg(path, SystemError::description(error)));
    case Read::Content:
        if (const pid_t owner = ownerIn(content); owner != 0 && processAlive(owner))
            SystemError::fail(device, EBUSY, u"locked by process %1"_s.arg(owner));
        if (::unlink(encoded(path).constData()) != 0 && errno != ENOENT) {
            error = errno;
            throw ErrorReport(SystemError::lockFileErrorNumber(error),
                              u"%1: stale lock file %2 cannot be removed: %3"_s.arg(
                                  device, path, SystemError::description(error)));
        }
        return;
    }
}
