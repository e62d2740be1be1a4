#pragma once

#include <cstdint>

// What the kernel says this process uses, for figures that must be measured
// rather than estimated.
namespace ProcessStats {

// Resident set size now, in bytes (/proc/self/statm).
std::int64_t residentBytes();

// The peak resident set size so far, in bytes (VmHWM in /proc/self/status).
std::int64_t peakResidentBytes();

// CPU time used by every thread of this process, in seconds.
double cpuSeconds();

// A monotonic clock, in seconds, for wall time beside cpuSeconds().
double wallSeconds();

} // namespace ProcessStats
