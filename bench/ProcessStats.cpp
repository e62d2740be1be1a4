#include "ProcessStats.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>

#include <ctime>

#include <unistd.h>

namespace ProcessStats {

namespace {

double seconds(const timespec &time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

} // namespace

std::int64_t residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return -1;
    return fields.at(1).toLongLong() * static_cast<std::int64_t>(::sysconf(_SC_PAGESIZE));
}

std::int64_t peakResidentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmHWM:")) {
            // "VmHWM:   123456 kB"
            const QByteArray value = line.mid(6).trimmed();
            return value.left(value.indexOf(' ')).toLongLong() * 1024;
        }
    }
    return -1;
}

double cpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return seconds(now);
}

double wallSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return seconds(now);
}

} // namespace ProcessStats
