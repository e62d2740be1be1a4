#include "DeviceWriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr const char *WriterFlag = "--device-writer";
// Where the writer finds the line and the shared page.
constexpr int WriterMasterFd = 3;
constexpr int WriterSharedFd = 4;

[[noreturn]] void fail(const char *what)
{
    throw std::runtime_error(std::string("DeviceWriter: ") + what + ": " + std::strerror(errno));
}

double seconds(const timeval &time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

timespec plus(timespec time, double seconds)
{
    const auto whole = static_cast<time_t>(seconds);
    time.tv_sec += whole;
    time.tv_nsec += static_cast<long>((seconds - static_cast<double>(whole)) * 1e9);
    if (time.tv_nsec >= 1000000000L) {
        time.tv_nsec -= 1000000000L;
        ++time.tv_sec;
    }
    return time;
}

bool before(const timespec &a, const timespec &b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

} // namespace

DeviceWriter::Stream::Stream(Content content, std::int64_t position)
    : m_content(content)
    , m_pattern(content == Content::Lines, content == Content::Lines || content == Content::NoBreaks ? position : 0)
{
    if (content == Content::Bytes || content == Content::Readings) {
        std::vector<char> dropped(1 << 16);
        while (m_position < position)
            generate(dropped.data(), std::min<std::int64_t>(position - m_position, std::ssize(dropped)));
    }
    m_position = position;
}

void DeviceWriter::Stream::generate(char *out, std::int64_t count)
{
    switch (m_content) {
    case Content::Lines:
    case Content::NoBreaks:
        m_pattern.generate(out, count);
        break;
    case Content::Bytes:
        m_bytes.generate(out, static_cast<std::size_t>(count));
        break;
    case Content::Constant:
        for (std::int64_t i = 0; i < count; ++i)
            out[i] = ConstantLine[(m_position + i) % ConstantLineLength];
        break;
    case Content::Readings: {
        const QByteArray readings = m_readings.next(count);
        std::memcpy(out, readings.constData(), static_cast<std::size_t>(count));
        break;
    }
    }
    m_position += count;
}

struct DeviceWriter::Shared
{
    std::atomic<std::uint64_t> written{0};
    std::atomic<int> stop{0};
};

DeviceWriter::DeviceWriter(int masterFd, const Options &options)
{
    const int sharedFd = ::memfd_create("linewatch-bench-writer", MFD_CLOEXEC);
    if (sharedFd < 0)
        fail("memfd_create");
    if (::ftruncate(sharedFd, sizeof(Shared)) != 0) {
        ::close(sharedFd);
        fail("ftruncate");
    }
    void *page = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, sharedFd, 0);
    if (page == MAP_FAILED) {
        ::close(sharedFd);
        fail("mmap");
    }
    m_shared = new (page) Shared;

    std::vector<std::string> arguments = {
        "bench-device-writer",
        WriterFlag,
        std::to_string(static_cast<int>(options.content)),
        std::to_string(options.startPosition),
        std::to_string(options.rate),
        std::to_string(options.burst),
        std::to_string(options.limit),
        std::to_string(options.seconds),
        std::to_string(::getpid()),
    };
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // dup2 clears close-on-exec on the copies, which is all the writer inherits.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, masterFd, WriterMasterFd);
    posix_spawn_file_actions_adddup2(&actions, sharedFd, WriterSharedFd);
    const int spawned = ::posix_spawn(&m_pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sharedFd);
    if (spawned != 0) {
        errno = spawned;
        ::munmap(m_shared, sizeof(Shared));
        fail("posix_spawn");
    }
}

DeviceWriter::~DeviceWriter()
{
    stop();
    wait();
    ::munmap(m_shared, sizeof(Shared));
}

std::uint64_t DeviceWriter::written() const
{
    return m_shared->written.load(std::memory_order_acquire);
}

void DeviceWriter::stop()
{
    m_shared->stop.store(1, std::memory_order_release);
}

bool DeviceWriter::finished()
{
    if (m_pid < 0)
        return true;
    int status = 0;
    struct rusage usage{};
    const pid_t done = ::wait4(m_pid, &status, WNOHANG, &usage);
    if (done == m_pid)
        reaped(status, usage);
    return m_pid < 0;
}

void DeviceWriter::wait()
{
    while (m_pid >= 0) {
        int status = 0;
        struct rusage usage{};
        const pid_t done = ::wait4(m_pid, &status, 0, &usage);
        if (done == m_pid)
            reaped(status, usage);
        else if (done < 0 && errno != EINTR)
            m_pid = -1;
    }
}

void DeviceWriter::reaped(int status, const struct rusage &usage)
{
    m_pid = -1;
    m_cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "device writer ended abnormally (status %d)\n", status);
}

bool DeviceWriter::isWriterInvocation(int argc, char **argv)
{
    return argc >= 2 && std::strcmp(argv[1], WriterFlag) == 0;
}

int DeviceWriter::writerMain(int argc, char **argv)
{
    if (argc != 9)
        return 2;
    // A writer outlives a process the kernel killed (out of memory, say)
    // unless told: it would go on writing to a line nobody reads, and keep
    // the process's control group from being removed.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != static_cast<pid_t>(std::atoll(argv[8])))
        return 5;
    const auto content = static_cast<Content>(std::atoi(argv[2]));
    const std::int64_t startPosition = std::atoll(argv[3]);
    const std::int64_t rate = std::atoll(argv[4]);
    const std::int64_t burst = std::max<std::int64_t>(1, std::atoll(argv[5]));
    const std::int64_t limit = std::atoll(argv[6]);
    const double duration = std::atof(argv[7]);

    void *page = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, WriterSharedFd, 0);
    if (page == MAP_FAILED)
        return 3;
    auto *shared = static_cast<Shared *>(page);

    Stream stream(content, startPosition);
    std::vector<char> buffer(static_cast<std::size_t>(burst));

    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const timespec end = plus(start, duration);
    std::int64_t total = 0;
    for (std::int64_t count = 0;; ++count) {
        if (shared->stop.load(std::memory_order_acquire) != 0)
            break;
        std::int64_t size = burst;
        if (limit > 0)
            size = std::min(size, limit - total);
        if (size <= 0)
            break;
        if (rate > 0) {
            // Due times come from the start, so pacing does not drift with
            // how long each write took.
            const timespec due = plus(start, static_cast<double>(count * burst) / static_cast<double>(rate));
            while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
            }
        }
        if (duration > 0) {
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            if (!before(now, end))
                break;
        }
        stream.generate(buffer.data(), size);
        const char *data = buffer.data();
        auto left = static_cast<std::size_t>(size);
        while (left > 0) {
            const ssize_t done = ::write(WriterMasterFd, data, left);
            if (done < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN) {
                    ::usleep(1000);
                    continue;
                }
                return 4;
            }
            data += done;
            left -= static_cast<std::size_t>(done);
            shared->written.fetch_add(static_cast<std::uint64_t>(done), std::memory_order_release);
        }
        total += size;
    }
    return 0;
}
