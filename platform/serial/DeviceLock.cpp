#include "DeviceLock.h"

#include "LockFileOwner.h"
#include "SystemError.h"
#include "UniqueFd.h"

#include <QtCore/QByteArrayView>
#include <QtCore/QFile>
#include <QtCore/QScopeGuard>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <optional>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr char Directory[] = "/var/lock";

// A lock file is one short line; more than this is no lock any tool writes.
constexpr std::size_t MostContent = 128;

// How a lock file is opened to be read: never following a link, never
// waiting on what may stand in the file's place.
constexpr int LockReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Rounds of "judge the lock in the way, remove it if stale, take ours"
// before a lock that keeps coming back is taken for a live one.
constexpr int Rounds = 3;

QString kindOf(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFIFO: return u"a FIFO"_s;
    case S_IFDIR: return u"a directory"_s;
    case S_IFLNK: return u"a symbolic link"_s;
    case S_IFSOCK: return u"a socket"_s;
    case S_IFCHR:
    case S_IFBLK: return u"a device node"_s;
    default: return u"something other than a file"_s;
    }
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// What stands at the lock path.
struct Seen
{
    enum { Absent, File, Other } what = Absent;
    struct stat status = {};
    QByteArray content;
};

// Looks at the lock path without following a link and without opening
// anything that is not a regular file: a FIFO opened for reading waits for a
// writer, forever if none comes.
Seen look(const QByteArray &path, const QString &device)
{
    const auto fail = [&](const QString &what) {
        const int error = errno;
        SystemError::failOnLockFile(device, error, what.arg(QFile::decodeName(path)));
    };
    Seen seen;
    if (::lstat(path.constData(), &seen.status) != 0) {
        if (errno != ENOENT)
            fail(u"lock file %1 cannot be examined"_s);
        return seen;
    }
    if (!S_ISREG(seen.status.st_mode)) {
        seen.what = Seen::Other;
        return seen;
    }
    // O_NONBLOCK and O_NOFOLLOW still, for whatever takes the file's place
    // between the look and the open; what was opened is what is judged.
    const UniqueFd file(::open(path.constData(), LockReadFlags));
    if (!file.valid()) {
        if (errno == ENOENT)
            return seen;
        if (errno == ELOOP) {
            seen.what = Seen::Other;
            seen.status.st_mode = S_IFLNK;
            return seen;
        }
        fail(u"lock file %1 cannot be read"_s);
    }
    if (::fstat(file.get(), &seen.status) != 0)
        fail(u"lock file %1 cannot be examined"_s);
    if (!S_ISREG(seen.status.st_mode)) {
        seen.what = Seen::Other;
        return seen;
    }
    char bytes[MostContent];
    const ssize_t got = ::read(file.get(), bytes, sizeof bytes);
    if (got < 0)
        fail(u"lock file %1 cannot be read"_s);
    seen.what = Seen::File;
    seen.content = QByteArray(bytes, got);
    return seen;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (written < 0 && errno != EINTR)
            return false;
        if (written > 0)
            done += written;
    }
    return true;
}

} // namespace

QString DeviceLock::directory()
{
    return QString::fromLatin1(Directory);
}

QString DeviceLock::pathFor(const QString &device)
{
    QString name = device.startsWith(u"/dev/") ? device.mid(5) : device;
    name.replace(u'/', u'_');
    return QString::fromLatin1(Directory) + u"/LCK.."_s + name;
}

bool DeviceLock::runs(pid_t pid)
{
    // EPERM: the process exists but belongs to someone else.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

DeviceLock::DeviceLock(const QString &device, const ProcessProbe &processExists)
    : m_device(device)
    , m_path(QFile::encodeName(pathFor(device)))
{
    for (int round = 0; round < Rounds; ++round) {
        if (tryCreate())
            return;
        judgeExisting(processExists);
    }
    SystemError::fail(m_device, EBUSY, u"lock file %1 keeps coming back"_s.arg(QFile::decodeName(m_path)));
}

DeviceLock::~DeviceLock()
{
    release();
}

bool DeviceLock::tryCreate()
{
    const QString directory = QString::fromLatin1(Directory);
    QByteArray temporary = QByteArray(Directory) + "/LTMP.XXXXXX";
    const UniqueFd file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!file.valid()) {
        const int error = errno;
        SystemError::failOnLockFile(m_device, error, u"cannot create a lock file in %1"_s.arg(directory));
    }
    const auto removeTemporary = qScopeGuard([&] { ::unlink(temporary.constData()); });

    // Readable by every user's tools, whatever this process's umask.
    const QByteArray content = QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n';
    if (::fchmod(file.get(), 0644) != 0 || !writeAll(file.get(), content)) {
        const int error = errno;
        SystemError::failOnLockFile(m_device, error, u"cannot write a lock file in %1"_s.arg(directory));
    }

    if (::link(temporary.constData(), m_path.constData()) != 0) {
        const int error = errno;
        if (error == EEXIST)
            return false;
        SystemError::failOnLockFile(m_device, error,
                                    u"cannot create the lock file %1"_s.arg(QFile::decodeName(m_path)));
    }
    struct stat status = {};
    if (::fstat(file.get(), &status) != 0) {
        const int error = errno;
        ::unlink(m_path.constData());
        SystemError::failOnLockFile(m_device, error, u"cannot examine the lock file it wrote"_s);
    }
    m_fileSystem = status.st_dev;
    m_inode = status.st_ino;
    m_held = true;
    return true;
}

void DeviceLock::judgeExisting(const ProcessProbe &processExists)
{
    const QString shownPath = QFile::decodeName(m_path);
    const Seen judged = look(m_path, m_device);
    if (judged.what == Seen::Absent)
        return; // gone meanwhile: ours may be taken now
    if (judged.what == Seen::Other)
        SystemError::fail(m_device, EBUSY,
                          u"%1 is %2, not a lock file; it is left alone"_s.arg(shownPath,
                                                                             kindOf(judged.status.st_mode)));

    const std::optional<pid_t> owner = LockFileOwner::ownerIn(judged.content);
    if (!owner)
        SystemError::fail(m_device, EBUSY,
                          u"lock file %1 does not say which process holds the port; it is left alone"_s.arg(
                              shownPath));
    if (processExists(*owner))
        SystemError::fail(m_device, EBUSY, u"locked by process %1"_s.arg(*owner));

    // Stale. Another tool may have judged it so too and written a fresh lock
    // of its own meanwhile: only the very file judged is removed, and
    // anything else at the path is judged afresh.
    const Seen now = look(m_path, m_device);
    if (now.what != Seen::File || !sameFile(now.status, judged.status) || now.content != judged.content)
        return;
    if (::unlink(m_path.constData()) != 0 && errno != ENOENT) {
        const int error = errno;
        SystemError::failOnLockFile(m_device, error, u"stale lock file %1 cannot be removed"_s.arg(shownPath));
    }
}

void DeviceLock::release() noexcept
{
    if (!m_held)
        return;
    m_held = false;
    struct stat status = {};
    if (::lstat(m_path.constData(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_dev != m_fileSystem
        || status.st_ino != m_inode)
        return;
    const int fd = ::open(m_path.constData(), LockReadFlags);
    if (fd < 0)
        return;
    char bytes[MostContent];
    const ssize_t got = ::read(fd, bytes, sizeof bytes);
    ::close(fd);
    if (got > 0 && LockFileOwner::ownerIn(QByteArrayView(bytes, got)) == ::getpid())
        ::unlink(m_path.constData());
}
