#include "PortNeighbours.h"

#include <QtCore/QDeadlineTimer>
#include <QtCore/QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Debian's unprivileged user and group.
constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

// Runs `work` in a child process and returns what it answered, or nothing
// when the child was still at it after `patienceMs` (it is killed then).
std::optional<QByteArray> answerFromChild(const std::function<QByteArray()> &work, int patienceMs)
{
    int channel[2] = {-1, -1};
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return QByteArray("no pipe: ") + std::strerror(errno);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const QByteArray answer = work();
        const bool sent = ::write(channel[1], answer.constData(), static_cast<std::size_t>(answer.size()))
            == answer.size();
        ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    QByteArray answer;
    bool finished = false;
    const QDeadlineTimer deadline(patienceMs);
    while (!finished) {
        pollfd readable{channel[0], POLLIN, 0};
        const int left = static_cast<int>(deadline.remainingTime());
        if (left <= 0 || ::poll(&readable, 1, left) <= 0)
            break;
        char chunk[512];
        const ssize_t got = ::read(channel[0], chunk, sizeof chunk);
        if (got > 0)
            answer.append(chunk, got);
        else
            finished = true;
    }
    ::close(channel[0]);
    if (!finished)
        ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    return finished ? std::optional(answer) : std::nullopt;
}

} // namespace

ErrorReport reportFrom(const std::function<void()> &call)
{
    try {
        call();
        ADD_FAILURE() << "no ErrorReport was thrown";
    } catch (const ErrorReport &report) {
        return report;
    }
    return ErrorReport(0, QString());
}

QByteArray readLockFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray lockdevContent(pid_t pid)
{
    return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
}

QByteArray minicomContent(pid_t pid)
{
    return QByteArray::number(pid).rightJustified(10, ' ') + " minicom root\n";
}

QByteArray binaryPidContent(pid_t pid)
{
    const std::int32_t value = pid;
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

pid_t deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

ForeignLockFile::ForeignLockFile(QString path, const QByteArray &content)
    : m_path(std::move(path))
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        ADD_FAILURE() << "cannot write " << m_path.toStdString();
}

ForeignLockFile::~ForeignLockFile()
{
    QFile::remove(m_path);
}

Descriptor::Descriptor(const QString &path)
    : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    , m_openError(m_fd < 0 ? errno : 0)
{
}

Descriptor::~Descriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

OpenOutcome openInChild(const std::function<bool()> &prepare, const std::function<void()> &open,
                        int patienceMs)
{
    const std::optional<QByteArray> answer = answerFromChild([&]() -> QByteArray {
        if (!prepare())
            return "0 cannot prepare: " + QByteArray(std::strerror(errno));
        try {
            open();
        } catch (const ErrorReport &failure) {
            return QByteArray::number(failure.Number()) + ' ' + failure.Description().toUtf8();
        }
        return "0 opened";
    }, patienceMs);
    if (!answer)
        return {0, QStringLiteral("did not return")};
    const qsizetype space = answer->indexOf(' ');
    return {answer->left(space).toInt(), QString::fromUtf8(answer->mid(space + 1))};
}

bool becomeNobody()
{
    return ::setgroups(0, nullptr) == 0 && ::setgid(NoGroup) == 0 && ::setuid(Nobody) == 0;
}

bool seeLockDirectoryAs(const QString &directory, bool readOnly)
{
    char *lockDirectory = ::realpath("/var/lock", nullptr);
    if (lockDirectory == nullptr)
        return false;
    const QByteArray target = lockDirectory;
    std::free(lockDirectory);
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    if (directory.isEmpty()) {
        // An empty file system over the lock directory's parent: the
        // directory itself is gone.
        const QByteArray parent = target.left(target.lastIndexOf('/'));
        return ::mount("none", parent.constData(), "tmpfs", 0, nullptr) == 0;
    }
    const QByteArray source = QFile::encodeName(directory);
    if (::mount(source.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
        return false;
    return !readOnly
        || ::mount(nullptr, target.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
}
