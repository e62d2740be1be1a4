// What a long day of data costs the text box: memory per stored character
// for the kinds of text a line brings, before and after compression; a key
// press at the start of a long text; and moving about a text of a thousand
// million characters. Each row fills the real Text1 of the real Form1 a
// mebibyte at a time, through Text and setText as the handlers join input,
// in a fresh child process. Last, a full text box: a device floods the line
// with a stuck sensor's line, readings or random bytes into the program in
// memory control groups of 256 MiB, 512 MiB and 1 GiB.
//
//   bench_storage [--quick]      (a tenth of the sizes; floods at 256 MiB only)

#include "BenchHost.h"
#include "BenchSupport.h"
#include "DeviceWriter.h"
#include "ChunkCompressor.h"
#include "MonitorRig.h"
#include "PseudoTerminal.h"
#include "ProcessStats.h"
#include "SampleText.h"
#include "TextBox.h"
#include "TextValue.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <QtTest/QTest>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <unistd.h>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;
using namespace BenchSupport;

namespace {

constexpr const char *program = "bench_storage";

SampleText::Kind kindNamed(const QString &name)
{
    if (name == u"readings")
        return SampleText::Kind::Readings;
    if (name == u"short")
        return SampleText::Kind::ShortLines;
    return SampleText::Kind::RandomBytes;
}

// Joins `count` characters of the kind to Text1 a mebibyte at a time, the
// way Comm1_OnComm joins input.
void fill(TextBox &text1, SampleText::Kind kind, qsizetype count)
{
    SampleText sample(kind);
    constexpr qsizetype piece = 1 << 20;
    for (qsizetype done = 0; done < count; done += piece) {
        const QByteArray bytes = sample.next(std::min(piece, count - done));
        text1.setText(text1.Text() + QString::fromLatin1(bytes));
    }
}

// Waits until every full chunk is compressed and in place; then hands what
// the allocator keeps on its free lists back to the system (the pieces the
// fill joined, the characters compression freed), so that what is left is
// what the text holds.
bool settle()
{
    const bool done = BenchSupport::runUntil([] { return TextTree::ChunkCompressor::pending() == 0; }, 600, 10);
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    return done;
}

int runMemory(SampleText::Kind kind, qsizetype count, bool compress)
{
    TextTree::ChunkCompressor::setEnabled(compress);
    MonitorRig rig;
    rig.show();
    rig.open();
    TextBox &text1 = rig.text1();
    const std::int64_t before = ProcessStats::residentBytes();
    const auto start = Clock::now();
    fill(text1, kind, count);
    report("fill_s", millisecondsSince(start) / 1000);
    if (!settle())
        throw std::runtime_error("compression never caught up");
    report("chars", static_cast<double>(text1.Text().size()));
    report("bytes_per_char",
           static_cast<double>(ProcessStats::residentBytes() - before) / static_cast<double>(text1.Text().size()));
    report("storage_bytes_per_char",
           static_cast<double>(TextValue::bytesInUse()) / static_cast<double>(text1.Text().size()));
    report("resident_mb", static_cast<double>(ProcessStats::residentBytes()) / 1e6);
    return 0;
}

// Each step as the user sees it: the key or the scroll, then the repaint.
template<typename Step>
double timed(TextBox &text1, Step step)
{
    const auto start = Clock::now();
    step();
    text1.repaint();
    return millisecondsSince(start);
}

int runKeys(SampleText::Kind kind, qsizetype count)
{
    MonitorRig rig;
    rig.show();
    rig.open();
    TextBox &text1 = rig.text1();
    fill(text1, kind, count);
    if (!settle())
        throw std::runtime_error("compression never caught up");
    text1.setFocus();
    report("chars", static_cast<double>(text1.Text().size()));
    report("ctrl_home_ms", timed(text1, [&] { QTest::keyClick(&text1, Qt::Key_Home, Qt::ControlModifier); }));
    std::vector<double> presses;
    for (int i = 0; i < 10; ++i)
        presses.push_back(timed(text1, [&] { QTest::keyClick(&text1, Qt::Key_X); }));
    report("key_median_ms", median(presses));
    report("key_max_ms", maximum(presses));
    report("typed", text1.Text().mid(0, 10) == u"xxxxxxxxxx"_s ? 1 : 0);
    report("ctrl_end_ms", timed(text1, [&] { QTest::keyClick(&text1, Qt::Key_End, Qt::ControlModifier); }));
    QScrollBar *bar = text1.verticalScrollBar();
    report("jump_middle_ms", timed(text1, [&] { bar->setValue(bar->maximum() / 2); }));
    report("jump_top_ms", timed(text1, [&] { bar->setValue(0); }));
    report("resident_mb", static_cast<double>(ProcessStats::residentBytes()) / 1e6);
    report("bytes_per_char", static_cast<double>(ProcessStats::residentBytes()) / static_cast<double>(count));
    return 0;
}

// The kinds of text a device floods the line with, by the name a row is
// run with.
struct Flood
{
    const char *argument;
    DeviceWriter::Content content;
    const char *label;
};
constexpr Flood Floods[] = {
    {"constant", DeviceWriter::Content::Constant, "T=21.50 over and over"},
    {"readings", DeviceWriter::Content::Readings, "80-char readings"},
    {"random", DeviceWriter::Content::Bytes, "random bytes"},
};

// How long a flood may take to be shown once the device has stopped, while
// the box has room: past that, reception has stalled.
constexpr double DrainSeconds = 60;

// How long a flood row goes on: until the box has been full `fillings`
// times; or, where the first filling took longer than `secondWithin`
// seconds, after that one; or after `seconds` whatever it got.
struct FloodLength
{
    int fillings = 1;
    double secondWithin = 0;
    double seconds = 0;
};

// A device flooding the line as fast as it takes bytes into a text box with
// a memory budget, for as long as `length` says: each time the box is full,
// the text must be exactly what was sent so far; then the user selects all
// and deletes, and reception goes on. A flood that does not fill the box in
// time ends there with what it got: text that compresses well may never
// fill it. The figures so far are reported every second and after every
// look at the box, so that a run the kernel ends still says how far it came.
int runFull(DeviceWriter::Content content, const FloodLength &length)
{
    MonitorRig rig;
    rig.show();
    rig.open();
    TextBox &text1 = rig.text1();
    BenchHost &host = rig.host();
    // Whatever the box held before the flood is not the device's.
    qsizetype from = text1.Text().size();
    report("budget_mb", static_cast<double>(text1.memoryBudget()) / 1e6);

    DeviceWriter::Options options;
    options.content = content;
    DeviceWriter writer(rig.line().masterFd(), options);
    DeviceWriter::Stream expected(content);
    const auto start = Clock::now();
    const auto elapsed = [start] { return millisecondsSince(start) / 1000; };
    std::int64_t shown = 0;
    bool identical = true;
    int fillings = 0;
    int messagesSeen = 0;
    double largestMc = 0;
    double firstFilling = 0;
    double held = 0;
    bool stopped = false;
    double stoppedAt = 0;
    const auto allShown = [&] {
        return writer.finished()
            && shown + (text1.Text().size() - from) >= static_cast<std::int64_t>(writer.written());
    };
    const auto reportProgress = [&] {
        report("sent_mb", static_cast<double>(writer.written()) / 1e6);
        report("shown_mb", static_cast<double>(shown + text1.Text().size() - from) / 1e6);
        report("peak_rss_mb", static_cast<double>(ProcessStats::peakResidentBytes()) / 1e6);
        report("matched", identical ? 1 : 0);
        report("fillings", fillings);
        report("messages", host.messageCount());
    };
    QTimer progress;
    progress.setInterval(1000);
    QObject::connect(&progress, &QTimer::timeout, &progress, reportProgress);
    progress.start();
    for (;;) {
        BenchSupport::runUntil(
            [&] {
                return host.messageCount() > messagesSeen || allShown() || (!stopped && elapsed() >= length.seconds);
            },
            stopped ? DrainSeconds : length.seconds - elapsed() + 1, 20);
        messagesSeen = host.messageCount();
        const double lookedAt = elapsed();
        {
            // Not held past the look: a delete must free what it removes.
            const TextValue text = text1.Text();
            const qsizetype count = text.size() - from;
            identical = BenchSupport::matchesStream(text, from, count, expected) && identical;
            shown += count;
            from = text.size();
            largestMc = std::max(largestMc, static_cast<double>(text.size()) / 1e6);
        }
        // A filling is the box being full, whether or not it said so.
        const bool full = text1.isFull();
        if (full) {
            if (++fillings == 1) {
                firstFilling = lookedAt;
                report("first_filling_s", firstFilling);
            }
            // What the program had taken from the line but not shown.
            held = std::max(held, static_cast<double>(static_cast<std::int64_t>(writer.written()) - shown) / 1e6);
            // The user makes room: select all, Delete.
            text1.setFocus();
            QTest::keySequence(&text1, QKeySequence::SelectAll);
            QTest::keyClick(&text1, Qt::Key_Delete);
            from = 0;
        }
        reportProgress();
        report("largest_text_mc", largestMc);
        report("held_mb", held);
        if (allShown())
            break;
        const bool enough = fillings >= length.fillings || (fillings > 0 && firstFilling > length.secondWithin);
        if (!stopped && (enough || elapsed() >= length.seconds)) {
            report("timed_out", enough ? 0 : 1);
            writer.stop();
            stopped = true;
            stoppedAt = elapsed();
        } else if (stopped && !full && elapsed() - stoppedAt >= DrainSeconds) {
            report("stalled", 1);
            break;
        }
    }
    report("identical", identical && shown == static_cast<std::int64_t>(writer.written()) ? 1 : 0);
    report("seconds", elapsed());
    return 0;
}

int runChild(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString row = arguments.value(2);
    const SampleText::Kind kind = kindNamed(arguments.value(3));
    const auto count = static_cast<qsizetype>(arguments.value(4).toDouble());
    try {
        if (row == u"memory")
            return runMemory(kind, count, arguments.value(5) == u"1");
        if (row == u"keys")
            return runKeys(kind, count);
        if (row == u"full") {
            for (const Flood &flood : Floods) {
                if (arguments.value(3) == QLatin1StringView(flood.argument))
                    return runFull(flood.content, {arguments.value(4).toInt(), arguments.value(5).toDouble(),
                                                   arguments.value(6).toDouble()});
            }
        }
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "%s: %s\n", program, failure.what());
        return 1;
    }
    std::fprintf(stderr, "%s: unknown run \"%s\"\n", program, qPrintable(row));
    return 2;
}

