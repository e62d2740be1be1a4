#pragma once

#include <chrono>

#include <ctime>

// CPU time the whole process (every thread) has used, in seconds.
inline double processCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The CPU the process used, and the wall-clock time that went by, since this
// was made: for the tests that check that waiting on a line costs nothing.
class CpuUse
{
public:
    double cpuSeconds() const { return processCpuSeconds() - m_cpu; }
    double wallSeconds() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_wall).count();
    }

private:
    double m_cpu = processCpuSeconds();
    std::chrono::steady_clock::time_point m_wall = std::chrono::steady_clock::now();
};
