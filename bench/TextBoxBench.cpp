// How the text box holds up as a serial log grows: the cost of one OnComm,
// memory per character, CPU at 9600 baud, throughput, editing and scrolling
// a large text, and a whole-text QPlainTextEdit program for comparison.
//
// Every figure comes from the real Form1 handlers, the real TextBox and the
// real serial control reading a pseudo-terminal, on Qt's offscreen platform
// with the window shown. Each measurement runs in a child process of its own
// (this program run again with --run), so memory figures start clean and one
// size's leftovers never weigh on the next.

#include "BenchSupport.h"
#include "DeviceWriter.h"
#include "Form1.h"
#include "Form1Description.h"
#include "MonitorRig.h"
#include "OnCommProbe.h"
#include "ProcessStats.h"
#include "SerialControl.h"
#include "TextBox.h"
#include "TextPattern.h"
#include "TextValue.h"
#include "Window.h"

#include <QtCore/QHash>
#include <QtCore/QProcess>
#include <QtGui/QFontDatabase>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QScrollBar>
#include <QtTest/QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace Qt::StringLiterals;
using namespace BenchSupport;

namespace {

// The opening text followed by printable pattern characters up to `size`.
QString patternText(const QString &opening, TextPattern &pattern, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    std::copy(opening.cbegin(), opening.cend(), text.begin());
    pattern.generate(reinterpret_cast<char16_t *>(text.data()) + opening.size(), size - opening.size());
    return text;
}

// --- children ---------------------------------------------------------------

// Fill to `size`, then `count` timed OnComm events of 16 characters each;
// optionally CPU while 9600 baud trickles in, and keys and scrolling.
int runAppend(qsizetype size, bool lineBreaks, int count, double trickleSeconds, bool keys)
{
    OnCommProbe probe;
    MonitorRig rig([&probe](SerialControl &control) { probe.connectBefore(control); });
    probe.connectAfter(rig.comm1(), rig.text1());
    rig.show();
    rig.open();
    TextBox &text1 = rig.text1();
    report("viewport_width", text1.viewport()->width());
    report("viewport_height", text1.viewport()->height());

    const std::int64_t residentBefore = ProcessStats::residentBytes();
    TextPattern pattern(lineBreaks);
    {
        const auto start = Clock::now();
        const QString filled = patternText(text1.Text().mid(0, text1.Text().size()), pattern, size);
        text1.setText(filled);
        text1.repaint();
        report("fill_ms", millisecondsSince(start));
    }
    const std::int64_t residentFilled = ProcessStats::residentBytes();
    report("fill_bytes_per_char",
           static_cast<double>(residentFilled - residentBefore) / static_cast<double>(text1.Text().size()));

    probe.setTiming(true);
    for (int i = 0; i < count; ++i) {
        char burst[16];
        pattern.generate(burst, sizeof burst);
        const qsizetype expected = text1.Text().size() + qsizetype(sizeof burst);
        rig.line().write(QByteArray(burst, sizeof burst));
        if (!runUntil([&] { return text1.Text().size() >= expected; }, 30))
            throw std::runtime_error("a burst never reached the text box");
    }
    probe.setTiming(false);

    std::vector<double> times;
    std::vector<double> handlerTimes;
    std::vector<double> repaintTimes;
    int whole = 0;
    int minPaints = 1 << 30;
    for (const OnCommProbe::Sample &sample : probe.samples()) {
        times.push_back(sample.milliseconds);
        handlerTimes.push_back(sample.handlerMilliseconds);
        repaintTimes.push_back(sample.milliseconds - sample.handlerMilliseconds);
        whole += sample.characters == 16 ? 1 : 0;
        minPaints = std::min(minPaints, sample.paints);
    }
    report("append_events", static_cast<double>(times.size()));
    report("append_whole_bursts", whole);
    report("append_min_paints", minPaints);
    report("append_median_ms", median(times));
    report("append_max_ms", maximum(times));
    report("append_handler_median_ms", median(handlerTimes));
    report("append_handler_max_ms", maximum(handlerTimes));
    report("append_repaint_median_ms", median(repaintTimes));

    const std::int64_t residentAfter = ProcessStats::residentBytes();
    const qsizetype stored = text1.Text().size();
    report("chars", static_cast<double>(stored));
    report("bytes_per_char",
           static_cast<double>(residentAfter - residentBefore) / static_cast<double>(stored));
    report("peak_rss_mb", static_cast<double>(ProcessStats::peakResidentBytes()) / 1e6);

    // The handler's steps one by one, as appendInput takes them (without the
    // serial read), to tell which of them costs the time.
    {
        using Text = decltype(text1.Text());
        std::vector<double> read;
        std::vector<double> join;
        std::vector<double> set;
        std::vector<double> paint;
        for (int i = 0; i < 20; ++i) {
            char burst[16];
            pattern.generate(burst, sizeof burst);
            const QString input = QString::fromLatin1(QByteArrayView(burst, sizeof burst));
            auto start = Clock::now();
            const Text text = text1.Text();
            read.push_back(millisecondsSince(start));
            start = Clock::now();
            const Text joined = text + input;
            join.push_back(millisecondsSince(start));
            start = Clock::now();
            text1.setText(joined);
            set.push_back(millisecondsSince(start));
            start = Clock::now();
            text1.repaint();
            paint.push_back(millisecondsSince(start));
        }
        report("step_text_ms", median(read));
        report("step_join_ms", median(join));
        report("step_set_ms", median(set));
        report("step_repaint_ms", median(paint));
    }

    if (trickleSeconds > 0) {
        DeviceWriter::Options options;
        options.content = lineBreaks ? DeviceWriter::Content::Lines : DeviceWriter::Content::NoBreaks;
        options.startPosition = pattern.position();
        options.rate = 960;
        options.burst = 10;
        options.seconds = trickleSeconds;
        const qsizetype startSize = text1.Text().size();
        const long long startEvents = probe.events();
        const double cpuStart = ProcessStats::cpuSeconds();
        const double wallStart = ProcessStats::wallSeconds();
        DeviceWriter writer(rig.line().masterFd(), options);
        const auto drained = [&] {
            return writer.finished()
                && static_cast<std::uint64_t>(text1.Text().size() - startSize) >= writer.written();
        };
        if (!runUntil(drained, trickleSeconds + 60, 100))
            throw std::runtime_error("the trickle never drained");
        const double cpu = ProcessStats::cpuSeconds() - cpuStart;
        const double wall = ProcessStats::wallSeconds() - wallStart;
        report("trickle_seconds", wall);
        report("trickle_chars", static_cast<double>(text1.Text().size() - startSize));
        report("trickle_events", static_cast<double>(probe.events() - startEvents));
        report("trickle_cpu_percent", 100 * cpu / wall);
        report("trickle_writer_cpu_percent", 100 * writer.cpuSeconds() / wall);
        pattern = TextPattern(lineBreaks, pattern.position() + static_cast<qsizetype>(writer.written()));
    }

    if (keys) {
        const qsizetype before = text1.Text().size();
        auto start = Clock::now();
        QTest::keyClick(&text1, Qt::Key_Home, Qt::ControlModifier);
        text1.repaint();
        report("ctrl_home_ms", millisecondsSince(start));
        std::vector<double> presses;
        for (int i = 0; i < 5; ++i) {
            start = Clock::now();
            QTest::keyClick(&text1, Qt::Key_X);
            text1.repaint();
            presses.push_back(millisecondsSince(start));
        }
        const bool typed = text1.Text().size() == before + 5 && text1.Text().at(0) == u'x'
            && text1.cursorPosition() == 5;
        report("key_typed_at_start", typed ? 1 : 0);
        report("key_median_ms", median(presses));
        report("key_max_ms", maximum(presses));

        // One endless line has nothing to scroll vertically: go to its end sideways.
        QScrollBar *bar = lineBreaks ? text1.verticalScrollBar() : text1.horizontalScrollBar();
        std::vector<double> toEnd;
        std::vector<double> back;
        std::vector<double> both;
        for (int i = 0; i < 5; ++i) {
            start = Clock::now();
            bar->setValue(bar->maximum());
            text1.repaint();
            const double end = millisecondsSince(start);
            start = Clock::now();
            bar->setValue(0);
            text1.repaint();
            const double home = millisecondsSince(start);
            toEnd.push_back(end);
            back.push_back(home);
            both.push_back(end + home);
        }
        report("scroll_maximum", bar->maximum());
        report("scroll_end_ms", median(toEnd));
        report("scroll_back_ms", median(back));
        report("scroll_both_median_ms", median(both));
        report("scroll_both_max_ms", maximum(both));
    }
    report("message_boxes", rig.host().messageCount());
    return 0;
}

// A naive program: read the whole text, join the input, set it back.
int runBaseline(qsizetype size, bool lineBreaks, int count, double budgetSeconds)
{
    QPlainTextEdit edit;
    // The same look and size as Text1: never wrapping, monospace.
    edit.setLineWrapMode(QPlainTextEdit::NoWrap);
    edit.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    {
        const Window reference(form1Description());
        edit.resize(reference.textBox(u"Text1"_s).size());
    }
    edit.show();
    if (!QTest::qWaitForWindowExposed(&edit))
        throw std::runtime_error("the baseline window was never exposed");

    TextPattern pattern(lineBreaks);
    auto start = Clock::now();
    edit.setPlainText(patternText(u"Text1\r\n"_s, pattern, size));
    edit.viewport()->repaint();
    report("fill_ms", millisecondsSince(start));

    std::vector<double> times;
    const auto begun = Clock::now();
    while (static_cast<int>(times.size()) < count
           && (times.empty() || millisecondsSince(begun) < budgetSeconds * 1000)) {
        const QString input = patternText(QString(), pattern, 16);
        start = Clock::now();
        const QString text = edit.toPlainText();
        edit.setPlainText(text + input);
        edit.viewport()->repaint();
        times.push_back(millisecondsSince(start));
        QCoreApplication::processEvents();
    }
    report("append_events", static_cast<double>(times.size()));
    report("append_median_ms", median(times));
    report("append_max_ms", maximum(times));
    return 0;
}

// Every byte value, as fast as the line takes it, through the real handlers.
int runThroughput(std::int64_t bytes, double capSeconds)
{
    OnCommProbe probe;
    MonitorRig rig([&probe](SerialControl &control) { probe.connectBefore(control); });
    probe.connectAfter(rig.comm1(), rig.text1());
    rig.show();
    rig.open();
    TextBox &text1 = rig.text1();
    const QString opening = text1.Text().mid(0, text1.Text().size());
    const qsizetype prefix = opening.size();
    const std::int64_t residentBefore = ProcessStats::residentBytes();

    DeviceWriter::Options options;
    options.content = DeviceWriter::Content::Bytes;
    options.limit = bytes;
    const double wallStart = ProcessStats::wallSeconds();
    const double cpuStart = ProcessStats::cpuSeconds();
    DeviceWriter writer(rig.line().masterFd(), options);
    bool capped = false;
    const auto done = [&] {
        if (!capped && ProcessStats::wallSeconds() - wallStart > capSeconds) {
            capped = true;
            writer.stop();
        }
        return writer.finished()
            && static_cast<std::uint64_t>(text1.Text().size() - prefix) >= writer.written();
    };
    const bool drained = runUntil(done, capSeconds + 600, 10);
    const double wall = ProcessStats::wallSeconds() - wallStart;
    const double cpu = ProcessStats::cpuSeconds() - cpuStart;
    const auto sent = static_cast<qsizetype>(writer.written());
    report("drained", drained ? 1 : 0);
    report("capped", capped ? 1 : 0);
    report("sent_bytes", static_cast<double>(sent));
    report("seconds", wall);
    report("mb_per_s", static_cast<double>(sent) / wall / 1e6);
    report("cpu_percent", 100 * cpu / wall);
    report("events", static_cast<double>(probe.events()));

    const TextValue shown = text1.Text();
    report("shown_chars", static_cast<double>(shown.size() - prefix));
    report("bytes_per_char", static_cast<double>(ProcessStats::residentBytes() - residentBefore)
                                 / static_cast<double>(shown.size()));
    report("peak_rss_mb", static_cast<double>(ProcessStats::peakResidentBytes()) / 1e6);

    const bool identical = shown.size() == prefix + sent && shown.mid(0, prefix) == opening
        && BenchSupport::matchesByteStream(shown, prefix, sent);
    report("identical", identical ? 1 : 0);
    report("message_boxes", rig.host().messageCount());
    return 0;
}

int runChild(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const auto number = [&arguments](qsizetype i) { return arguments.value(i).toDouble(); };
    const QString kind = arguments.value(2);
    try {
        if (kind == u"append")
            return runAppend(static_cast<qsizetype>(number(3)), number(4) != 0,
                             static_cast<int>(number(5)), number(6), number(7) != 0);
        if (kind == u"baseline")
            return runBaseline(static_cast<qsizetype>(number(3)), number(4) != 0,
                               static_cast<int>(number(5)), number(6));
        if (kind == u"throughput")
            return runThroughput(static_cast<std::int64_t>(number(3)), number(4));
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "bench_textbox: %s\n", failure.what());
        return 1;
    }
    std::fprintf(stderr, "bench_textbox: unknown run \"%s\"\n", qPrintable(kind));
    return 2;
}

