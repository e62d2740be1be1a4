#include "BenchSupport.h"

#include "ByteStream.h"
#include "DeviceWriter.h"

#include <QtCore/QByteArray>
#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QEventLoop>
#include <QtCore/QProcess>
#include <QtCore/QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <csignal>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace BenchSupport {

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

void report(const char *key, double value)
{
    std::printf("%s %.9g\n", key, value);
    std::fflush(stdout);
}

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Figures figuresIn(const QByteArray &output)
{
    Figures figures;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() == 2)
            figures.insert(QString::fromLatin1(fields.at(0)), fields.at(1).toDouble());
    }
    return figures;
}

// Ends what the row left in its group (a device writer whose process the
// kernel killed, say) and removes the group: a group with a process in it
// cannot be removed.
void removeGroup(const QString &group)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const QByteArray processes = contentOf(group + u"/cgroup.procs"_s).trimmed();
        if (processes.isEmpty())
            break;
        for (const QByteArray &process : processes.split('\n'))
            ::kill(static_cast<pid_t>(process.toInt()), SIGKILL);
        ::usleep(100'000);
    }
    if (!QDir().rmdir(group))
        std::fprintf(stderr, "could not remove the control group %s\n", qPrintable(group));
}

} // namespace

std::optional<Figures> runInChild(const char *program, const QStringList &arguments)
{
    std::fprintf(stderr, "[%s] running %s\n", program, qPrintable(arguments.join(u' ')));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), QStringList{u"--run"_s} + arguments);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
        std::fprintf(stderr, "[%s] run failed: %s\n", program, qPrintable(arguments.join(u' ')));
        return std::nullopt;
    }
    return figuresIn(child.readAllStandardOutput());
}

double figure(const std::optional<Figures> &figures, const QString &key)
{
    return figures ? figures->value(key, -1) : -1;
}

std::optional<GroupRun> runInMemoryGroup(const char *program, qint64 limit, const QStringList &arguments)
{
    const QString group = u"/sys/fs/cgroup/memory/linewatch-%1-%2"_s.arg(QLatin1StringView(program)).arg(::getpid());
    if (::geteuid() != 0 || !QDir().mkdir(group)) {
        std::printf("skipped: it needs root and the cgroup v1 memory controller at /sys/fs/cgroup/memory\n");
        return std::nullopt;
    }
    QFile limitFile(group + u"/memory.limit_in_bytes"_s);
    const QByteArray limitText = QByteArray::number(limit);
    if (!limitFile.open(QIODevice::WriteOnly) || limitFile.write(limitText) != limitText.size()) {
        QDir().rmdir(group);
        std::printf("skipped: the group's memory limit could not be set\n");
        return std::nullopt;
    }
    limitFile.close();
    std::fprintf(stderr, "[%s] running %s in %s\n", program, qPrintable(arguments.join(u' ')), qPrintable(group));
    // The child joins the group before it is the benchmark, so that all it
    // ever holds counts there.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(u"/bin/sh"_s, QStringList{u"-c"_s, u"echo $$ > \"$1/cgroup.procs\" && shift && exec \"$0\" --run \"$@\""_s,
                                          QCoreApplication::applicationFilePath(), group}
                                  + arguments);
    child.waitForFinished(-1);
    GroupRun run;
    run.figures = figuresIn(child.readAllStandardOutput());
    run.exitCode = child.exitCode();
    run.lived = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    const QByteArray oom = contentOf(group + u"/memory.oom_control"_s);
    const qsizetype killsAt = oom.indexOf("oom_kill ");
    run.kills = killsAt < 0 ? -1 : oom.mid(killsAt + 9).split('\n').first().toInt();
    const QByteArray peak = contentOf(group + u"/memory.max_usage_in_bytes"_s).trimmed();
    run.peakMib = peak.isEmpty() ? -1 : peak.toDouble() / 1024 / 1024;
    removeGroup(group);
    return run;
}

bool runUntil(const std::function<bool()> &condition, double timeoutSeconds, int pollMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(pollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(static_cast<int>(timeoutSeconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return condition();
}

namespace {

// Compares a mebibyte at a time, so that neither side is ever whole in
// memory: the text may be most of what the process may hold.
bool matchesGenerated(const TextValue &shown, qsizetype from, qsizetype count,
                      const std::function<void(char *, qsizetype)> &generate)
{
    constexpr qsizetype pieceSize = 1 << 20;
    QByteArray piece(pieceSize, Qt::Uninitialized);
    bool same = shown.size() >= from + count;
    for (qsizetype at = 0; at < count; at += pieceSize) {
        const qsizetype length = std::min(pieceSize, count - at);
        generate(piece.data(), length);
        same = same
            && shown.mid(from + at, length) == QString::fromLatin1(QByteArrayView(piece.constData(), length));
    }
    return same;
}

} // namespace

bool matchesByteStream(const TextValue &shown, qsizetype from, qsizetype count)
{
    ByteStream expected;
    return matchesByteStream(shown, from, count, expected);
}

bool matchesByteStream(const TextValue &shown, qsizetype from, qsizetype count, ByteStream &expected)
{
    return matchesGenerated(shown, from, count, [&expected](char *out, qsizetype length) {
        expected.generate(out, static_cast<std::size_t>(length));
    });
}

bool matchesStream(const TextValue &shown, qsizetype from, qsizetype count, DeviceWriter::Stream &expected)
{
    return matchesGenerated(shown, from, count,
                            [&expected](char *out, qsizetype length) { expected.generate(out, length); });
}

std::optional<int> startAsWriter(int argc, char **argv)
{
    if (DeviceWriter::isWriterInvocation(argc, argv))
        return DeviceWriter::writerMain(argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::nullopt;
}

int rowsMain(int argc, char **argv, const char *program, int (*runChild)(int, char **), int (*runAll)(bool quick))
{
    if (const std::optional<int> writer = startAsWriter(argc, argv))
        return *writer;
    if (argc >= 2 && std::strcmp(argv[1], "--run") == 0)
        return runChild(argc, argv);
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const bool quick = arguments.contains(u"--quick"_s);
    if (arguments.size() > (quick ? 2 : 1)) {
        std::fprintf(stderr, "usage: %s [--quick]\n", program);
        return 2;
    }
    return runAll(quick);
}

} // namespace BenchSupport
