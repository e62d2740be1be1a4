// What handing text over costs the text box when it holds hundreds of
// millions of characters: a copy, another program reading it, the context
// menu and a paste while another program holds a large clipboard, what
// assistive technology is told of an edit and what it reads at the caret;
// then a copy in a box that fills the memory a control group gives it.
//
// The clipboard is the X server's, so every row runs on a real one: started
// without one, the program starts itself again under xvfb-run, with a
// session bus of its own (dbus-run-session), on which the accessibility bus
// is started for the rows assistive technology takes part in. Each row runs
// in a fresh child process, the box filled a mebibyte at a time through Text
// and setText, as received data is joined.
//
//   bench_transfer [--quick]      (a tenth of the sizes)

#include "BenchSupport.h"
#include "ChunkCompressor.h"
#include "ProcessStats.h"
#include "SampleText.h"
#include "TextBox.h"
#include "TextValue.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QStandardPaths>
#include <QtGui/QAccessible>
#include <QtGui/QClipboard>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtTest/QTest>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;
using namespace BenchSupport;

namespace {

constexpr const char *program = "bench_transfer";

// Set in the environment of the program started again on its own X server,
// so that it does not start itself once more.
constexpr const char *OnOwnServer = "LINEWATCH_BENCH_ON_OWN_X_SERVER";

constexpr qsizetype Piece = 1 << 20;

// A line another program might have copied, repeated to fill its clipboard.
constexpr const char *ForeignLine = "copied elsewhere: 0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOP";

// --- the text ---------------------------------------------------------------

// The readings a sensor logs, or the same with every line break made a
// space: one line of any length, as from a device that never ends a line.
class Sample
{
public:
    explicit Sample(bool oneLine)
        : m_oneLine(oneLine)
    {
    }

    QByteArray next(qsizetype count)
    {
        QByteArray bytes = m_readings.next(count);
        if (m_oneLine)
            std::replace_if(bytes.begin(), bytes.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        return bytes;
    }

private:
    SampleText m_readings{SampleText::Kind::Readings};
    bool m_oneLine;
};

// Joins `count` characters to the box a mebibyte at a time, as the handlers
// join input.
void fill(TextBox &box, qsizetype count, bool oneLine)
{
    Sample sample(oneLine);
    for (qsizetype done = 0; done < count; done += Piece)
        box.setText(box.Text() + QString::fromLatin1(sample.next(std::min(Piece, count - done))));
}

// Waits until every full chunk is compressed and in place, then hands the
// allocator's free lists back to the system: what is left is what the text
// holds, and no operation's figure pays for the fill.
void settle()
{
    if (!runUntil([] { return TextTree::ChunkCompressor::pending() == 0; }, 600, 10))
        throw std::runtime_error("compression never caught up");
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Whether the box holds exactly the first `count` characters of the sample.
bool matchesSample(const TextValue &text, qsizetype count, bool oneLine)
{
    Sample expected(oneLine);
    bool same = text.size() == count;
    for (qsizetype at = 0; same && at < count; at += Piece) {
        const qsizetype length = std::min(Piece, count - at);
        same = text.mid(at, length) == QString::fromLatin1(expected.next(length));
    }
    return same;
}

// The checksum POSIX cksum gives (CRC-32, polynomial 0x04C11DB7, most
// significant bit first, the length appended): what another program received
// is checked by cksum in a pipe, without holding it anywhere.
class PosixChecksum
{
public:
    void add(QByteArrayView bytes)
    {
        for (const char byte : bytes)
            step(static_cast<std::uint8_t>(byte));
        m_length += static_cast<std::uint64_t>(bytes.size());
    }

    std::uint32_t value() const
    {
        PosixChecksum ending = *this;
        for (std::uint64_t length = m_length; length != 0; length >>= 8)
            ending.step(static_cast<std::uint8_t>(length & 0xff));
        return ~ending.m_crc;
    }

private:
    static constexpr std::array<std::uint32_t, 256> Table = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t crc = i << 24;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 0x8000'0000U) != 0 ? (crc << 1) ^ 0x04C1'1DB7U : crc << 1;
            table[i] = crc;
        }
        return table;
    }();

