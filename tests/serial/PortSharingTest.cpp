// The port as shared ground: other tools' lock files in every shape they
// come in, a lock directory that cannot be written, exclusive mode held by
// another program, a lock replaced while the port is open.
#include "SerialPortControl.h"

#include "DeviceLock.h"
#include "ErrorReport.h"
#include "PortNeighbours.h"
#include "PseudoTerminal.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QScopeGuard>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int Patience = 5000; // ms; only reached when something is wrong

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

using Outcome = OpenOutcome;

class PortSharingTest : public ::testing::Test
{
protected:
    Outcome openInChild(const std::function<bool()> &prepare = [] { return true; })
    {
        return ::openInChild(prepare, [this] {
            m_control->setPortOpen(true);
            m_control->setPortOpen(false);
        }, Patience);
    }

    // Another program puts a lock of its own in place of the one there: as
    // a new file (it took the old one for stale), or by writing over it.
    void replaceLock(bool withANewFile, const QByteArray &content)
    {
        if (withANewFile)
            QFile::remove(lockPath());
        QFile file(lockPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(content), content.size());
    }

    QString lockPath() const { return m_line->lockFilePath(); }

    std::unique_ptr<PseudoTerminal> m_line = std::make_unique<PseudoTerminal>();
    QString m_device = m_line->slavePath();
    std::unique_ptr<SerialPortControl> m_control = std::make_unique<SerialPortControl>(
        [this](std::int16_t) { return m_device; });
};

} // namespace

TEST_F(PortSharingTest, ALockWhoseOwnerRunsOrCannotBeToldMeansInUseAndIsLeftAlone)
{
    struct Case
    {
        QByteArray content;
        QString told;
    };
    const Case cases[] = {
        {lockdevContent(::getpid()), u"locked by process %1"_s.arg(::getpid())},
        {lockdevContent(1), u"locked by process 1"_s},
        {minicomContent(1), u"locked by process 1"_s},
        {binaryPidContent(1), u"locked by process 1"_s},
        {QByteArray("not a pid\n"), lockPath()},
        {QByteArray(), lockPath()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content.toStdString());
        const ForeignLockFile lock(lockPath(), c.content);
        const ErrorReport report = reportFrom([&] { m_control->setPortOpen(true); });
        EXPECT_EQ(report.Number(), ErrorNumber::DeviceInUse);
        EXPECT_TRUE(report.Description().startsWith(m_device + u": "_s + reason(EBUSY)));
        EXPECT_TRUE(report.Description().contains(c.told)) << report.Description().toStdString();
        EXPECT_FALSE(m_control->PortOpen());
        EXPECT_EQ(readLockFile(lockPath()), c.content);
    }
}

TEST_F(PortSharingTest, AStaleLockInAnyFormatMakesWayForOurs)
{
    for (const QByteArray &content :
         {lockdevContent(deadPid()), minicomContent(deadPid()), binaryPidContent(deadPid())}) {
        const ForeignLockFile lock(lockPath(), content);
        m_control->setPortOpen(true);
        EXPECT_TRUE(m_control->PortOpen());
        EXPECT_EQ(readLockFile(lockPath()), lockdevContent(::getpid()));
        m_control->setPortOpen(false);
        EXPECT_FALSE(QFile::exists(lockPath()));
    }
}

// Any local user can put these where the lock goes: none may block the
// window, and none is removed.
TEST_F(PortSharingTest, SomethingOtherThanALockFileAtItsPathIsRefusedWithoutWaiting)
{
    const QByteArray path = QFile::encodeName(lockPath());
    // A link leads to what looks like a stale lock: neither may be removed.
    const QByteArray stale = lockdevContent(deadPid());
    const ForeignLockFile target(lockPath() + u".target"_s, stale);
    struct Kind
    {
        const char *name;
        std::function<int()> make;
        mode_t type;
    };
    const Kind kinds[] = {
        {"FIFO", [&] { return ::mkfifo(path.constData(), 0666); }, S_IFIFO},
        {"directory", [&] { return ::mkdir(path.constData(), 0777); }, S_IFDIR},
        {"symbolic link", [&] { return ::symlink((path + ".target").constData(), path.constData()); },
         S_IFLNK},
    };
    for (const Kind &kind : kinds) {
        SCOPED_TRACE(kind.name);
        ASSERT_EQ(kind.make(), 0) << std::strerror(errno);
        const auto removeIt = qScopeGuard([&] {
            if (::unlink(path.constData()) != 0)
                ::rmdir(path.constData());
        });

        const Outcome outcome = openInChild();
        EXPECT_EQ(outcome.number, ErrorNumber::DeviceInUse) << outcome.description.toStdString();
        EXPECT_TRUE(outcome.description.contains(lockPath())) << outcome.description.toStdString();
        EXPECT_TRUE(outcome.description.contains(QString::fromLatin1(kind.name)))
            << outcome.description.toStdString();

        struct stat status = {};
        ASSERT_EQ(::lstat(path.constData(), &status), 0) << "the " << kind.name << " was removed";
        EXPECT_EQ(status.st_mode & S_IFMT, kind.type);
    }
    EXPECT_EQ(readLockFile(lockPath() + u".target"_s), stale);
}