// A flood row in a memory control group of its own (cgroup v1, as root)
// limited to `limitMib`: it must live, whatever the device sends.
void runFullInGroup(int limitMib, const Flood &flood, const FloodLength &length)
{
    const qint64 limit = qint64(limitMib) * 1024 * 1024;
    const auto start = Clock::now();
    const std::optional<GroupRun> run = BenchSupport::runInMemoryGroup(
        program, limit,
        {u"full"_s, QString::fromLatin1(flood.argument), QString::number(length.fillings),
         QString::number(length.secondWithin), QString::number(length.seconds)});
    const double seconds = millisecondsSince(start) / 1000;
    if (!run)
        return;
    const Figures &figures = run->figures;
    const auto value = [&figures](const char *key) { return figures.value(QString::fromLatin1(key), -1); };
    // A run that ended early says how far it came, and whether the text
    // matched that far.
    const char *same = value("identical") == 1 ? "yes"
        : value("identical") == 0              ? "NO"
        : value("matched") == 1                ? "so far"
                                               : "NO";
    const double fillings = value("fillings");
    QString note;
    if (!run->lived)
        note = u"ended early"_s;
    else if (value("stalled") == 1)
        note = u"reception stalled"_s;
    else if (fillings == 0)
        note = u"never filled in %1 s"_s.arg(length.seconds);
    else if (value("timed_out") == 1)
        note = u"time limit"_s;
    else if (fillings < length.fillings)
        note = u"1st filling > %1 s"_s.arg(length.secondWithin);
    const double peakRss = value("peak_rss_mb");
    std::printf("%5d %-22s %-5s %4d %5d %7.0f %8.0f %8.0f %-6s %4.0f %4.0f %7.0f %8.0f %4.0f%% %7.0f %6.1f %6.1f  %s\n",
                limitMib, flood.label, run->lived ? "yes" : "NO", run->exitCode, run->kills, value("budget_mb"),
                value("sent_mb"), value("shown_mb"), same, fillings, value("messages"), value("held_mb"), peakRss,
                peakRss < 0 ? -1 : peakRss * 1e6 / static_cast<double>(limit) * 100, run->peakMib,
                value("first_filling_s"), seconds, qPrintable(note));
    std::fflush(stdout);
}

