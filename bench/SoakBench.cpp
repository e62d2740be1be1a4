// A long receive at the line's full speed through the real Form1, text box
// and serial control over a pseudo-terminal: does everything sent get shown,
// and do memory and CPU stay where they should, over one open period?
//
// The device is a writer process sending every byte value in random-length
// "\r\n" lines, so its CPU stays out of this process's figures.
//
// At full speed a few minutes bring more text than memory holds, so the
// soak empties Text1 whenever it holds --empty-every characters (200 M), as
// setting its text to "" would, after checking those characters against
// what the device sent; the check's CPU is told apart in the figures. With
// --empty-every 0 Text1 keeps everything and the device stops at
// --max-chars.

#include "BenchSupport.h"
#include "ByteStream.h"
#include "DeviceWriter.h"
#include "MonitorRig.h"
#include "OnCommProbe.h"
#include "ProcessStats.h"
#include "SerialControl.h"
#include "TextBox.h"
#include "TextValue.h"

#include <QtCore/QEventLoop>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstring>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

struct Options
{
    double seconds = 600;
    std::int64_t rate = 0;
    // 1 G characters is 2 GB of text; past it the device falls silent
    // and the rest of the period runs idle.
    std::int64_t maxChars = 1000000000;
    // 0: never (the device stops at maxChars); otherwise it runs unlimited.
    std::int64_t emptyEvery = 200000000;
};

class Soak
{
public:
    explicit Soak(const Options &options)
        : m_options(options)
        , m_rig([this](SerialControl &control) { m_probe.connectBefore(control); })
    {
        m_probe.connectAfter(m_rig.comm1(), m_rig.text1());
    }

