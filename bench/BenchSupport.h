#pragma once

#include "DeviceWriter.h"
#include "TextValue.h"

#include <QtCore/QHash>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QtGlobal>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

// Small pieces the benchmark programs share.
namespace BenchSupport {

using Clock = std::chrono::steady_clock;
double millisecondsSince(Clock::time_point start);
double median(std::vector<double> values);
double maximum(const std::vector<double> &values);

// Every row of a benchmark runs in a fresh child process: the program again
// with "--run" and the row's arguments. The child reports each figure as a
// "key value" line on its standard output; the parent collects them.
void report(const char *key, double value);
using Figures = QHash<QString, double>;
// Runs a row; nothing when the child failed. `program` names it in messages.
std::optional<Figures> runInChild(const char *program, const QStringList &arguments);
// A row's figure, or -1 where the row or the figure is missing.
double figure(const std::optional<Figures> &figures, const QString &key);

// A row run in a memory control group of its own (cgroup v1, as root),
// limited to `limit` bytes: what it reported, how it ended, and what the
// kernel says of the group. Nothing, with the reason printed, where no such
// group can be made.
struct GroupRun
{
    Figures figures;
    bool lived = false; // exit 0
    int exitCode = -1;
    int kills = -1; // by the kernel's out-of-memory killer
    double peakMib = -1; // the group's own peak
};
std::optional<GroupRun> runInMemoryGroup(const char *program, qint64 limit, const QStringList &arguments);

// What every benchmark program does first: be the device writer when it was
// started as one (returning its exit status), and take Qt's offscreen
// platform unless told otherwise.
std::optional<int> startAsWriter(int argc, char **argv);
// The whole of main() for a program of rows: a child runs its row
// (runChild), the parent all rows (runAll), with or without --quick.
int rowsMain(int argc, char **argv, const char *program, int (*runChild)(int, char **), int (*runAll)(bool quick));

// Runs the event loop until the condition holds, checking it every `pollMs`
// (a slow poll keeps the checking out of CPU figures); false on timeout.
bool runUntil(const std::function<bool()> &condition, double timeoutSeconds, int pollMs = 1);

// Whether `count` characters of `shown` from `from` on are exactly the
// first `count` bytes of a default ByteStream, each byte as one Latin-1
// character.
bool matchesByteStream(const TextValue &shown, qsizetype from, qsizetype count);
// The same against the next `count` bytes of `expected`, which moves on by
// that many whatever the outcome.
bool matchesByteStream(const TextValue &shown, qsizetype from, qsizetype count, ByteStream &expected);
// The same against the next `count` bytes of what a device writer sends,
// whatever its content.
bool matchesStream(const TextValue &shown, qsizetype from, qsizetype count, DeviceWriter::Stream &expected);

} // namespace BenchSupport