    void step(std::uint8_t byte) { m_crc = (m_crc << 8) ^ Table[((m_crc >> 24) ^ byte) & 0xff]; }

    std::uint32_t m_crc = 0;
    std::uint64_t m_length = 0;
};

std::uint32_t sampleChecksum(qsizetype count, bool oneLine)
{
    Sample sample(oneLine);
    PosixChecksum checksum;
    for (qsizetype done = 0; done < count; done += Piece)
        checksum.add(sample.next(std::min(Piece, count - done)));
    return checksum.value();
}

// --- measuring --------------------------------------------------------------

// Resets the peak resident memory the kernel keeps (VmHWM) to the resident
// memory now, so that an operation's peak is its own and not the fill's.
bool resetPeak()
{
    QFile clearRefs(u"/proc/self/clear_refs"_s);
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

double threadCpuMilliseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

void reportAs(const char *name, const char *figure, double value)
{
    report((QByteArray(name) + '_' + figure).constData(), value);
}

// Runs an operation on the window thread, the thread everything the box
// does runs on, and reports how long it held the thread ("_ms"), what of that
// was its own CPU time ("_cpu_ms": the rest is waiting, for the X server or
// another program) and how far it raised the peak resident memory ("_mb").
template<typename Operation>
void measured(const char *name, Operation operation)
{
    const bool reset = resetPeak();
    const std::int64_t before = ProcessStats::peakResidentBytes();
    const double cpuBefore = threadCpuMilliseconds();
    const auto start = Clock::now();
    operation();
    const double milliseconds = millisecondsSince(start);
    const double cpuMilliseconds = threadCpuMilliseconds() - cpuBefore;
    const std::int64_t after = ProcessStats::peakResidentBytes();
    reportAs(name, "ms", milliseconds);
    reportAs(name, "cpu_ms", cpuMilliseconds);
    reportAs(name, "mb", static_cast<double>(after - before) / 1e6);
    reportAs(name, "peak_reset", reset ? 1 : 0);
}

// A box in a window of its own, shown and with the focus, as the user has it.
void showBox(TextBox &box)
{
    box.resize(960, 640);
    box.show();
    if (!QTest::qWaitForWindowExposed(&box))
        throw std::runtime_error("the window was never shown");
    box.activateWindow();
    box.setFocus();
}

// Another program reading the clipboard, as a terminal user would with xclip,
// its output counted and checksummed by cksum on the way: the window thread
// keeps serving the X server meanwhile. `outsideGroup` moves the reader to
// the root memory control group first, so that what it holds is not charged
// to this process's group.
struct Reading
{
    qint64 bytes = -1;
    std::uint32_t checksum = 0;
};

Reading readClipboardElsewhere(bool outsideGroup)
{
    QString command = u"xclip -selection clipboard -o | cksum"_s;
    if (outsideGroup)
        command.prepend(u"echo $$ > /sys/fs/cgroup/memory/cgroup.procs && "_s);
    QProcess reader;
    reader.setStandardErrorFile(QProcess::nullDevice());
    reader.start(u"/bin/sh"_s, {u"-c"_s, command});
    if (!runUntil([&reader] { return reader.state() == QProcess::NotRunning; }, 900, 5)) {
        reader.kill();
        reader.waitForFinished(-1);
        return {};
    }
    const QList<QByteArray> fields = reader.readAllStandardOutput().simplified().split(' ');
    if (fields.size() < 2)
        return {};
    return {fields.at(1).toLongLong(), static_cast<std::uint32_t>(fields.at(0).toULongLong())};
}

// Another program holding `bytes` of text on the clipboard: xclip, fed by a
// pipe, which takes the clipboard only once it has read all of it. It stays
// in the foreground (-quiet) so that it ends with this object.
class ForeignClipboard
{
public:
    explicit ForeignClipboard(qint64 bytes)
    {
        bool taken = false;
        const QMetaObject::Connection watch =
            QObject::connect(QGuiApplication::clipboard(), &QClipboard::changed, [&taken](QClipboard::Mode mode) {
                taken = taken || mode == QClipboard::Clipboard;
            });
        m_source.setStandardOutputProcess(&m_holder);
        m_source.setStandardErrorFile(QProcess::nullDevice());
        m_holder.setStandardOutputFile(QProcess::nullDevice());
        m_holder.setStandardErrorFile(QProcess::nullDevice());
        m_source.start(u"/bin/sh"_s, {u"-c"_s, u"yes \"$0\" | head -c \"$1\""_s, QString::fromLatin1(ForeignLine),
                                      QString::number(bytes)});
        m_holder.start(u"xclip"_s, {u"-selection"_s, u"clipboard"_s, u"-i"_s, u"-quiet"_s});
        // Told by the X server (XFixes) when the clipboard changes owner;
        // nothing of the clipboard is read here, so that the first to ask
        // for its formats is the operation measured.
        const bool ready = runUntil([&taken] { return taken; }, 300, 10);
        QObject::disconnect(watch);
        if (!ready)
            throw std::runtime_error("xclip never took the clipboard");
    }

    ~ForeignClipboard()
    {
        for (QProcess *process : {&m_holder, &m_source}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(-1);
            }
        }
    }

    ForeignClipboard(const ForeignClipboard &) = delete;
    ForeignClipboard &operator=(const ForeignClipboard &) = delete;

private:
    QProcess m_source;
    QProcess m_holder;
};

// The largest text an accessibility event has carried.
qsizetype largestAnnounced = 0;
int announcements = 0;

void recordAnnouncement(QAccessibleEvent *event)
{
    qsizetype length = -1;
    if (const auto *update = dynamic_cast<QAccessibleTextUpdateEvent *>(event))
        length = std::max(update->textInserted().size(), update->textRemoved().size());
    else if (const auto *insertion = dynamic_cast<QAccessibleTextInsertEvent *>(event))
        length = insertion->textInserted().size();
    else if (const auto *removal = dynamic_cast<QAccessibleTextRemoveEvent *>(event))
        length = removal->textRemoved().size();
    if (length >= 0) {
        ++announcements;
        largestAnnounced = std::max(largestAnnounced, length);
    }
}

// --- children ---------------------------------------------------------------

// Ctrl+A, Ctrl+C; then another program reads what was copied.
int runCopy(qsizetype count)
{
    TextBox box;
    showBox(box);
    fill(box, count, false);
    settle();
    report("chars", static_cast<double>(box.Text().size()));
    measured("copy", [&box] {
        QTest::keySequence(&box, QKeySequence::SelectAll);
        QTest::keySequence(&box, QKeySequence::Copy);
    });
    report("owns_clipboard", QGuiApplication::clipboard()->ownsClipboard() ? 1 : 0);
    Reading reading;
    measured("read", [&reading] { reading = readClipboardElsewhere(false); });
    report("read_bytes", static_cast<double>(reading.bytes));
    report("read_exact", reading.bytes == count && reading.checksum == sampleChecksum(count, false) ? 1 : 0);
    return 0;
}

// The context menu while another program holds a large clipboard: the menu
// asks which formats it has, not for the text.
int runMenu(qsizetype count, qint64 foreignBytes)
{
    TextBox box;
    showBox(box);
    fill(box, count, false);
    settle();
    const ForeignClipboard foreign(foreignBytes);
    std::unique_ptr<QMenu> menu;
    measured("menu", [&] { menu = box.createContextMenu(); });
    const QList<QAction *> actions = menu->actions();
    const auto paste = std::find_if(actions.cbegin(), actions.cend(),
                                    [](const QAction *action) { return action->text().startsWith(u"&Paste"); });
    report("paste_found", paste != actions.cend() ? 1 : 0);
    report("paste_enabled", paste != actions.cend() && (*paste)->isEnabled() ? 1 : 0);
    return 0;
}

// Select all and Delete, then undo, with a listener for what assistive
// technology is told.
int runAnnounce(qsizetype count)
{
    TextBox box;
    showBox(box);
    fill(box, count, false);
    settle();
    QAccessible::installUpdateHandler(&recordAnnouncement);
    QAccessible::setActive(true);
    measured("delete", [&box] {
        QTest::keySequence(&box, QKeySequence::SelectAll);
        QTest::keyClick(&box, Qt::Key_Delete);
    });
    report("after_delete_chars", static_cast<double>(box.Text().size()));
    measured("undo", [&box] { box.undo(); });
    report("after_undo_exact", matchesSample(box.Text(), count, false) ? 1 : 0);
    report("largest_announced", static_cast<double>(largestAnnounced));
    report("announcements", announcements);
    return 0;
}

// The line at the caret, as a screen reader asks for it, with the caret in
// the middle of the text.
int runLine(qsizetype count, bool oneLine)
{
    TextBox box;
    showBox(box);
    fill(box, count, oneLine);
    settle();
    box.setCursorPosition(count / 2);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&box);
    QAccessibleTextInterface *text = accessible ? accessible->textInterface() : nullptr;
    if (!text)
        throw std::runtime_error("the box has no accessible text");
    QString line;
    int start = -1;
    int end = -1;
    measured("line", [&] { line = text->textAtOffset(text->cursorPosition(), QAccessible::LineBoundary, &start, &end); });
    report("line_length", static_cast<double>(line.size()));
    report("line_start", start);
    report("line_end", end);
    report("line_exact", start >= 0 && line == box.Text().mid(start, end - start) ? 1 : 0);
    return 0;
}

