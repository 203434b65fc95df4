// Windows: the working set and its peak from GetProcessMemoryInfo (the peak cannot be
// reset), the thread's CPU time from GetThreadTimes.
#include "process_stats.h"

#include <windows.h>
#include <psapi.h>

namespace process_stats {

namespace {

PROCESS_MEMORY_COUNTERS Counters() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters;
}

double Seconds(const FILETIME& time) {
    const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return static_cast<double>(ticks) / 1e7;  // 100-nanosecond units
}

}  // namespace

std::uint64_t ResidentBytes() { return Counters().WorkingSetSize; }

PeakMemory::PeakMemory() {
    const PROCESS_MEMORY_COUNTERS counters = Counters();
    StartResident = counters.WorkingSetSize;
    StartPeak = counters.PeakWorkingSetSize;
}

std::uint64_t PeakMemory::Growth() const {
    const std::uint64_t peak = Counters().PeakWorkingSetSize;
    return peak > StartPeak && peak > StartResident ? peak - StartResident : 0;
}

double ThreadCpuSeconds() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    return Seconds(kernel) + Seconds(user);
}

}  // namespace process_stats