TEST_F(PortSharingTest, ALockTheUserCannotReadIsPermissionDeniedAndLeftAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to make a lock that another user cannot read";
    ASSERT_EQ(::chmod(QFile::encodeName(m_device).constData(), 0666), 0);
    const ForeignLockFile lock(lockPath(), lockdevContent(deadPid()));
    ASSERT_EQ(::chmod(QFile::encodeName(lockPath()).constData(), 0600), 0);

    const Outcome outcome = openInChild(becomeNobody);
    EXPECT_EQ(outcome.number, ErrorNumber::PermissionDenied) << outcome.description.toStdString();
    EXPECT_TRUE(outcome.description.startsWith(m_device + u": "_s + reason(EACCES)));
    EXPECT_TRUE(outcome.description.contains(lockPath())) << outcome.description.toStdString();
    EXPECT_TRUE(QFile::exists(lockPath()));
}

// The lock is taken where other tools look for it or not at all: never in
// /tmp or another directory where nobody would see it.
TEST_F(PortSharingTest, ALockDirectoryThatCannotBeWrittenFailsTheOpen)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a private mount namespace for the lock directory needs root";
    ASSERT_EQ(::chmod(QFile::encodeName(m_device).constData(), 0666), 0);
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    ASSERT_TRUE(QFile::setPermissions(directory.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                            | QFile::ReadOther | QFile::ExeOther));
    struct Case
    {
        const char *name;
        std::function<bool()> prepare;
        std::int32_t number;
        int error;
    };
    const Case cases[] = {
        {"read-only", [&] { return seeLockDirectoryAs(directory.path(), true); }, ErrorNumber::OpenFailed, EROFS},
        {"missing", [&] { return seeLockDirectoryAs(QString(), false); }, ErrorNumber::OpenFailed, ENOENT},
        {"not the user's to write",
         [&] { return seeLockDirectoryAs(directory.path(), false) && becomeNobody(); },
         ErrorNumber::PermissionDenied, EACCES},
    };
    const QString strayLock = QDir::tempPath() + u"/LCK.."_s + lockPath().section(u"LCK.."_s, 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = openInChild(c.prepare);
        EXPECT_EQ(outcome.number, c.number) << outcome.description.toStdString();
        EXPECT_TRUE(outcome.description.startsWith(m_device + u": "_s + reason(c.error)))
            << outcome.description.toStdString();
        EXPECT_TRUE(outcome.description.contains(u"/var/lock"_s)) << outcome.description.toStdString();
        EXPECT_FALSE(QFile::exists(strayLock));
        EXPECT_TRUE(QDir(directory.path()).isEmpty());
    }
}

TEST_F(PortSharingTest, ExclusiveModeHeldByAnotherProgramRefusesRootToo)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "an ordinary user's open is refused by the kernel itself, "
                        "which SerialPortControlTest covers";
    const Descriptor other(m_device);
    ASSERT_GE(other.fd(), 0);
    ASSERT_EQ(::ioctl(other.fd(), TIOCEXCL), 0);

    const ErrorReport report = reportFrom([&] { m_control->setPortOpen(true); });
    EXPECT_EQ(report.Number(), ErrorNumber::DeviceInUse);
    EXPECT_EQ(report.Description(),
              m_device + u": "_s + reason(EBUSY) + u" (opened exclusively by another program)"_s);
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_FALSE(QFile::exists(lockPath()));

    ASSERT_EQ(::ioctl(other.fd(), TIOCNXCL), 0);
    m_control->setPortOpen(true);
    EXPECT_TRUE(m_control->PortOpen());
}

// Another tool that took our lock for stale, or someone by hand, put a lock
// of theirs in place while the port was open: closing must not remove it.
TEST_F(PortSharingTest, CloseLeavesALockThatIsNoLongerOurs)
{
    const QByteArray foreign = lockdevContent(1);
    for (const bool withANewFile : {true, false}) {
        m_control->setPortOpen(true);
        replaceLock(withANewFile, foreign);
        const auto removeIt = qScopeGuard([&] { QFile::remove(lockPath()); });
        m_control->setPortOpen(false);
        EXPECT_EQ(readLockFile(lockPath()), foreign);
    }
}

// Another tool judged the same stale lock and put a fresh one of its own in
// place while this one was still judging: the fresh lock must survive.
TEST_F(PortSharingTest, AFreshLockWrittenWhileAStaleOneIsJudgedSurvives)
{
    const QByteArray fresh = lockdevContent(1);
    for (const bool withANewFile : {true, false}) {
        const ForeignLockFile stale(lockPath(), lockdevContent(deadPid()));
        bool replaced = false;
        const ErrorReport report = reportFrom([&] {
            const DeviceLock lock(m_device, [&](pid_t pid) {
                if (replaced)
                    return DeviceLock::runs(pid);
                replaced = true;
                replaceLock(withANewFile, fresh);
                return false; // the stale lock's owner is gone
            });
        });
        EXPECT_TRUE(replaced);
        EXPECT_EQ(report.Number(), ErrorNumber::DeviceInUse);
        EXPECT_TRUE(report.Description().endsWith(u"(locked by process 1)"_s))
            << report.Description().toStdString();
        EXPECT_EQ(readLockFile(lockPath()), fresh);
    }
}
