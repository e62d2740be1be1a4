#include "MemoryLimit.h"

#include <QtCore/QFile>
#include <QtCore/QList>

#include <unistd.h>

#include <algorithm>
#include <limits>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

QList<QByteArray> linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().split('\n');
}

// A limit file's number; "max", a missing file or nonsense set no limit.
qint64 limitIn(const QString &path)
{
    const QList<QByteArray> lines = linesOf(path);
    if (lines.isEmpty())
        return std::numeric_limits<qint64>::max();
    bool ok = false;
    const qint64 value = lines.first().trimmed().toLongLong(&ok);
    return ok && value > 0 ? value : std::numeric_limits<qint64>::max();
}

qint64 physical(const QString &root)
{
    for (const QByteArray &line : linesOf(root + u"proc/meminfo"_s)) {
        if (line.startsWith("MemTotal:")) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 2)
                return fields.at(1).toLongLong() * 1024;
        }
    }
    return std::numeric_limits<qint64>::max();
}

// Where a control group hierarchy is mounted: v1 by its controller among the
// mount's options, v2 by its file system type. The mount's own root (the
// fourth field) is the group the mount point shows.
struct Mount
{
    QString point;
    QByteArray root;
};

std::optional<Mount> mountOf(const QString &root, bool version2)
{
    for (const QByteArray &line : linesOf(root + u"proc/self/mountinfo"_s)) {
        const qsizetype separator = line.indexOf(" - ");
        if (separator < 0)
            continue;
        const QList<QByteArray> fields = line.left(separator).split(' ');
        const QList<QByteArray> rest = line.mid(separator + 3).split(' ');
        if (fields.size() < 5 || rest.size() < 3)
            continue;
        const bool matches = version2 ? rest.at(0) == "cgroup2"
                                      : rest.at(0) == "cgroup" && rest.at(2).split(',').contains("memory");
        if (matches)
            return Mount{root + QString::fromLocal8Bit(fields.at(4)).mid(1), fields.at(3)};
    }
    return std::nullopt;
}

// The lowest limit of `file` on the group `path` and every group above it
// that the mount shows.
qint64 lowestLimit(const Mount &mount, QByteArray path, const char *file)
{
    qint64 lowest = std::numeric_limits<qint64>::max();
    if (mount.root != "/" && path.startsWith(mount.root))
        path = path.mid(mount.root.size());
    for (;;) {
        const QString directory = mount.point + QString::fromLocal8Bit(path);
        lowest = std::min(lowest, limitIn(directory + u'/' + QLatin1StringView(file)));
        const qsizetype slash = path.lastIndexOf('/');
        if (path.isEmpty() || path == "/" || slash < 0)
            break;
        path = path.left(slash);
    }
    return lowest;
}

} // namespace

qint64 MemoryLimit::available(const QString &rootPath)
{
    const QString root = rootPath.endsWith(u'/') ? rootPath : rootPath + u'/';
    qint64 limit = physical(root);
    for (const QByteArray &line : linesOf(root + u"proc/self/cgroup"_s)) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const QByteArray path = fields.mid(2).join(':');
        if (fields.at(0) == "0" && fields.at(1).isEmpty()) {
            if (const auto mount = mountOf(root, true))
                limit = std::min(limit, lowestLimit(*mount, path, "memory.max"));
        } else if (fields.at(1).split(',').contains("memory")) {
            if (const auto mount = mountOf(root, false))
                limit = std::min(limit, lowestLimit(*mount, path, "memory.limit_in_bytes"));
        }
    }
    return limit;
}

qint64 MemoryLimit::resident()
{
    // statm's second field: resident pages.
    const QList<QByteArray> lines = linesOf(u"/proc/self/statm"_s);
    if (lines.isEmpty())
        return 0;
    const QList<QByteArray> fields = lines.first().split(' ');
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return fields.size() >= 2 && pageSize > 0 ? fields.at(1).toLongLong() * pageSize : 0;
}