// --- parent -----------------------------------------------------------------

QString sizeLabel(qsizetype size)
{
    if (size >= 1000000)
        return u"%1 M"_s.arg(size / 1000000);
    return u"%1 K"_s.arg(size / 1000);
}

const char *breaksLabel(bool lineBreaks)
{
    return lineBreaks ? "80-char lines" : "no breaks";
}

const char *yesNo(bool value)
{
    return value ? "yes" : "no";
}

struct AppendRun
{
    qsizetype size;
    bool lineBreaks;
    std::optional<Figures> figures;
};

int runAll(bool quick)
{
    const std::vector<qsizetype> sizes = quick
        ? std::vector<qsizetype>{100000, 1000000}
        : std::vector<qsizetype>{100000, 1000000, 10000000, 100000000};
    constexpr int appends = 200;
    const qsizetype keySize = quick ? 1000000 : 10000000;
    const double trickleSeconds = quick ? 3 : 10;
    const qsizetype largest = sizes.back();
    const std::int64_t throughputBytes = quick ? 20000000 : 200000000;
    const double throughputCap = quick ? 15 : 120;
    const double baselineBudget = quick ? 4 : 20;
    const int baselineAppends = quick ? 50 : appends;

    std::vector<AppendRun> runs;
    for (const bool lineBreaks : {true, false}) {
        for (const qsizetype size : sizes) {
            // CPU at 9600 baud at the smallest size (cheaply) and the largest;
            // in the quick run only the smallest.
            const bool trickle = size == sizes.front() || (!quick && size == largest);
            const bool keys = size == keySize;
            runs.push_back({size, lineBreaks,
                            runInChild("bench_textbox", {u"append"_s, QString::number(size), QString::number(lineBreaks ? 1 : 0),
                                        QString::number(appends),
                                        QString::number(trickle ? trickleSeconds : 0),
                                        QString::number(keys ? 1 : 0)})});
        }
    }

    const std::optional<Figures> throughput
        = runInChild("bench_textbox", {u"throughput"_s, QString::number(throughputBytes), QString::number(throughputCap)});

    struct BaselineRun
    {
        qsizetype size;
        bool lineBreaks;
        std::optional<Figures> figures;
        double estimateSeconds = 0; // for a skipped run: why
    };
    std::vector<BaselineRun> baselines;
    for (const bool lineBreaks : {true, false}) {
        std::optional<Figures> previous;
        for (const qsizetype size : {qsizetype(100000), qsizetype(1000000), qsizetype(10000000)}) {
            if (size == 10000000) {
                if (quick || !previous)
                    continue;
                // At least linear in the size: ten times the 1 M fill and
                // three appends.
                const double estimate
                    = 10 * ((*previous)[u"fill_ms"_s] + 3 * (*previous)[u"append_median_ms"_s]) / 1000;
                if (estimate >= 30) {
                    baselines.push_back({size, lineBreaks, std::nullopt, estimate});
                    continue;
                }
            }
            previous = runInChild("bench_textbox", {u"baseline"_s, QString::number(size), QString::number(lineBreaks ? 1 : 0),
                                   QString::number(baselineAppends), QString::number(baselineBudget)});
            baselines.push_back({size, lineBreaks, previous});
        }
    }

    const auto ours = [&runs](qsizetype size, bool lineBreaks) -> const Figures * {
        for (const AppendRun &run : runs) {
            if (run.size == size && run.lineBreaks == lineBreaks && run.figures)
                return &*run.figures;
        }
        return nullptr;
    };

    // --- the table ---
    std::printf("\nlinewatch text box benchmark%s: Qt %s, QT_QPA_PLATFORM=%s, window shown\n",
                quick ? " (--quick)" : "", qVersion(), qgetenv("QT_QPA_PLATFORM").constData());
    if (const Figures *first = ours(sizes.front(), true)) {
        std::printf("Text1's text area: %.0f x %.0f px\n", (*first)[u"viewport_width"_s],
                    (*first)[u"viewport_height"_s]);
    }
    std::printf("Each row is a fresh child process. Sizes count characters (UTF-16 units), K = 1000.\n"
                "Fill: the bulk is set with Text1.setText in one go (\"Text1\\r\\n\" + pattern);\n"
                "measured appends then take the real path: 16 bytes written to the pty master ->\n"
                "serial control -> OnComm -> host dispatch -> Form1::Comm1_OnComm -> Text1.setText,\n"
                "then Text1.repaint(). Time: first OnComm slot (connected before Form1's) to end of repaint.\n");

    std::printf("\n1+2. One OnComm with a 16-character burst (%d per row), and memory\n", appends);
    std::printf("%-6s %-14s %8s %7s %9s %9s %12s %7s %9s %9s\n", "size", "text", "fill ms", "whole",
                "median ms", "max ms", "target", "B/char", "(filled)", "target");
    for (const AppendRun &run : runs) {
        const bool atTarget = run.size == 100000000;
        if (!run.figures) {
            std::printf("%-6s %-14s  run failed\n", qPrintable(sizeLabel(run.size)), breaksLabel(run.lineBreaks));
            continue;
        }
        const Figures &f = *run.figures;
        std::printf("%-6s %-14s %8.0f %3.0f/%-3.0f %9.3f %9.3f %12s %7.2f %9.2f %9s\n",
                    qPrintable(sizeLabel(run.size)), breaksLabel(run.lineBreaks), f[u"fill_ms"_s],
                    f[u"append_whole_bursts"_s], f[u"append_events"_s], f[u"append_median_ms"_s],
                    f[u"append_max_ms"_s], atTarget ? "<1 / <20" : "", f[u"bytes_per_char"_s],
                    f[u"fill_bytes_per_char"_s], atTarget ? "<=4" : "");
    }
    double leastPaints = 1e9;
    for (const AppendRun &run : runs) {
        if (run.figures)
            leastPaints = std::min(leastPaints, (*run.figures)[u"append_min_paints"_s]);
    }
    std::printf("whole: events that carried all 16 characters / events. B/char: resident memory after\n"
                "the appends minus before the fill, over the characters stored; (filled): the same right\n"
                "after the fill. Paint events the text area received per timed event: at least %.0f.\n",
                leastPaints);

    std::printf("\nWhere one OnComm's time goes (medians, ms): the handler and the repaint after it, then\n"
                "the handler's steps replayed one by one (20 times, without the serial read)\n");
    std::printf("%-6s %-14s %9s %9s %9s | %9s %9s %9s %9s\n", "size", "text", "handler", "hdl max", "repaint",
                "Text()", "join", "setText", "repaint");
    for (const AppendRun &run : runs) {
        if (!run.figures)
            continue;
        const Figures &f = *run.figures;
        std::printf("%-6s %-14s %9.3f %9.3f %9.3f | %9.3f %9.3f %9.3f %9.3f\n", qPrintable(sizeLabel(run.size)),
                    breaksLabel(run.lineBreaks), f[u"append_handler_median_ms"_s], f[u"append_handler_max_ms"_s],
                    f[u"append_repaint_median_ms"_s], f[u"step_text_ms"_s], f[u"step_join_ms"_s],
                    f[u"step_set_ms"_s], f[u"step_repaint_ms"_s]);
    }
    std::printf("\n3. CPU while 9600 baud trickles in (10 characters every 10.4 ms from a writer process)\n");
    std::printf("%-6s %-14s %7s %7s %7s %8s %9s %8s\n", "size", "text", "s", "chars", "OnComm", "CPU %",
                "writer %", "target");
    for (const AppendRun &run : runs) {
        if (!run.figures || !run.figures->contains(u"trickle_cpu_percent"_s))
            continue;
        const Figures &f = *run.figures;
        std::printf("%-6s %-14s %7.2f %7.0f %7.0f %8.2f %9.2f %8s\n", qPrintable(sizeLabel(run.size)),
                    breaksLabel(run.lineBreaks), f[u"trickle_seconds"_s], f[u"trickle_chars"_s],
                    f[u"trickle_events"_s], f[u"trickle_cpu_percent"_s], f[u"trickle_writer_cpu_percent"_s],
                    run.size == 100000000 ? "<2" : "");
    }
    std::printf("CPU %%: this process's CPU time (all threads, CLOCK_PROCESS_CPUTIME_ID) over wall time,\n"
                "one core = 100; the event loop paints as it normally would. writer %%: the writer process.\n");

    std::printf("\n4. Throughput: every byte value in random-length \"\\r\\n\" lines, as fast as the pty takes it\n");
    if (throughput) {
        const Figures &f = *throughput;
        std::printf("%10s %8s %8s %8s %9s %8s %8s %10s %8s\n", "sent MB", "s", "MB/s", "target", "identical",
                    "OnComm", "CPU %", "B/char", "peak MB");
        std::printf("%10.1f %8.2f %8.2f %8s %9s %8.0f %8.1f %10.2f %8.0f\n", f[u"sent_bytes"_s] / 1e6,
                    f[u"seconds"_s], f[u"mb_per_s"_s], ">=20", yesNo(f[u"identical"_s] != 0), f[u"events"_s],
                    f[u"cpu_percent"_s], f[u"bytes_per_char"_s], f[u"peak_rss_mb"_s]);
        std::printf("Asked for %.0f MB%s. Time: writer start to the last byte shown.\n"
                    "identical: Text1.Text() is \"Text1\\r\\n\" followed by exactly the bytes sent, as Latin-1.\n",
                    static_cast<double>(throughputBytes) / 1e6,
                    f[u"capped"_s] != 0 ? qPrintable(u"; stopped by the %1 s cap"_s.arg(throughputCap)) : "");
    } else {
        std::printf("run failed\n");
    }

    std::printf("\n5. Editing and scrolling at %s characters (each step timed with a synchronous repaint)\n",
                qPrintable(sizeLabel(keySize)));
    std::printf("%-14s %9s %8s %8s %8s %6s %9s %9s %9s %9s %8s\n", "text", "Ctrl+Home", "key med", "key max",
                "target", "typed", "scrollbar", "end ms", "back ms", "both med", "target");
    for (const AppendRun &run : runs) {
        if (!run.figures || !run.figures->contains(u"key_median_ms"_s))
            continue;
        const Figures &f = *run.figures;
        std::printf("%-14s %9.3f %8.3f %8.3f %8s %6s %9s %9.3f %9.3f %9.3f %8s\n", breaksLabel(run.lineBreaks),
                    f[u"ctrl_home_ms"_s], f[u"key_median_ms"_s], f[u"key_max_ms"_s], "<30",
                    yesNo(f[u"key_typed_at_start"_s] != 0), run.lineBreaks ? "vertical" : "horizont.",
                    f[u"scroll_end_ms"_s], f[u"scroll_back_ms"_s], f[u"scroll_both_median_ms"_s], "<10");
    }
    std::printf("key: QTest::keyClick('x') at the start of the text after Ctrl+Home, 5 presses.\n"
                "scroll: the scroll bar set to its maximum, repaint, then to 0, repaint; 5 rounds.\n"
                "Without line breaks there is one line, so the end is reached sideways.\n");

    std::printf("\n6. Baseline: QPlainTextEdit (no wrap, monospace, same size), per append:\n"
                "   toPlainText(), join 16 characters held in memory, setPlainText(), viewport repaint\n");
    std::printf("%-6s %-14s %9s %5s %11s %11s %9s\n", "size", "text", "fill ms", "n", "median ms", "ours ms",
                "ratio");
    for (const BaselineRun &run : baselines) {
        if (!run.figures) {
            std::printf("%-6s %-14s  skipped: estimated %.0f s\n", qPrintable(sizeLabel(run.size)),
                        breaksLabel(run.lineBreaks), run.estimateSeconds);
            continue;
        }
        const Figures &f = *run.figures;
        const Figures *mine = ours(run.size, run.lineBreaks);
        const double ourMedian = mine ? (*mine)[u"append_median_ms"_s] : 0;
        std::printf("%-6s %-14s %9.0f %5.0f %11.3f %11.3f %8.1fx\n", qPrintable(sizeLabel(run.size)),
                    breaksLabel(run.lineBreaks), f[u"fill_ms"_s], f[u"append_events"_s],
                    f[u"append_median_ms"_s], ourMedian, ourMedian > 0 ? f[u"append_median_ms"_s] / ourMedian : 0);
    }
    std::printf("ratio: baseline median over ours at the same size (>1: ours is faster). Each baseline\n"
                "row stops after %d appends or %.0f s.\n", baselineAppends, baselineBudget);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    return BenchSupport::rowsMain(argc, argv, "bench_textbox", runChild, runAll);
}
