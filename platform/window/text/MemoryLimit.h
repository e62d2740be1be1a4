#pragma once

#include <QtCore/QString>

// How much memory this process may use: the machine's physical memory, or
// less where the process's control group sets a lower limit (cgroup v1's
// memory.limit_in_bytes or v2's memory.max, on its own group or any group
// above it).
namespace MemoryLimit {

// In bytes. `root` is where the file system starts, "/" but in tests, which
// give a folder holding proc/meminfo, proc/self/cgroup, proc/self/mountinfo
// and the control group files.
qint64 available(const QString &root = QStringLiteral("/"));

// What this process holds in memory now (its resident set), in bytes; 0
// where the system does not say.
qint64 resident();

} // namespace MemoryLimit
