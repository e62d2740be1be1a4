#pragma once

#include "ByteStream.h"
#include "SampleText.h"
#include "TextPattern.h"

#include <sys/types.h>

#include <cstdint>

// The far end of the line in a process of its own: it writes to a
// pseudo-terminal's master while the program under measurement reads the
// slave. A separate process keeps the writer's CPU time out of the figures
// of the process being measured, and it is exec'd afresh (not merely forked)
// so that the measured process pays no copy-on-write faults for it.
//
// The two share one page: how many bytes the kernel has taken so far, and a
// stop request. The writer is killed when the thread that started it ends,
// so that it never outlives a process the kernel killed.
class DeviceWriter
{
public:
    enum class Content : int {
        Lines,    // printable text in 80-character "\r\n" lines
        NoBreaks, // printable text, never a line break
        Bytes,    // every byte value, in random-length "\r\n" lines
        Constant, // "T=21.50\r\n" over and over: a stuck sensor
        Readings, // a sensor's numbered 80-character lines of drifting measurements (SampleText)
    };

    // The bytes a writer of the content sends, from a position in its
    // stream on. The writer sends them and a receiver makes the same bytes
    // again to check what it was shown, byte for byte, without a copy of
    // what was sent. Random bytes and readings come from a generator that
    // can only go forwards: a position past the start is reached by making
    // and dropping what lies before it.
    class Stream
    {
    public:
        static constexpr char ConstantLine[] = "T=21.50\r\n";
        static constexpr std::int64_t ConstantLineLength = sizeof ConstantLine - 1;

        explicit Stream(Content content, std::int64_t position = 0);

        // The next `count` bytes.
        void generate(char *out, std::int64_t count);
        std::int64_t position() const { return m_position; }

    private:
        Content m_content;
        std::int64_t m_position = 0; // the next byte's
        TextPattern m_pattern;
        ByteStream m_bytes;
        SampleText m_readings{SampleText::Kind::Readings};
    };

    struct Options
    {
        Content content = Content::Bytes;
        // Where in the content's stream to start, to continue what is shown.
        std::int64_t startPosition = 0;
        // Bytes per second; 0 writes as fast as the line takes them.
        std::int64_t rate = 0;
        // Bytes per write(); paced writes come this many at a time.
        std::int64_t burst = 16384;
        // Stops after this many bytes; 0 for no limit.
        std::int64_t limit = 0;
        // Stops after this long; 0 for no limit.
        double seconds = 0;
    };

    DeviceWriter(int masterFd, const Options &options);
    ~DeviceWriter();
    DeviceWriter(const DeviceWriter &) = delete;
    DeviceWriter &operator=(const DeviceWriter &) = delete;

    // Bytes the line has taken so far.
    std::uint64_t written() const;

    // Asks the writer to stop after the write in progress.
    void stop();

    // Whether it has ended (reaps it if so); does not block.
    bool finished();
    void wait();

    // CPU the writer used, known once it has ended.
    double cpuSeconds() const { return m_cpuSeconds; }

    // The writer's own entry: main() hands over when argv[1] asks for it.
    static bool isWriterInvocation(int argc, char **argv);
    static int writerMain(int argc, char **argv);

private:
    struct Shared;

    void reaped(int status, const struct rusage &usage);

    Shared *m_shared = nullptr;
    pid_t m_pid = -1;
    double m_cpuSeconds = 0;
};