// A paste of another program's clipboard that would take the text past the
// budget: refused whole.
int runPaste(qsizetype count, qint64 foreignBytes)
{
    TextBox box;
    showBox(box);
    fill(box, count, false);
    settle();
    const ForeignClipboard foreign(foreignBytes);
    box.setMemoryBudget(TextValue::bytesInUse() + 4 * Piece);
    bool refused = false;
    QObject::connect(&box, &TextBox::editRefused, [&refused] { refused = true; });
    const TextValue before = box.Text();
    measured("paste", [&box] { box.paste(); });
    report("edit_refused", refused ? 1 : 0);
    report("unchanged", box.Text() == before && matchesSample(box.Text(), count, false) ? 1 : 0);
    return 0;
}

// The box filled within its budget in a control group, then select all,
// copy, and another program asks for it all: the copy must be refused
// rather than take the process past its limit, and the text stay whole.
int runGroup()
{
    TextBox box;
    showBox(box);
    const qsizetype budget = box.memoryBudget();
    report("budget_mb", static_cast<double>(budget) / 1e6);
    const auto nearlyFull = [&box, budget] { return box.isFull() || TextValue::bytesInUse() >= budget / 10 * 9; };
    Sample sample(false);
    qsizetype count = 0;
    const auto start = Clock::now();
    for (;;) {
        // What is not compressed yet counts whole: wait for it before
        // calling the box full.
        if (nearlyFull()) {
            settle();
            if (nearlyFull())
                break;
        }
        box.setText(box.Text() + QString::fromLatin1(sample.next(Piece)));
        count += Piece;
    }
    report("fill_s", millisecondsSince(start) / 1000);
    report("chars", static_cast<double>(box.Text().size()));
    report("storage_mb", static_cast<double>(TextValue::bytesInUse()) / 1e6);
    report("full", box.isFull() ? 1 : 0);

    bool refused = false;
    QObject::connect(&box, &TextBox::transferRefused, [&refused](qsizetype) { refused = true; });
    measured("copy", [&box] {
        QTest::keySequence(&box, QKeySequence::SelectAll);
        QTest::keySequence(&box, QKeySequence::Copy);
    });
    Reading reading;
    measured("read", [&reading] { reading = readClipboardElsewhere(true); });
    // The refusal is said from the event loop, after the request.
    runUntil([&refused] { return refused; }, 2, 10);
    report("read_bytes", static_cast<double>(reading.bytes));
    report("read_exact", reading.bytes == count && reading.checksum == sampleChecksum(count, false) ? 1 : 0);
    report("transfer_refused", refused ? 1 : 0);
    report("text_exact", matchesSample(box.Text(), count, false) ? 1 : 0);
    report("peak_rss_mb", static_cast<double>(ProcessStats::peakResidentBytes()) / 1e6);
    return 0;
}