int runAll(bool quick)
{
    const double scale = quick ? 0.1 : 1;
    const auto millions = [scale](double m) { return static_cast<qsizetype>(m * scale * 1e6); };
    struct Kind
    {
        const char *argument;
        SampleText::Kind kind;
    };
    const std::vector<Kind> kinds{{"random", SampleText::Kind::RandomBytes},
                                  {"short", SampleText::Kind::ShortLines},
                                  {"readings", SampleText::Kind::Readings}};

    std::printf("\nlinewatch storage benchmark%s: memory per character as the process's resident memory\n",
                quick ? " (--quick)" : "");
    std::printf("%-17s %6s %-13s %8s %9s %8s   %s\n", "text", "chars", "compression", "B/char", "stored B", "fill s",
                "target");
    for (const Kind &kind : kinds) {
        for (const bool compress : {false, true}) {
            const std::optional<Figures> row = BenchSupport::runInChild(
                program, {u"memory"_s, QString::fromLatin1(kind.argument), QString::number(millions(100)),
                          QString::number(compress ? 1 : 0)});
            const char *target = kind.kind == SampleText::Kind::Readings ? (compress ? "<=0.3" : "")
                                                                          : (compress ? "" : "<=1.1");
            std::printf("%-17s %5.0fM %-13s %8.3f %9.3f %8.1f   %s\n", SampleText::label(kind.kind),
                        figure(row, u"chars"_s) / 1e6, compress ? "once done" : "off", figure(row, u"bytes_per_char"_s),
                        figure(row, u"storage_bytes_per_char"_s), figure(row, u"fill_s"_s), target);
        }
    }
    std::printf("B/char: resident memory after the fill, once compression caught up and the allocator\n"
                "handed its free lists back (malloc_trim), minus before, over the characters;\n"
                "stored B: what the text's chunks take, per character.\n");

    std::printf("\nMoving about (each step and its repaint, ms)\n");
    std::printf("%-17s %6s %9s %8s %8s %9s %9s %9s %8s\n", "text", "chars", "Ctrl+Home", "key med", "key max",
                "Ctrl+End", "to middle", "to top", "RSS MB");
    const std::vector<std::pair<Kind, qsizetype>> moves{{kinds[2], millions(100)}, {kinds[0], millions(1000)},
                                                        {kinds[2], millions(1000)}};
    for (const auto &[kind, count] : moves) {
        const std::optional<Figures> row = BenchSupport::runInChild(
            program, {u"keys"_s, QString::fromLatin1(kind.argument), QString::number(count)});
        std::printf("%-17s %5.0fM %9.2f %8.2f %8.2f %9.2f %9.2f %9.2f %8.0f%s\n", SampleText::label(kind.kind),
                    figure(row, u"chars"_s) / 1e6, figure(row, u"ctrl_home_ms"_s), figure(row, u"key_median_ms"_s),
                    figure(row, u"key_max_ms"_s), figure(row, u"ctrl_end_ms"_s), figure(row, u"jump_middle_ms"_s),
                    figure(row, u"jump_top_ms"_s), figure(row, u"resident_mb"_s),
                    figure(row, u"typed"_s) == 1 ? "" : "  (typing went wrong)");
    }
    std::printf("Targets: a key press at the start of 100 M characters under 5 ms (median) and 16 ms (most);\n"
                "at 1000 M, Ctrl+Home, Ctrl+End and a jump to the middle each under 16 ms, and resident\n"
                "memory under 1200 MB for random bytes.\n");

    // A filling takes about as long as the budget, so a limit twice the
    // size takes twice as long: the quick run keeps to the smallest.
    const std::vector<int> limits = quick ? std::vector<int>{256} : std::vector<int>{256, 512, 1024};
    const FloodLength length = quick ? FloodLength{1, 0, 120} : FloodLength{2, 20, 150};
    std::printf("\nA full text box: a device floods the line as fast as it takes bytes into a program in a\n"
                "memory control group; each time the box is full (one message each), the text is checked\n"
                "against what was sent, then selected whole and deleted, and the flood goes on.\n");
    if (quick)
        std::printf("--quick: the %d MiB rows only, one filling each, at most %.0f s a row.\n", limits.front(),
                    length.seconds);
    else
        std::printf("Two fillings a row, one where the first took over %.0f s; at most %.0f s a row.\n",
                    length.secondWithin, length.seconds);
    std::printf("%5s %-22s %-5s %4s %5s %7s %8s %8s %-6s %4s %4s %7s %8s %5s %7s %6s %6s  %s\n", "MiB", "text",
                "lived", "exit", "kills", "budget", "sent MB", "shown MB", "same", "fill", "msgs", "held MB",
                "peak RSS", "% lim", "group", "fill1 s", "time s", "");
    for (const int limit : limits) {
        for (const Flood &flood : Floods)
            runFullInGroup(limit, flood, length);
    }
    std::printf("MiB: the group's memory limit; exit: the exit code, or the signal that killed it;\n"
                "kills: by the kernel's out-of-memory killer; budget: the box's memory budget, MB;\n"
                "same: the text shown is exactly what was sent (\"so far\": as far as it came);\n"
                "fill, msgs: fillings, and messages saying the box is full; held MB: the most taken from\n"
                "the line (the pseudo-terminal's buffer included) but not shown while full; peak RSS:\n"
                "the process's peak resident memory, MB (for a row that ended early, as last reported),\n"
                "and as a share of the limit; group: the group's own peak, MiB; fill1 s: when the box\n"
                "was first full; time s: the whole row.\n"
                "Target: every row lives, one message each filling, and shows exactly every byte sent.\n");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    return BenchSupport::rowsMain(argc, argv, program, runChild, runAll);
}
