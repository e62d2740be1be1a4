#include "MemoryLimit.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 MiB = 1024 * 1024;

// A file system of the files the limit is read from.
class FakeSystem
{
public:
    FakeSystem() { write(u"proc/meminfo"_s, "MemTotal:        8388608 kB\nMemFree:  1000 kB\n"); }

    void write(const QString &path, const QByteArray &content)
    {
        const QString full = m_root.filePath(path);
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QString root() const { return m_root.path(); }

private:
    QTemporaryDir m_root;
};

TEST(MemoryLimitTest, TheLowestCgroupV1LimitOnTheWayUpHolds)
{
    FakeSystem system;
    system.write(u"proc/self/cgroup"_s, "5:devices:/\n4:memory:/session/linewatch\n0::/\n");
    system.write(u"proc/self/mountinfo"_s,
                 "31 23 0:28 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
                 "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
                 "36 31 0:33 / /sys/fs/cgroup/devices rw,relatime - cgroup cgroup rw,devices\n");
    // An unlimited v1 group reports a huge number, not "max".
    system.write(u"sys/fs/cgroup/memory/session/linewatch/memory.limit_in_bytes"_s, "9223372036854771712\n");
    system.write(u"sys/fs/cgroup/memory/session/memory.limit_in_bytes"_s, QByteArray::number(600 * MiB) + '\n');
    EXPECT_EQ(MemoryLimit::available(system.root()), 600 * MiB);

    system.write(u"sys/fs/cgroup/memory/session/linewatch/memory.limit_in_bytes"_s,
                 QByteArray::number(300 * MiB) + '\n');
    EXPECT_EQ(MemoryLimit::available(system.root()), 300 * MiB);
}

TEST(MemoryLimitTest, ACgroupV2LimitHoldsAndMaxMeansNone)
{
    FakeSystem system;
    system.write(u"proc/self/cgroup"_s, "0::/user.slice/app.scope\n");
    system.write(u"proc/self/mountinfo"_s, "24 1 0:21 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n");
    system.write(u"sys/fs/cgroup/user.slice/app.scope/memory.max"_s, "max\n");
    system.write(u"sys/fs/cgroup/user.slice/memory.max"_s, QByteArray::number(1024 * MiB) + '\n');
    EXPECT_EQ(MemoryLimit::available(system.root()), 1024 * MiB);

    // Above the physical memory, a limit changes nothing.
    system.write(u"sys/fs/cgroup/user.slice/memory.max"_s, QByteArray::number(64 * 1024 * MiB) + '\n');
    EXPECT_EQ(MemoryLimit::available(system.root()), 8 * 1024 * MiB);
}

TEST(MemoryLimitTest, WithoutControlGroupsThePhysicalMemory)
{
    FakeSystem system;
    EXPECT_EQ(MemoryLimit::available(system.root()), 8 * 1024 * MiB);
    // And on this machine, something sensible.
    EXPECT_GT(MemoryLimit::available(), 64 * MiB);
}

} // namespace
