// What a long day of data costs the text box: memory per stored character
// for the kinds of text a line brings, before and after compression; a key
// press at the start of a long text; and moving about a text of a thousand
// million characters. Each row fills the real Text1 of the real Form1 a
// mebibyte at a time, through Text and setText as the handlers join input,
// in a fresh child process.
//
//   bench_storage [--quick]      (a tenth of the sizes)

#include "BenchHost.h"
#include "BenchSupport.h"
#include "ByteStream.h"
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

// A device flooding the line with random bytes into a text box with a memory
// budget: each time the box is full, the text must be exactly what was sent
// so far; then the user deletes everything and reception goes on.
int runFull(std::int64_t total)
{
    MonitorRig rig;
    rig.show();
    rig.open();
    TextBox &text1 = rig.text1();
    qsizetype from = text1.Text().size();
    report("budget_mb", static_cast<double>(text1.memoryBudget()) / 1e6);

    DeviceWriter::Options options;
    options.content = DeviceWriter::Content::Bytes;
    options.limit = total;
    DeviceWriter writer(rig.line().masterFd(), options);
    ByteStream expected;
    std::int64_t shown = 0;
    bool identical = true;
    int fillings = 0;
    double largestMb = 0;
    for (;;) {
        const auto allShown = [&] {
            return writer.finished()
                && shown + (text1.Text().size() - from) >= static_cast<std::int64_t>(writer.written());
        };
        if (!BenchSupport::runUntil([&] { return rig.host().messageCount() > fillings || allShown(); }, 1200, 20))
            throw std::runtime_error("reception stalled");
        const TextValue text = text1.Text();
        const qsizetype count = text.size() - from;
        identical = identical && BenchSupport::matchesByteStream(text, from, count, expected);
        shown += count;
        largestMb = std::max(largestMb, static_cast<double>(text.size()) / 1e6);
        if (rig.host().messageCount() == fillings)
            break;
        ++fillings;
        // The user makes room: select all, Delete.
        text1.setFocus();
        QTest::keySequence(&text1, QKeySequence::SelectAll);
        QTest::keyClick(&text1, Qt::Key_Delete);
        from = 0;
    }
    report("sent_mb", static_cast<double>(writer.written()) / 1e6);
    report("shown_mb", static_cast<double>(shown) / 1e6);
    report("identical", identical && shown == static_cast<std::int64_t>(writer.written()) ? 1 : 0);
    report("fillings", fillings);
    report("messages", rig.host().messageCount());
    report("largest_text_mb", largestMb);
    report("peak_rss_mb", static_cast<double>(ProcessStats::peakResidentBytes()) / 1e6);
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
        if (row == u"full")
            return runFull(count);
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "%s: %s\n", program, failure.what());
        return 1;
    }
    std::fprintf(stderr, "%s: unknown run \"%s\"\n", program, qPrintable(row));
    return 2;
}

// The full-box row, in a memory control group of its own (cgroup v1, as
// root): it must live, whatever the device sends.
void runFullInGroup(qsizetype total, qint64 limit)
{
    const std::optional<GroupRun> run =
        BenchSupport::runInMemoryGroup(program, limit, {u"full"_s, u"random"_s, QString::number(total)});
    if (!run)
        return;
    const Figures &figures = run->figures;
    std::printf("limit %.0f MiB: lived %s (exit %d, kills by the kernel %d); budget %.0f MB; sent %.0f MB,\n"
                "shown %.0f MB, identical %s; fillings %.0f, messages %.0f; largest text %.0f MB; peak RSS %.0f MB\n",
                static_cast<double>(limit) / 1024 / 1024, run->lived ? "yes" : "NO", run->exitCode, run->kills,
                figures.value(u"budget_mb"_s), figures.value(u"sent_mb"_s), figures.value(u"shown_mb"_s),
                figures.value(u"identical"_s) == 1 ? "yes" : "NO", figures.value(u"fillings"_s),
                figures.value(u"messages"_s), figures.value(u"largest_text_mb"_s), figures.value(u"peak_rss_mb"_s));
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

    std::printf("\nA full text box: a device sends random bytes as fast as the line takes them into a\n"
                "program in a memory control group; each time the box is full (one message each),\n"
                "the text is checked against what was sent, then selected whole and deleted.\n");
    runFullInGroup(quick ? 300'000'000 : 1'200'000'000, qint64(600) * 1024 * 1024);
    std::printf("Target: it lives, one message each filling, and shows exactly every byte sent.\n");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    return BenchSupport::rowsMain(argc, argv, program, runChild, runAll);
}
