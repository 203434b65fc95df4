// What the test process spends: its peak resident memory and its threads' CPU time. One
// implementation per OS (process_posix.cpp, process_windows.cpp, chosen by CMake).
#pragma once

#include <cstdint>

namespace process_stats {

// The resident memory of the process now, in bytes.
std::uint64_t ResidentBytes();

// A measurement of peak resident memory from its construction on.
class PeakMemory {
public:
    PeakMemory();
    // The bytes by which the peak passed the resident size at the start. On Linux the peak is
    // reset at the start, so this is exact. Windows keeps one peak for the life of the
    // process: the answer is exact when that peak was passed, 0 when it was not (the
    // measured stretch then stayed below an earlier peak).
    std::uint64_t Growth() const;

private:
    std::uint64_t StartResident = 0;
    std::uint64_t StartPeak = 0;
};

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds();

}  // namespace process_stats