    int run()
    {
        m_rig.show();
        m_rig.open();
        m_opening = m_rig.text1().Text().mid(0, m_rig.text1().Text().size());

        const QString rate = m_options.rate > 0 ? u"%1 bytes/s"_s.arg(m_options.rate) : u"unlimited"_s;
        if (m_options.emptyEvery > 0) {
            std::printf("bench_soak: %.0f s, rate %s, Text1 checked and emptied at %lld characters "
                        "(--empty-every)\n",
                        m_options.seconds, qPrintable(rate), static_cast<long long>(m_options.emptyEvery));
        } else {
            std::printf("bench_soak: %.0f s, rate %s, device stops at %lld characters (--max-chars)\n",
                        m_options.seconds, qPrintable(rate), static_cast<long long>(m_options.maxChars));
        }
        std::printf("%8s %12s %12s %10s %9s %9s %8s %8s %10s\n", "s", "received MB", "shown MB", "behind KB",
                    "peak MB", "RSS MB", "CPU %", "CPU % all", "OnComm");
        std::fflush(stdout);

        DeviceWriter::Options writing;
        writing.content = DeviceWriter::Content::Bytes;
        writing.rate = m_options.rate;
        writing.burst = m_options.rate > 0 ? std::max<std::int64_t>(1, std::min<std::int64_t>(16384, m_options.rate / 100)) : 16384;
        writing.limit = m_options.emptyEvery > 0 ? 0 : m_options.maxChars;
        m_residentStart = ProcessStats::residentBytes();
        m_wallStart = ProcessStats::wallSeconds();
        m_cpuStart = ProcessStats::cpuSeconds();
        m_lastWall = m_wallStart;
        m_lastCpu = m_cpuStart;
        DeviceWriter writer(m_rig.line().masterFd(), writing);

        QEventLoop loop;
        QTimer every10s;
        every10s.setTimerType(Qt::PreciseTimer);
        every10s.setInterval(10000);
        QObject::connect(&every10s, &QTimer::timeout, &loop, [&] {
            if (!m_limitNoted && writer.finished()) {
                m_limitNoted = true;
                std::printf("note: the device stopped after %llu bytes: the text reached --max-chars\n",
                            static_cast<unsigned long long>(writer.written()));
            }
            printRow(writer.written());
        });
        QTimer emptying;
        emptying.setInterval(50);
        QObject::connect(&emptying, &QTimer::timeout, &loop, [&] {
            if (shownNow() >= m_options.emptyEvery)
                checkAndEmpty();
        });
        QTimer::singleShot(static_cast<int>(m_options.seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        every10s.start();
        if (m_options.emptyEvery > 0)
            emptying.start();
        loop.exec();
        every10s.stop();
        emptying.stop();

        // The device stops; whatever is still on the line is read and shown.
        writer.stop();
        const bool drained = BenchSupport::runUntil(
            [&] { return writer.finished() && shown() >= static_cast<qsizetype>(writer.written()); }, 120, 10);
        const auto received = static_cast<qsizetype>(writer.written());
        std::printf("end (device stopped, line drained%s):\n", drained ? "" : " - TIMED OUT");
        printRow(writer.written());

        const qsizetype stored = m_rig.text1().Text().size();
        const std::int64_t resident = ProcessStats::residentBytes();
        const qsizetype shownChars = shown();
        const bool same = shownChars == received;
        checkAndEmpty();
        const bool identical = same && m_allMatch;
        std::printf("bytes received (written by the device): %lld\n", static_cast<long long>(received));
        std::printf("bytes shown (Text1's characters after \"Text1\\r\\n\", with those emptied): %lld\n",
                    static_cast<long long>(shownChars));
        std::printf("shown == received: %s; content identical: %s\n", same ? "yes" : "no",
                    identical ? "yes" : "no");
        std::printf("peak memory (VmHWM): %.0f MB\n", static_cast<double>(ProcessStats::peakResidentBytes()) / 1e6);
        if (m_options.emptyEvery == 0) {
            std::printf("resident growth since the port opened per character in Text1: %.2f bytes\n",
                        static_cast<double>(resident - m_residentStart)
                            / static_cast<double>(std::max<qsizetype>(1, stored)));
        }
        const double wall = ProcessStats::wallSeconds() - m_wallStart;
        const double cpu = ProcessStats::cpuSeconds() - m_cpuStart;
        std::printf("CPU: this process %.1f %% of one core over %.1f s (%.1f %% without the soak's own "
                    "checking, %.1f s of it); the writer process %.1f %%\n",
                    100 * cpu / wall, wall, 100 * (cpu - m_checkCpu) / wall, m_checkCpu,
                    100 * writer.cpuSeconds() / wall);
        if (m_options.emptyEvery > 0)
            std::printf("Text1 was checked and emptied %d times\n", m_emptied);
        std::printf("average throughput: %.2f MB/s; OnComm events: %lld; message boxes: %d\n",
                    static_cast<double>(received) / wall / 1e6, m_probe.events(), m_rig.host().messageCount());
        return same ? 0 : 1;
    }

private:
    // Characters shown since the port opened: those in Text1 now after its
    // opening text, and those checked and emptied before.
    qsizetype shownNow() { return m_rig.text1().Text().size() - m_opening.size(); }
    qsizetype shown() { return m_checked + shownNow(); }

    // Checks what Text1 holds against the device's next bytes, then empties
    // it (past the first time there is no opening text left).
    void checkAndEmpty()
    {
        const double cpuBefore = ProcessStats::cpuSeconds();
        const TextValue text = m_rig.text1().Text();
        const qsizetype count = text.size() - m_opening.size();
        m_allMatch = m_allMatch && text.mid(0, m_opening.size()) == m_opening
            && BenchSupport::matchesByteStream(text, m_opening.size(), count, m_expected);
        m_checked += count;
        m_rig.text1().setText(TextValue());
        m_opening.clear();
        ++m_emptied;
        m_checkCpu += ProcessStats::cpuSeconds() - cpuBefore;
    }

    void printRow(std::uint64_t received)
    {
        const double wall = ProcessStats::wallSeconds();
        const double cpu = ProcessStats::cpuSeconds();
        const qsizetype shownChars = shown();
        std::printf("%8.1f %12.1f %12.1f %10.1f %9.0f %9.0f %8.1f %8.1f %10lld\n", wall - m_wallStart,
                    static_cast<double>(received) / 1e6, static_cast<double>(shownChars) / 1e6,
                    (static_cast<double>(received) - static_cast<double>(shownChars)) / 1e3,
                    static_cast<double>(ProcessStats::peakResidentBytes()) / 1e6,
                    static_cast<double>(ProcessStats::residentBytes()) / 1e6,
                    100 * (cpu - m_lastCpu) / (wall - m_lastWall), 100 * (cpu - m_cpuStart) / (wall - m_wallStart),
                    m_probe.events());
        std::fflush(stdout);
        m_lastWall = wall;
        m_lastCpu = cpu;
    }

    Options m_options;
    OnCommProbe m_probe; // before the rig: its slot must be connected ahead of Form1's
    MonitorRig m_rig;
    QString m_opening;
    ByteStream m_expected;
    qsizetype m_checked = 0;
    bool m_allMatch = true;
    int m_emptied = 0;
    double m_checkCpu = 0;
    std::int64_t m_residentStart = 0;
    double m_wallStart = 0;
    double m_cpuStart = 0;
    double m_lastWall = 0;
    double m_lastCpu = 0;
    bool m_limitNoted = false;
};

} // namespace

int main(int argc, char *argv[])
{
    if (const std::optional<int> writer = BenchSupport::startAsWriter(argc, argv))
        return *writer;
    QApplication application(argc, argv);

    Options options;
    const QStringList arguments = QCoreApplication::arguments();
    // Each option takes the value after it.
    for (qsizetype i = 1; i < arguments.size(); i += 2) {
        const QString &argument = arguments.at(i);
        bool ok = i + 1 < arguments.size();
        const QString value = arguments.value(i + 1);
        if (argument == u"--seconds" && ok)
            options.seconds = value.toDouble(&ok);
        else if (argument == u"--rate" && ok)
            options.rate = value.toLongLong(&ok);
        else if (argument == u"--max-chars" && ok)
            options.maxChars = value.toLongLong(&ok);
        else if (argument == u"--empty-every" && ok)
            options.emptyEvery = value.toLongLong(&ok);
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "usage: bench_soak [--seconds N] [--rate BYTES_PER_S] [--max-chars N] "
                                 "[--empty-every N]\n");
            return 2;
        }
    }
    try {
        Soak soak(options);
        return soak.run();
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "bench_soak: %s\n", failure.what());
        return 1;
    }
}