int runChild(int argc, char **argv)
{
    QApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString row = arguments.value(2);
    const auto count = static_cast<qsizetype>(arguments.value(3).toDouble());
    const auto foreignBytes = static_cast<qint64>(arguments.value(4).toDouble());
    try {
        if (row == u"copy")
            return runCopy(count);
        if (row == u"menu")
            return runMenu(count, foreignBytes);
        if (row == u"announce")
            return runAnnounce(count);
        if (row == u"line")
            return runLine(count, arguments.value(4) == u"one-line");
        if (row == u"paste")
            return runPaste(count, foreignBytes);
        if (row == u"group")
            return runGroup();
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "%s: %s\n", program, failure.what());
        return 1;
    }
    std::fprintf(stderr, "%s: unknown run \"%s\"\n", program, qPrintable(row));
    return 2;
}

// --- the parent -------------------------------------------------------------

// Starts the accessibility bus the way a desktop does, by asking the session
// bus for it (D-Bus activation); whether it answered.
bool startAccessibilityBus()
{
    if (QStandardPaths::findExecutable(u"dbus-send"_s).isEmpty() || !qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    const auto start = Clock::now();
    while (millisecondsSince(start) < 30'000) {
        QProcess ask;
        ask.setStandardOutputFile(QProcess::nullDevice());
        ask.setStandardErrorFile(QProcess::nullDevice());
        ask.start(u"dbus-send"_s, {u"--session"_s, u"--print-reply"_s, u"--dest=org.a11y.Bus"_s, u"/org/a11y/bus"_s,
                                   u"org.a11y.Bus.GetAddress"_s});
        if (ask.waitForFinished(10'000) && ask.exitStatus() == QProcess::NormalExit && ask.exitCode() == 0)
            return true;
        ::usleep(100'000);
    }
    return false;
}

// A row with Qt's accessibility switched on for the platform, as a screen
// reader's presence does.
std::optional<Figures> runAccessible(const QStringList &arguments)
{
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    std::optional<Figures> figures = runInChild(program, arguments);
    qunsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    return figures;
}

const char *yesNo(double value)
{
    return value == 1 ? "yes" : "NO";
}

bool peakWasReset = true;

// One line of the table: the window thread's time and the peak's growth.
void printOperation(const char *label, const std::optional<Figures> &figures, const char *name, const QString &notes)
{
    const QString key = QString::fromLatin1(name);
    std::printf("%-46s %9.2f %9.2f %9.1f   %s\n", label, figure(figures, key + u"_ms"_s),
                figure(figures, key + u"_cpu_ms"_s), figure(figures, key + u"_mb"_s), qPrintable(notes));
    peakWasReset = peakWasReset && figure(figures, key + u"_peak_reset"_s) != 0;
}

// The row in a memory control group of its own (cgroup v1, as root).
void runGroupRow(qint64 limit)
{
    const std::optional<GroupRun> run = BenchSupport::runInMemoryGroup(program, limit, {u"group"_s});
    if (!run)
        return;
    const bool lived = run->lived;
    const Figures &figures = run->figures;
    const std::optional<Figures> row = lived ? std::optional<Figures>(figures) : std::nullopt;
    const double readBytes = figure(row, u"read_bytes"_s);
    const char *received = readBytes == 0 ? "nothing"
        : figure(row, u"read_exact"_s) == 1 ? "the text, exactly"
        : readBytes > 0                      ? "something else"
                                             : "no answer";
    std::printf("limit %.0f MiB: lived %s (exit %d, kills by the kernel %d); budget %.0f MB, filled %.0f M chars\n"
                "(storage %.0f MB, full %s) in %.1f s; copy %.1f ms, +%.1f MB; the reader got %s (%.0f bytes)\n"
                "in %.0f ms, +%.1f MB; transferRefused %s; text exact %s; peak RSS %.0f MB, group peak %.0f MiB\n",
                static_cast<double>(limit) / 1024 / 1024, yesNo(lived ? 1 : 0), run->exitCode, run->kills,
                figure(row, u"budget_mb"_s), figure(row, u"chars"_s) / 1e6, figure(row, u"storage_mb"_s),
                yesNo(figure(row, u"full"_s)), figure(row, u"fill_s"_s), figure(row, u"copy_ms"_s),
                figure(row, u"copy_mb"_s), received, readBytes, figure(row, u"read_ms"_s), figure(row, u"read_mb"_s),
                yesNo(figure(row, u"transfer_refused"_s)), yesNo(figure(row, u"text_exact"_s)),
                figure(row, u"peak_rss_mb"_s), run->peakMib);
}

int runAll(bool quick)
{
    const double scale = quick ? 0.1 : 1;
    const auto count = static_cast<qsizetype>(200e6 * scale);
    const auto foreignBytes = static_cast<qint64>(200e6 * scale);
    const QString chars = QString::number(count);
    const QString foreign = QString::number(foreignBytes);

    std::printf("\nlinewatch transfer benchmark%s: a text box of %.0f M characters (80-char readings)\n"
                "handing text over, on X server %s\n",
                quick ? " (--quick)" : "", static_cast<double>(count) / 1e6, qgetenv("DISPLAY").constData());
    const std::optional<Figures> copy = runInChild(program, {u"copy"_s, chars});
    const std::optional<Figures> menu = runInChild(program, {u"menu"_s, chars, foreign});
    const bool accessibilityBus = startAccessibilityBus();
    const std::optional<Figures> announce = runAccessible({u"announce"_s, chars});
    const std::optional<Figures> oneLine = runAccessible({u"line"_s, chars, u"one-line"_s});
    const std::optional<Figures> readings = runAccessible({u"line"_s, chars, u"readings"_s});
    const std::optional<Figures> paste = runInChild(program, {u"paste"_s, chars, foreign});

    const double foreignMb = static_cast<double>(foreignBytes) / 1e6;
    std::printf("%-46s %9s %9s %9s\n", "operation", "ms", "cpu ms", "peak +MB");
    printOperation("1 copy (Ctrl+A, Ctrl+C)", copy, "copy",
                   u"clipboard owned %1"_s.arg(QLatin1StringView(yesNo(figure(copy, u"owns_clipboard"_s)))));
    printOperation("2 another program reads it (xclip -o)", copy, "read",
                   u"%1 bytes received, exact %2"_s.arg(figure(copy, u"read_bytes"_s), 0, 'f', 0)
                       .arg(QLatin1StringView(yesNo(figure(copy, u"read_exact"_s)))));
    printOperation(qPrintable(u"3 context menu, %1 MB held by xclip"_s.arg(foreignMb, 0, 'f', 0)), menu, "menu",
                   u"Paste enabled %1"_s.arg(QLatin1StringView(yesNo(figure(menu, u"paste_enabled"_s)))));
    printOperation("4 select all + Delete, a listener on", announce, "delete",
                   u"%1 chars left"_s.arg(figure(announce, u"after_delete_chars"_s), 0, 'f', 0));
    printOperation("  undo", announce, "undo",
                   u"text back exactly %1; largest announced %2 chars (%3 events)"_s
                       .arg(QLatin1StringView(yesNo(figure(announce, u"after_undo_exact"_s))))
                       .arg(figure(announce, u"largest_announced"_s), 0, 'f', 0)
                       .arg(figure(announce, u"announcements"_s), 0, 'f', 0));
    for (const auto &[label, figures] : {std::pair{"5 line at the caret, one line", &oneLine},
                                         std::pair{"  line at the caret, readings", &readings}}) {
        printOperation(label, *figures, "line",
                       u"%1 chars returned (%2..%3), as in the text %4"_s
                           .arg(figure(*figures, u"line_length"_s), 0, 'f', 0)
                           .arg(figure(*figures, u"line_start"_s), 0, 'f', 0)
                           .arg(figure(*figures, u"line_end"_s), 0, 'f', 0)
                           .arg(QLatin1StringView(yesNo(figure(*figures, u"line_exact"_s)))));
    }
    printOperation(qPrintable(u"6 paste %1 MB from xclip past the budget"_s.arg(foreignMb, 0, 'f', 0)), paste, "paste",
                   u"text unchanged %1, editRefused %2"_s
                       .arg(QLatin1StringView(yesNo(figure(paste, u"unchanged"_s))),
                            QLatin1StringView(yesNo(figure(paste, u"edit_refused"_s)))));
    std::printf("ms: how long the operation held the window thread (for the read, until the other\n"
                "program had it all); cpu ms: the window thread's own CPU time in that while; peak +MB:\n"
                "how far the process's peak resident memory rose (%s).\n",
                peakWasReset ? "the peak reset before each operation" : "NOT reset: growth past the fill's peak");
    if (!accessibilityBus)
        std::printf("The accessibility bus did not start: rows 4 and 5 ran without it.\n");
    std::printf("Target: each operation within a few MB and a frame (16 ms), apart from what another\n"
                "program asks for.\n");

    std::printf("\nA full box: a program in a memory control group fills its box with readings until\n"
                "it is full (or its storage is at 90%% of the budget), selects all and copies; another\n"
                "program (xclip, outside the group) asks for the copy.\n");
    runGroupRow(qint64(256) * 1024 * 1024);
    std::printf("Target: it lives, the reader gets the text exactly or nothing (transferRefused), and\n"
                "the text stays exactly what was filled.\n");
    return 0;
}

// The clipboard belongs to an X server: without one (or on another
// platform) the program starts itself again on a server of its own, with a
// session bus for the accessibility bus. Nothing when it goes on as it is;
// the exit status otherwise.
std::optional<int> startOnXServer(int argc, char **argv)
{
    if ((argc >= 2 && std::strcmp(argv[1], "--run") == 0) || qEnvironmentVariableIsSet(OnOwnServer))
        return std::nullopt;
    if (qEnvironmentVariableIsSet("DISPLAY") && qgetenv("QT_QPA_PLATFORM") == "xcb")
        return std::nullopt;
    qputenv(OnOwnServer, "1");
    qputenv("QT_QPA_PLATFORM", "xcb");
    std::vector<char *> command{const_cast<char *>("xvfb-run"), const_cast<char *>("--auto-servernum"),
                                const_cast<char *>("--server-args=-screen 0 1280x1024x24"),
                                const_cast<char *>("dbus-run-session"), const_cast<char *>("--")};
    command.insert(command.end(), argv, argv + argc);
    command.push_back(nullptr);
    ::execvp(command.front(), command.data());
    std::fprintf(stderr, "%s: no X server (DISPLAY with QT_QPA_PLATFORM=xcb), and xvfb-run could not start: %s\n",
                 program, std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = startOnXServer(argc, argv))
        return *status;
    return BenchSupport::rowsMain(argc, argv, program, runChild, runAll);
}
